#include "util/calendar.h"

#include <cmath>
#include <cstdint>

namespace remoteccm {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr double kApproxYear = 365.2422454;
constexpr double kApproxMonth = 30.436853783333333;
constexpr double kApproxShift = 1.7882454;
constexpr double kOrdinaryBase = 693593.0;  // days from 0001-01-01 to 1899-12-30, less one
constexpr double kFarOut = 4.0e8;           // about a million years either way

constexpr int kDaysBefore[2][13] = {
    {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};

int DaysInMonth(int year, int month) {
  static constexpr int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYearNum(year) ? 29 : kDays[month];
}

// Days since 1899-12-30 of an ordinary calendar date (year 1 to 9999, valid).
std::int64_t OrdinaryDayNumber(int year, int month, int day) {
  const std::int64_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400 + kDaysBefore[IsLeapYearNum(year) ? 1 : 0][month] +
         day - 1 - static_cast<std::int64_t>(kOrdinaryBase);
}

// The ordinary date of a day number (days since 1899-12-30) of years 1 to 9999.
CalendarDate OrdinaryDate(std::int64_t day_number) {
  // Days since 1970-01-01, then the civil-from-days conversion over 400-year eras.
  std::int64_t z = day_number - static_cast<std::int64_t>(kUnixEpochDate) + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  CalendarDate date;
  date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  date.year = static_cast<int>(yoe + era * 400 + (date.month <= 2 ? 1 : 0));
  return date;
}

// The value split into whole days (sign of the value) and milliseconds of the day, rounded to
// the millisecond first; false outside years 1 to 9999.
bool SplitDateTime(double value, std::int64_t& day_number, std::int64_t& ms_of_day) {
  if (!(value > kFirstOrdinaryDate - 1.0 && value < kPastOrdinaryDate + 1.0)) return false;
  const auto ms = static_cast<std::int64_t>(std::nearbyint(value * static_cast<double>(kMsPerDay)));
  day_number = ms / kMsPerDay;
  ms_of_day = (ms < 0 ? -ms : ms) % kMsPerDay;
  return day_number >= static_cast<std::int64_t>(kFirstOrdinaryDate) &&
         day_number < static_cast<std::int64_t>(kPastOrdinaryDate);
}

CalendarDate ApproximateDate(double date) {
  double d = date;
  double y = std::trunc((d + kOrdinaryBase) / kApproxYear);
  if (y > 0) {
    d -= kApproxShift;
  } else {
    y -= 1;
  }
  const double t = d + kOrdinaryBase;
  double m = t / kApproxMonth - 12 * y;
  if (m < 0) {
    m = 11;
    y -= 1;
  }
  CalendarDate result;
  result.month = static_cast<int>(std::trunc(m)) + 1;
  result.day = static_cast<int>(std::trunc(t - kApproxYear * y - kApproxMonth * std::trunc(m))) + 1;
  result.year = static_cast<int>(y > 0 ? y + 1 : y);
  return result;
}

inline void PutTwo(char* out, int value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

bool IsLeapYearNum(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

double EncodeDateAny(int year, int month, int day) {
  if (year >= 1 && year <= 9999) {
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
      throw CalendarError("Invalid argument to date encode");
    }
    return static_cast<double>(OrdinaryDayNumber(year, month, day));
  }
  // In doubles throughout: no month or day number, however absurd, overflows.
  const double y = year;
  const double base = y > 0 ? (y - 1) * kApproxYear - kOrdinaryBase + kApproxShift
                            : y * kApproxYear - kOrdinaryBase;
  return std::nearbyint((static_cast<double>(month) - 1) * kApproxMonth + std::trunc(base)) +
         static_cast<double>(day) - 1;
}

CalendarDate DecodeDateStd(double date) {
  std::int64_t day_number = 0;
  std::int64_t ms_of_day = 0;
  if (!SplitDateTime(date, day_number, ms_of_day)) return {};
  return OrdinaryDate(day_number);
}

CalendarDate DecodeDateAny(double date) {
  if (date >= kFirstOrdinaryDate && date < kPastOrdinaryDate) {
    const CalendarDate ordinary = DecodeDateStd(date);
    if (ordinary.year != 0) return ordinary;
  }
  if (!(date > -kFarOut && date < kFarOut)) return {};
  return ApproximateDate(date);
}

int MonthOfDate(double date) { return DecodeDateAny(date).month; }

int YearOfDate(double date) { return DecodeDateAny(date).year; }

int DaysInMonthOf(double date) {
  const CalendarDate decoded = DecodeDateAny(date);
  if (decoded.month < 1 || decoded.month > 12) return 0;
  return DaysInMonth(decoded.year, decoded.month);
}

bool IsLeapYearOf(double date) { return IsLeapYearNum(YearOfDate(date)); }

double EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    throw CalendarError("Invalid argument to time encode");
  }
  const std::int64_t ms = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
  return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond) {
  const double date = EncodeDateAny(year, month, day);
  const double time = EncodeTime(hour, minute, second, millisecond);
  return date < 0 ? date - time : date + time;
}

CalendarDateTime DecodeDateTime(double date_time) {
  std::int64_t day_number = 0;
  std::int64_t ms = 0;
  if (!SplitDateTime(date_time, day_number, ms)) return {};
  const CalendarDate date = OrdinaryDate(day_number);
  CalendarDateTime result;
  result.year = date.year;
  result.month = date.month;
  result.day = date.day;
  result.hour = static_cast<int>(ms / 3600000);
  result.minute = static_cast<int>(ms / 60000 % 60);
  result.second = static_cast<int>(ms / 1000 % 60);
  result.millisecond = static_cast<int>(ms % 1000);
  return result;
}

std::size_t FormatDateTimeTo(double date_time, char* out, DateTimeFormat layout) {
  const CalendarDateTime t = DecodeDateTime(date_time);
  PutTwo(out, t.year / 100);
  PutTwo(out + 2, t.year % 100);
  out[4] = '/';
  PutTwo(out + 5, t.month);
  out[7] = '/';
  PutTwo(out + 8, t.day);
  out[10] = ' ';
  PutTwo(out + 11, t.hour);
  out[13] = ':';
  PutTwo(out + 14, t.minute);
  if (layout == DateTimeFormat::kMinutes) return 16;
  out[16] = ':';
  PutTwo(out + 17, t.second);
  return kDateTimeTextMax;
}

void AppendDateTime(std::string& text, double date_time, DateTimeFormat layout) {
  char buffer[kDateTimeTextMax];
  text.append(buffer, FormatDateTimeTo(date_time, buffer, layout));
}

std::string FormatDateTime(double date_time, DateTimeFormat layout) {
  std::string text;
  AppendDateTime(text, date_time, layout);
  return text;
}

}  // namespace remoteccm
