// Calendar arithmetic on date values: days since 1899-12-30 00:00 as a double, the fraction
// being the time of day (25569 is 1970-01-01). For a negative value the sign belongs to the day
// part only: -1.25 is 1899-12-29 06:00. Years 1 to 9999 use the ordinary calendar.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace remoteccm {

inline constexpr double kUnixEpochDate = 25569.0;
inline constexpr double kFirstOrdinaryDate = -693593.0;  // 0001-01-01
inline constexpr double kPastOrdinaryDate = 2958466.0;   // 10000-01-01

// "Invalid argument to date encode" / "Invalid argument to time encode".
class CalendarError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

struct CalendarDateTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

bool IsLeapYearNum(int year);

// Years 1 to 9999: the ordinary date (throws CalendarError for an invalid one); other years:
// the approximate calendar of 365.2422454-day years and 30.436853783333333-day months.
double EncodeDateAny(int year, int month, int day);

// The ordinary calendar date; all zero outside years 1 to 9999 (and for NaN).
CalendarDate DecodeDateStd(double date);

// The ordinary calendar for kFirstOrdinaryDate <= date < kPastOrdinaryDate, else approximate;
// all zero for values too far out to name a year (beyond about a million years) and NaN.
CalendarDate DecodeDateAny(double date);

int MonthOfDate(double date);
int YearOfDate(double date);
int DaysInMonthOf(double date);
bool IsLeapYearOf(double date);

// The fraction of a day; throws CalendarError("Invalid argument to time encode") out of range.
double EncodeTime(int hour, int minute, int second, int millisecond = 0);

// Date plus time of day, with the sign rule above for dates before 1899-12-30.
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond = 0);

// Rounded to the nearest millisecond first, so steps of 1/86400 never show as 59.999 seconds.
// All zero outside years 1 to 9999.
CalendarDateTime DecodeDateTime(double date_time);

enum class DateTimeFormat {
  kSeconds,  // "yyyy/mm/dd hh:nn:ss"
  kMinutes,  // "yyyy/mm/dd hh:nn"
};

inline constexpr std::size_t kDateTimeTextMax = 19;

// Writes the date/time zero padded into out (room for kDateTimeTextMax characters, no NUL
// added) and returns the length. Values outside years 1 to 9999 give "0000/00/00 00:00:00".
std::size_t FormatDateTimeTo(double date_time, char* out,
                             DateTimeFormat layout = DateTimeFormat::kSeconds);

// Appends the formatted date/time to text.
void AppendDateTime(std::string& text, double date_time,
                    DateTimeFormat layout = DateTimeFormat::kSeconds);

std::string FormatDateTime(double date_time, DateTimeFormat layout = DateTimeFormat::kSeconds);

}  // namespace remoteccm
