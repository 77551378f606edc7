#include "timezone/zone_period.h"

namespace remoteccm {
namespace {

constexpr std::int64_t kLastWeek = 5;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Days since 1970-01-01 of a valid date of years 1 to 9999.
std::int64_t DayNumber(int year, int month, int day) {
  return static_cast<std::int64_t>(EncodeDateAny(year, month, day) - kUnixEpochDate);
}

// 0 = Sunday; 1970-01-01 was a Thursday.
int WeekdayOfDayNumber(std::int64_t days) { return static_cast<int>(((days + 4) % 7 + 7) % 7); }

std::int64_t TimeOfDay(const ZoneDate& date) {
  return ((static_cast<std::int64_t>(date.hour) * 60 + date.minute) * 60 + date.second) * 1000 +
         date.millisecond;
}

}  // namespace

int YearOfMoment(std::int64_t moment) {
  return YearOfDate(static_cast<double>(FloorDiv(moment, kMillisPerDay)) + kUnixEpochDate);
}

std::int64_t FirstMomentOfYear(int year) {
  if (year >= 10000) return kPastRuleMoment;
  return DayNumber(year, 1, 1) * kMillisPerDay;
}

std::optional<std::int64_t> TransitionMoment(const ZoneDate& date, int year) {
  if (date.month < 1 || date.month > 12 || date.day == 0 || year < 1 || year > 9999) {
    return std::nullopt;
  }
  const int month = date.month;
  const int days_in_month = DaysInMonthOf(EncodeDateAny(year, month, 1));
  std::int64_t day_of_month = 0;
  if (date.year == 0) {
    if (date.day_of_week > 6) return std::nullopt;
    const int first_weekday = WeekdayOfDayNumber(DayNumber(year, month, 1));
    const std::int64_t week = date.day < kLastWeek ? date.day : kLastWeek;
    day_of_month = (date.day_of_week - first_weekday + 7) % 7 + 1 + 7 * (week - 1);
    if (day_of_month > days_in_month) day_of_month -= 7;
  } else {
    if (date.year != year || date.day > days_in_month) return std::nullopt;
    day_of_month = date.day;
  }
  return DayNumber(year, month, static_cast<int>(day_of_month)) * kMillisPerDay + TimeOfDay(date);
}

YearTransitions TransitionsOfYear(const ZoneRule& rule, int year) {
  if (!HasDaylightRule(rule)) return {};
  const auto daylight = TransitionMoment(rule.daylight_date, year);
  const auto standard = TransitionMoment(rule.standard_date, year);
  if (!daylight || !standard) return {};
  return {true, *daylight, *standard};
}

ZonePeriod PeriodAt(const YearTransitions& t, std::int64_t moment) {
  if (!t.has_period) return ZonePeriod::kNone;
  bool daylight = false;
  if (t.daylight_start < t.standard_start) {
    daylight = moment >= t.daylight_start && moment < t.standard_start;
  } else if (t.daylight_start > t.standard_start) {
    daylight = moment >= t.daylight_start || moment < t.standard_start;
  }
  return daylight ? ZonePeriod::kDaylight : ZonePeriod::kStandard;
}

ZonePeriod PeriodOfMoment(const ZoneRule& rule, std::int64_t moment) {
  if (!HasDaylightRule(rule) || moment < kFirstRuleMoment || moment >= kPastRuleMoment) {
    return ZonePeriod::kNone;
  }
  return PeriodAt(TransitionsOfYear(rule, YearOfMoment(moment)), moment);
}

YearTransitions UtcTransitionsOfYear(const ZoneRule& rule, int year) {
  YearTransitions t = TransitionsOfYear(rule, year);
  // Each transition moves by the bias in force just before it.
  t.daylight_start += std::int64_t{BiasOf(rule, ZonePeriod::kStandard)} * 60000;
  t.standard_start += std::int64_t{BiasOf(rule, ZonePeriod::kDaylight)} * 60000;
  return t;
}

ZonePeriod PeriodAtUtc(const ZoneRule& rule, std::int64_t utc_moment) {
  const std::int64_t standard_clock = StandardClockOf(rule, utc_moment);
  if (!HasDaylightRule(rule) || standard_clock < kFirstRuleMoment ||
      standard_clock >= kPastRuleMoment) {
    return ZonePeriod::kNone;
  }
  return PeriodAt(UtcTransitionsOfYear(rule, YearOfMoment(standard_clock)), utc_moment);
}

}  // namespace remoteccm
