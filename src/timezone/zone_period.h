// The arithmetic of a zone rule: the moments of its two transitions in a year, the period
// (standard or daylight) a moment falls in, and the bias of that period. Moments are whole
// milliseconds since 1970-01-01 00:00 read on a wall clock: a transition given in local time
// compares directly with a local moment, and with a UTC one once taken to UTC.
#pragma once

#include <cstdint>
#include <optional>

#include "timezone/zone_rule.h"
#include "util/calendar.h"

namespace remoteccm {

enum class ZonePeriod { kNone, kStandard, kDaylight };

inline constexpr std::int64_t kMillisPerDay = 86400000;
// Moments the rule arithmetic answers for: years 1 to 9999; outside them a rule has no period.
inline constexpr std::int64_t kFirstRuleMoment =
    static_cast<std::int64_t>(kFirstOrdinaryDate - kUnixEpochDate) * kMillisPerDay;
inline constexpr std::int64_t kPastRuleMoment =
    static_cast<std::int64_t>(kPastOrdinaryDate - kUnixEpochDate) * kMillisPerDay;

// The year of a moment from kFirstRuleMoment up to kPastRuleMoment.
int YearOfMoment(std::int64_t moment);

// The first moment of a year from 1 to 10000.
std::int64_t FirstMomentOfYear(int year);

// The moment `date` names in `year`: the n-th (day 1..4) or last (day 5 and above) weekday of
// the month for a yearly rule, the date itself for a one-off date of that year, plus the time.
// None for month 0 or above 12, day 0, a weekday above 6, an impossible or other-year one-off,
// and for a year outside 1 to 9999.
std::optional<std::int64_t> TransitionMoment(const ZoneDate& date, int year);

// Both transitions of one year; `has_period` is false when the rule gives none that year.
struct YearTransitions {
  bool has_period = false;
  std::int64_t daylight_start = 0;
  std::int64_t standard_start = 0;
};

YearTransitions TransitionsOfYear(const ZoneRule& rule, int year);

// Daylight from daylight_start up to standard_start, wrapping over the new year when the
// daylight start comes later in the year; equal moments leave the whole year standard.
ZonePeriod PeriodAt(const YearTransitions& transitions, std::int64_t moment);

// The period of `moment`, with the transitions of the year the moment itself falls in.
ZonePeriod PeriodOfMoment(const ZoneRule& rule, std::int64_t moment);

// The moment on the standard-time clock of a UTC instant: the year whose transitions apply.
inline std::int64_t StandardClockOf(const ZoneRule& rule, std::int64_t utc_moment) {
  return utc_moment - std::int64_t{rule.bias} * 60000;
}

// Both transitions of a year moved onto the UTC clock, each from the clock it is given in (the
// daylight start in standard time, the standard start in daylight time).
YearTransitions UtcTransitionsOfYear(const ZoneRule& rule, int year);

// The period in force at a UTC instant, by the transitions of the year its standard-time clock
// reading falls in, taken to UTC.
ZonePeriod PeriodAtUtc(const ZoneRule& rule, std::int64_t utc_moment);

// Minutes, UTC = local + bias.
inline int BiasOf(const ZoneRule& rule, ZonePeriod period) {
  switch (period) {
    case ZonePeriod::kStandard:
      return rule.bias + rule.standard_bias;
    case ZonePeriod::kDaylight:
      return rule.bias + rule.daylight_bias;
    case ZonePeriod::kNone:
      break;
  }
  return rule.bias;
}

// True when the rule has a daylight period at all (both dates carry a month).
inline bool HasDaylightRule(const ZoneRule& rule) {
  return rule.standard_date.month != 0 && rule.daylight_date.month != 0;
}

}  // namespace remoteccm
