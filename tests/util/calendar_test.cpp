#include "util/calendar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace remoteccm {
namespace {

TEST(CalendarTest, EncodesOrdinaryDatesAndRejectsInvalidOnes) {
  EXPECT_EQ(EncodeDateAny(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDateAny(1970, 1, 1), kUnixEpochDate);
  EXPECT_EQ(EncodeDateAny(1, 1, 1), kFirstOrdinaryDate);
  EXPECT_EQ(EncodeDateAny(9999, 12, 31), kPastOrdinaryDate - 1);
  EXPECT_EQ(EncodeDateAny(2000, 2, 29), 36585.0);
  for (const auto& [y, m, d] : {std::tuple{1900, 2, 29},
                                {2001, 2, 29},
                                {2024, 13, 1},
                                {2024, 0, 1},
                                {2024, 4, 31},
                                {2024, 1, 0}}) {
    try {
      EncodeDateAny(y, m, d);
      ADD_FAILURE() << y << "-" << m << "-" << d;
    } catch (const CalendarError& error) {
      EXPECT_STREQ(error.what(), "Invalid argument to date encode");
    }
  }
  EXPECT_THROW(EncodeTime(24, 0, 0), CalendarError);
  EXPECT_THROW(EncodeDateTime(2024, 1, 1, 0, 60, 0), CalendarError);
}

TEST(CalendarTest, EveryOrdinaryDayDecodesToWhatEncodedIt) {
  int days = 0;
  for (int year = 1; year <= 9999; ++year) {
    for (int month = 1; month <= 12; ++month) {
      const int last = DaysInMonthOf(EncodeDateAny(year, month, 1));
      for (int day = 1; day <= last; ++day) {
        const double date = EncodeDateAny(year, month, day);
        ASSERT_EQ(date, kFirstOrdinaryDate + days) << year << "-" << month << "-" << day;
        const CalendarDate decoded = DecodeDateStd(date < 0 ? date - 0.75 : date + 0.75);
        ASSERT_EQ(decoded.year, year);
        ASSERT_EQ(decoded.month, month);
        ASSERT_EQ(decoded.day, day);
        ++days;
      }
    }
  }
  EXPECT_EQ(days, 3652059);
  EXPECT_EQ(DaysInMonthOf(EncodeDateAny(1900, 2, 10)), 28);
  EXPECT_EQ(DaysInMonthOf(EncodeDateAny(2000, 2, 10)), 29);
  EXPECT_FALSE(IsLeapYearOf(EncodeDateAny(1900, 6, 1)));
  EXPECT_TRUE(IsLeapYearOf(EncodeDateAny(2024, 6, 1)));
  EXPECT_EQ(MonthOfDate(45000), 3);
  EXPECT_EQ(YearOfDate(45000), 2023);
}

TEST(CalendarTest, NegativeValuesKeepTheTimeAsFraction) {
  const CalendarDateTime t = DecodeDateTime(-1.25);
  EXPECT_EQ(t.year, 1899);
  EXPECT_EQ(t.month, 12);
  EXPECT_EQ(t.day, 29);
  EXPECT_EQ(t.hour, 6);
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
  EXPECT_EQ(FormatDateTime(-0.5), "1899/12/30 12:00:00");
  EXPECT_EQ(FormatDateTime(kFirstOrdinaryDate - 0.5), "0001/01/01 12:00:00");
}

TEST(CalendarTest, WholeSecondStepsNeverShowAsFiftyNineNines) {
  const double day = EncodeDateAny(2026, 12, 8);
  for (int second = 0; second < 86400; ++second) {
    const double value = day + second / 86400.0;
    const CalendarDateTime t = DecodeDateTime(value);
    ASSERT_EQ(t.hour * 3600 + t.minute * 60 + t.second, second);
    ASSERT_EQ(t.millisecond, 0);
    ASSERT_EQ(t.day, 8);
  }
  // A value a hair below midnight is the next day.
  EXPECT_EQ(FormatDateTime(day + 1 - 1e-10), "2026/12/09 00:00:00");
  EXPECT_EQ(FormatDateTime(kUnixEpochDate + 3661 / 86400.0), "1970/01/01 01:01:01");
  EXPECT_EQ(FormatDateTime(kUnixEpochDate + 3661 / 86400.0, DateTimeFormat::kMinutes),
            "1970/01/01 01:01");
  std::string line = "x";
  AppendDateTime(line, EncodeDateTime(9999, 12, 31, 23, 59, 59));
  EXPECT_EQ(line, "x9999/12/31 23:59:59");
}

TEST(CalendarTest, ValuesOutsideTheOrdinaryYearsNeverCrash) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const double value : {nan, inf, -inf, 1e300, -1e300, kPastOrdinaryDate, -7e5}) {
    EXPECT_EQ(FormatDateTime(value), "0000/00/00 00:00:00") << value;
    EXPECT_EQ(DecodeDateStd(value).year, 0);
  }
  EXPECT_EQ(YearOfDate(nan), 0);
  EXPECT_EQ(DaysInMonthOf(inf), 0);

  // The approximate calendar meets the ordinary one near its borders and round-trips.
  for (const int year : {-50, -1, 10000, 12345}) {
    for (const int month : {1, 6, 12}) {
      const CalendarDate back = DecodeDateAny(EncodeDateAny(year, month, 10));
      EXPECT_EQ(back.year, year) << year << "-" << month;
      EXPECT_EQ(back.month, month) << year << "-" << month;
      EXPECT_NEAR(back.day, 10, 1) << year << "-" << month;
    }
  }
  EXPECT_NEAR(EncodeDateAny(10000, 1, 1), kPastOrdinaryDate, 2);
  const int most = std::numeric_limits<int>::max();
  const int least = std::numeric_limits<int>::min();
  EXPECT_TRUE(std::isfinite(EncodeDateAny(most, least, least)));
  EXPECT_TRUE(std::isfinite(EncodeDateAny(least, most, most)));
}

}  // namespace
}  // namespace remoteccm
