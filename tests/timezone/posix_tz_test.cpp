// TZ strings as zone rule records: the forms tzdata writes, the ones the record can only
// approximate, and text that is not a TZ string at all.
#include "timezone/posix_tz.h"

#include <gtest/gtest.h>

#include <string>

#include "timezone/zone_dates.h"

namespace remoteccm {
namespace {

ZoneRule Parsed(const char* tz, bool approximated = false) {
  const auto result = ParsePosixTz(tz);
  EXPECT_TRUE(result.has_value()) << tz;
  if (!result) return {};
  EXPECT_EQ(result->approximated, approximated) << tz;
  return result->rule;
}

TEST(PosixTz, ExactRules) {
  ZoneRule r = Parsed("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(r.bias, 300);
  EXPECT_EQ(r.standard_bias, 0);
  EXPECT_EQ(r.daylight_bias, -60);
  EXPECT_EQ(r.daylight_date, Yearly(3, 2, 0, 2));
  EXPECT_EQ(r.standard_date, Yearly(11, 1, 0, 2));

  r = Parsed("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(r.bias, -60);
  EXPECT_EQ(r.daylight_date, Yearly(3, 5, 0, 2));
  EXPECT_EQ(r.standard_date, Yearly(10, 5, 0, 3));

  // Lord Howe: half an hour of daylight saving.
  r = Parsed("<+1030>-10:30<+11>-11,M10.1.0,M4.1.0");
  EXPECT_EQ(r.bias, -630);
  EXPECT_EQ(r.daylight_bias, -30);
  EXPECT_EQ(r.daylight_date, Yearly(10, 1, 0, 2));
  EXPECT_EQ(r.standard_date, Yearly(4, 1, 0, 2));

  r = Parsed("<+1245>-12:45<+1345>,M9.5.0/2:45,M4.1.0/3:45");
  EXPECT_EQ(r.bias, -765);
  EXPECT_EQ(r.daylight_bias, -60);
  EXPECT_EQ(r.daylight_date, Yearly(9, 5, 0, 2, 45));
  EXPECT_EQ(r.standard_date, Yearly(4, 1, 0, 3, 45));

  // Transition at midnight, and a daylight name without offset (one hour ahead).
  r = Parsed("<-01>1<+00>,M3.5.0/0,M10.5.0/1");
  EXPECT_EQ(r.bias, 60);
  EXPECT_EQ(r.daylight_bias, -60);
  EXPECT_EQ(r.daylight_date, Yearly(3, 5, 0, 0));
  r = Parsed("<-01>1<+00>-0,M3.5.0/0,M10.5.0/1");
  EXPECT_EQ(r.daylight_bias, -60);

  // Two hours of saving (Troll), and the default rule when none is given.
  EXPECT_EQ(Parsed("<+00>0<+02>-2,M3.5.0/1,M10.5.0/3").daylight_bias, -120);
  r = Parsed("EST5EDT");
  EXPECT_EQ(r.daylight_date, Yearly(3, 2, 0, 2));
  EXPECT_EQ(r.standard_date, Yearly(11, 1, 0, 2));
  r = Parsed("NST3:30NDT,M3.2.0,M11.1.0");
  EXPECT_EQ(r.bias, 210);
}

TEST(PosixTz, ZonesWithoutDaylightTime) {
  EXPECT_EQ(Parsed("<-03>3"), (ZoneRule{180, 0, 0, {}, {}}));
  EXPECT_EQ(Parsed("IST-5:30"), (ZoneRule{-330, 0, 0, {}, {}}));
  EXPECT_EQ(Parsed("<+0545>-5:45"), (ZoneRule{-345, 0, 0, {}, {}}));
  EXPECT_EQ(Parsed("<-0930>9:30"), (ZoneRule{570, 0, 0, {}, {}}));
  EXPECT_EQ(Parsed("UTC0"), ZoneRule{});
  EXPECT_EQ(Parsed("<+14>-14").bias, -840);
  EXPECT_EQ(Parsed("<+0030>-0:30:20").bias, -30);  // seconds round to the minute
}

TEST(PosixTz, NegativeSavingIsStatedWithWinterAsStandard) {
  // Dublin: Irish standard time in summer, GMT as "daylight" time in winter.
  const ZoneRule r = Parsed("IST-1GMT0,M10.5.0,M3.5.0/1");
  EXPECT_EQ(r.bias, 0);
  EXPECT_EQ(r.daylight_bias, -60);
  EXPECT_EQ(r.daylight_date, Yearly(3, 5, 0, 1));
  EXPECT_EQ(r.standard_date, Yearly(10, 5, 0, 2));
  EXPECT_EQ(r, Parsed("GMT0BST,M3.5.0/1,M10.5.0"));
}

TEST(PosixTz, TimesOutsideTheDayMoveToAnotherWeekday) {
  // Jerusalem: Friday after the fourth Thursday of March, 02:00 -> fourth Friday.
  ZoneRule r = Parsed("IST-2IDT,M3.4.4/26,M10.5.0", true);
  EXPECT_EQ(r.daylight_date, Yearly(3, 4, 5, 2));
  EXPECT_EQ(r.standard_date, Yearly(10, 5, 0, 2));
  // Nuuk: 23:00 on the Saturday before the last Sunday -> last Saturday.
  r = Parsed("<-02>2<-01>,M3.5.0/-1,M10.5.0/0", true);
  EXPECT_EQ(r.daylight_date, Yearly(3, 5, 6, 23));
  EXPECT_EQ(r.standard_date, Yearly(10, 5, 0, 0));
  // Santiago: 24:00 of the first Saturday -> first Sunday 00:00 (a daylight time in winter).
  r = Parsed("<-04>4<-03>,M9.1.6/24,M4.1.6/24", true);
  EXPECT_EQ(r.daylight_date, Yearly(9, 1, 0, 0));
  EXPECT_EQ(r.standard_date, Yearly(4, 1, 0, 0));
  // Cairo: 24:00 of the last Thursday of October -> last Friday.
  r = Parsed("EET-2EEST,M4.5.5/0,M10.5.4/24", true);
  EXPECT_EQ(r.daylight_date, Yearly(4, 5, 5, 0));
  EXPECT_EQ(r.standard_date, Yearly(10, 5, 5, 0));
  // Gaza: two days and two hours after the fourth Thursday -> last Saturday.
  r = Parsed("EET-2EEST,M3.4.4/50,M10.4.4/50", true);
  EXPECT_EQ(r.daylight_date, Yearly(3, 5, 6, 2));
  EXPECT_EQ(r.standard_date, Yearly(10, 5, 6, 2));
}

TEST(PosixTz, DayOfYearDates) {
  // Permanent daylight time is a zone without daylight period at the daylight offset.
  EXPECT_EQ(Parsed("EST5EDT,0/0,J365/25"), (ZoneRule{240, 0, 0, {}, {}}));
  // Other day-of-year dates are stated as the Sunday of that week of the month.
  const ZoneRule r = Parsed("<+0330>-3:30<+0430>,J79/24,J263/24", true);
  EXPECT_EQ(r.bias, -210);
  EXPECT_EQ(r.daylight_date.month, 3);
  EXPECT_EQ(r.standard_date.month, 9);
}

TEST(PosixTz, MalformedTextIsRefused) {
  for (const char* bad : {"",
                          "EST",
                          "ES5",
                          "5",
                          "EST+",
                          "EST5EDT,M3.2.0",
                          "EST5EDT,M13.2.0,M11.1.0",
                          "EST5EDT,M3.6.0,M11.1.0",
                          "EST5EDT,M3.2.7,M11.1.0",
                          "EST5EDT,M3.2.0,M11.1.0,",
                          "EST5EDT,M3.2.0/168:00:00x,M11.1.0",
                          "EST5EDT,M3.2.0/200,M11.1.0",
                          "EST25",
                          "EST5:60",
                          "<+05-5",
                          "<>5",
                          "EST5EDT,J0,J365",
                          "EST5EDT,366,1",
                          "EST5 ",
                          "EST5EDT4x",
                          "EST99999999999999999999",
                          "EST5EDT,M99999999999.2.0,M11.1.0"}) {
    EXPECT_FALSE(ParsePosixTz(bad).has_value()) << bad;
  }
  EXPECT_FALSE(ParsePosixTz(std::string("EST5\0EDT", 8)).has_value());
}

}  // namespace
}  // namespace remoteccm
