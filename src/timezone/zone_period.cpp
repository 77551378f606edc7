#include "timezone/zone_period.h"

namespace remoteccm {
namespace {

constexpr std::int64_t kLastWeek = 5;

std::int64_t TimeOfDay(const ZoneDate& date) {
  return ((static_cast<std::int64_t>(date.hour) * 60 + date.minute) * 60 + date.second) * 1000 +
         date.millisecond;
}

}  // namespace

std::optional<std::int64_t> TransitionMoment(const ZoneDate& date, std::int64_t year) {
  if (date.month < 1 || date.month > 12 || date.day == 0) return std::nullopt;
  const int month = date.month;
  const int days_in_month = civil::DaysInMonth(year, month);
  std::int64_t day_of_month = 0;
  if (date.year == 0) {
    if (date.day_of_week > 6) return std::nullopt;
    const std::int64_t first_day = civil::DaysFromCivil(year, month, 1);
    const int first_weekday = civil::WeekdayFromDays(first_day);
    const std::int64_t week = date.day < kLastWeek ? date.day : kLastWeek;
    day_of_month = (date.day_of_week - first_weekday + 7) % 7 + 1 + 7 * (week - 1);
    if (day_of_month > days_in_month) day_of_month -= 7;
  } else {
    if (date.year != year || date.day > days_in_month) return std::nullopt;
    day_of_month = date.day;
  }
  return civil::DaysFromCivil(year, month, static_cast<int>(day_of_month)) * kMillisPerDay +
         TimeOfDay(date);
}

YearTransitions TransitionsOfYear(const ZoneRule& rule, std::int64_t year) {
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
  const std::int64_t year = civil::YearFromDays(civil::FloorDiv(moment, kMillisPerDay));
  return PeriodAt(TransitionsOfYear(rule, year), moment);
}

ZonePeriod PeriodAtUtc(const ZoneRule& rule, std::int64_t utc_moment) {
  const std::int64_t standard_local = utc_moment - std::int64_t{rule.bias} * 60000;
  if (!HasDaylightRule(rule) || standard_local < kFirstRuleMoment ||
      standard_local >= kPastRuleMoment) {
    return ZonePeriod::kNone;
  }
  const std::int64_t year = civil::YearFromDays(civil::FloorDiv(standard_local, kMillisPerDay));
  YearTransitions t = TransitionsOfYear(rule, year);
  // Move both transitions onto the UTC clock, each by the bias in force just before it.
  t.daylight_start += std::int64_t{BiasOf(rule, ZonePeriod::kStandard)} * 60000;
  t.standard_start += std::int64_t{BiasOf(rule, ZonePeriod::kDaylight)} * 60000;
  return PeriodAt(t, utc_moment);
}

}  // namespace remoteccm
