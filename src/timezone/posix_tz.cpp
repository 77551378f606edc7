#include "timezone/posix_tz.h"

#include <cstdint>
#include <utility>

namespace remoteccm {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kDefaultTransitionTime = std::int64_t{2} * 3600;

class TzReader {
 public:
  explicit TzReader(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  bool Eat(char c) {
    if (Peek() != c || AtEnd()) return false;
    ++pos_;
    return true;
  }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

  // A zone abbreviation: three or more letters, or "<...>" of letters, digits, "+" and "-".
  bool Name() {
    std::size_t length = 0;
    if (Eat('<')) {
      while (!AtEnd() && (IsAlpha(Peek()) || IsDigit(Peek()) || Peek() == '+' || Peek() == '-')) {
        ++pos_;
        ++length;
      }
      return Eat('>') && length >= 1;
    }
    while (!AtEnd() && IsAlpha(Peek())) {
      ++pos_;
      ++length;
    }
    return length >= 3;
  }

  // A number of at most `max_digits` digits.
  std::optional<std::int64_t> Number(int max_digits) {
    std::int64_t value = 0;
    int digits = 0;
    while (!AtEnd() && IsDigit(Peek()) && digits < max_digits) {
      value = value * 10 + (Peek() - '0');
      ++pos_;
      ++digits;
    }
    if (digits == 0) return std::nullopt;
    return value;
  }

  // [+-]hh[:mm[:ss]] in seconds, hours up to max_hours.
  std::optional<std::int64_t> SignedTime(std::int64_t max_hours) {
    std::int64_t sign = 1;
    if (Eat('-')) {
      sign = -1;
    } else {
      Eat('+');
    }
    const auto hours = Number(3);
    if (!hours || *hours > max_hours) return std::nullopt;
    std::int64_t seconds = *hours * 3600;
    if (Eat(':')) {
      const auto minutes = Number(2);
      if (!minutes || *minutes > 59) return std::nullopt;
      seconds += *minutes * 60;
      if (Eat(':')) {
        const auto secs = Number(2);
        if (!secs || *secs > 59) return std::nullopt;
        seconds += *secs;
      }
    }
    return sign * seconds;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

enum class DateForm { kMonthWeekDay, kJulianNoLeap, kDayOfYear };

struct PosixDate {
  DateForm form = DateForm::kMonthWeekDay;
  int month = 0;
  int week = 0;
  int weekday = 0;
  int day = 0;  // Jn: 1..365; n: 0..365
  std::int64_t time = kDefaultTransitionTime;
};

std::optional<PosixDate> ParseDate(TzReader& in) {
  PosixDate date;
  if (in.Eat('M')) {
    const auto month = in.Number(2);
    if (!month || *month < 1 || *month > 12 || !in.Eat('.')) return std::nullopt;
    const auto week = in.Number(1);
    if (!week || *week < 1 || *week > 5 || !in.Eat('.')) return std::nullopt;
    const auto weekday = in.Number(1);
    if (!weekday || *weekday > 6) return std::nullopt;
    date.month = static_cast<int>(*month);
    date.week = static_cast<int>(*week);
    date.weekday = static_cast<int>(*weekday);
  } else if (in.Eat('J')) {
    const auto day = in.Number(3);
    if (!day || *day < 1 || *day > 365) return std::nullopt;
    date.form = DateForm::kJulianNoLeap;
    date.day = static_cast<int>(*day);
  } else {
    const auto day = in.Number(3);
    if (!day || *day > 365) return std::nullopt;
    date.form = DateForm::kDayOfYear;
    date.day = static_cast<int>(*day);
  }
  if (in.Eat('/')) {
    const auto time = in.SignedTime(167);
    if (!time) return std::nullopt;
    date.time = *time;
  }
  return date;
}

int NthWeekday(int week, int weekday, int first_weekday, int month_length) {
  int day = (weekday - first_weekday + 7) % 7 + 1 + 7 * (week - 1);
  if (day > month_length) day -= 7;
  return day;
}

void SetTimeOfDay(ZoneDate& out, std::int64_t seconds) {
  out.hour = static_cast<std::uint16_t>(seconds / 3600);
  out.minute = static_cast<std::uint16_t>(seconds / 60 % 60);
  out.second = static_cast<std::uint16_t>(seconds % 60);
}

// "Mm.w.d/time" with a time outside 0..24 hours moves the transition to another day: state it as
// the weekday it lands on, in the week that lands on the true day in the most month layouts.
ZoneDate MonthWeekDate(const PosixDate& date, bool& approximated) {
  ZoneDate out;
  out.month = static_cast<std::uint16_t>(date.month);
  std::int64_t day_shift = date.time / kSecondsPerDay;
  std::int64_t time_of_day = date.time % kSecondsPerDay;
  if (time_of_day < 0) {
    time_of_day += kSecondsPerDay;
    --day_shift;
  }
  SetTimeOfDay(out, time_of_day);
  if (day_shift == 0) {
    out.day = static_cast<std::uint16_t>(date.week);
    out.day_of_week = static_cast<std::uint16_t>(date.weekday);
    return out;
  }
  const int shift = static_cast<int>(day_shift % 7 + 7) % 7;
  const int weekday = (date.weekday + shift) % 7;
  int lengths[2] = {31, 31};
  int length_count = 1;
  if (date.month == 2) {
    lengths[0] = 28;
    lengths[1] = 29;
    length_count = 2;
  } else if (date.month == 4 || date.month == 6 || date.month == 9 || date.month == 11) {
    lengths[0] = 30;
  }
  int best_week = date.week;
  int best_matches = -1;
  int layouts = 0;
  for (int week = 1; week <= 5; ++week) {
    int matches = 0;
    layouts = 0;
    for (int first = 0; first < 7; ++first) {
      for (int l = 0; l < length_count; ++l) {
        const std::int64_t true_day =
            NthWeekday(date.week, date.weekday, first, lengths[l]) + day_shift;
        ++layouts;
        if (true_day == NthWeekday(week, weekday, first, lengths[l])) ++matches;
      }
    }
    if (matches > best_matches) {
      best_matches = matches;
      best_week = week;
    }
  }
  if (best_matches < layouts) approximated = true;
  out.day = static_cast<std::uint16_t>(best_week);
  out.day_of_week = static_cast<std::uint16_t>(weekday);
  return out;
}

// A day-of-year date has no weekday rule: take the week of that day of the month, on a Sunday.
ZoneDate DayOfYearDate(const PosixDate& date, bool& approximated) {
  constexpr int kMonthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int day = date.form == DateForm::kJulianNoLeap ? date.day : date.day + 1;
  if (day > 365) day = 365;
  int month = 1;
  while (day > kMonthLengths[month - 1]) day -= kMonthLengths[month++ - 1];
  PosixDate as_week = date;
  as_week.form = DateForm::kMonthWeekDay;
  as_week.month = month;
  as_week.week = (day - 1) / 7 + 1;
  as_week.weekday = 0;
  approximated = true;
  return MonthWeekDate(as_week, approximated);
}

ZoneDate ToZoneDate(const PosixDate& date, bool& approximated) {
  if (date.form == DateForm::kMonthWeekDay) return MonthWeekDate(date, approximated);
  return DayOfYearDate(date, approximated);
}

// "0/0,J365/25" and the like: daylight time from the first moment of the year to past its end.
bool IsAllYear(const PosixDate& start, const PosixDate& end) {
  const bool starts_at_new_year = start.form != DateForm::kMonthWeekDay &&
                                  start.day == (start.form == DateForm::kJulianNoLeap ? 1 : 0) &&
                                  start.time <= 0;
  const bool ends_past_year =
      end.form == DateForm::kJulianNoLeap && end.day == 365 && end.time >= kSecondsPerDay;
  return starts_at_new_year && ends_past_year;
}

std::int32_t ToMinutes(std::int64_t seconds) {
  const std::int64_t rounded = seconds >= 0 ? (seconds + 30) / 60 : -((-seconds + 30) / 60);
  return static_cast<std::int32_t>(rounded);
}

}  // namespace

std::optional<PosixZoneRule> ParsePosixTz(std::string_view tz) {
  TzReader in(tz);
  if (!in.Name()) return std::nullopt;
  const auto standard_offset = in.SignedTime(24);
  if (!standard_offset) return std::nullopt;
  PosixZoneRule result;
  result.rule.bias = ToMinutes(*standard_offset);
  if (in.AtEnd()) return result;

  if (!in.Name()) return std::nullopt;
  std::int64_t daylight_offset = *standard_offset - 3600;
  if (!in.AtEnd() && in.Peek() != ',') {
    const auto offset = in.SignedTime(24);
    if (!offset) return std::nullopt;
    daylight_offset = *offset;
  }
  PosixDate start{DateForm::kMonthWeekDay, 3, 2, 0, 0, kDefaultTransitionTime};
  PosixDate end{DateForm::kMonthWeekDay, 11, 1, 0, 0, kDefaultTransitionTime};
  if (in.Eat(',')) {
    const auto parsed_start = ParseDate(in);
    if (!parsed_start || !in.Eat(',')) return std::nullopt;
    const auto parsed_end = ParseDate(in);
    if (!parsed_end) return std::nullopt;
    start = *parsed_start;
    end = *parsed_end;
  }
  if (!in.AtEnd()) return std::nullopt;

  const std::int32_t daylight_bias = ToMinutes(daylight_offset) - result.rule.bias;
  if (IsAllYear(start, end)) {
    result.rule.bias += daylight_bias;
    return result;
  }
  result.rule.daylight_bias = daylight_bias;
  result.rule.daylight_date = ToZoneDate(start, result.approximated);
  result.rule.standard_date = ToZoneDate(end, result.approximated);
  if (result.rule.daylight_bias > 0) {
    // Each transition time is on the clock in force before it, so swapping the roles of the two
    // periods keeps both times as they are.
    result.rule.bias += result.rule.daylight_bias;
    result.rule.daylight_bias = -result.rule.daylight_bias;
    std::swap(result.rule.daylight_date, result.rule.standard_date);
  }
  return result;
}

}  // namespace remoteccm
