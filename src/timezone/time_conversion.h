// CDR time values (seconds since 1970-01-01 00:00 UTC) to the CallManager's local date/time
// (days since 1899-12-30) and back, by a profile's time-zone option.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>

#include "timezone/zone_period.h"
#include "timezone/zone_rule.h"

namespace remoteccm {

inline constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 00:00 as a date value

enum class TimeZoneOption { kComputer = 1, kSelected = 2, kManual = 3 };

// The time-zone part of a profile as the conversions need it.
struct TimeZoneSettings {
  TimeZoneOption option = TimeZoneOption::kComputer;
  std::optional<ZoneRule> selected_rule;  // the selected zone's rule; none when none selected
  int offset_hours = 0;                   // manual offset, local time minus UTC
  ZoneRule computer_rule;                 // this computer's rule, taken when the settings are made
};

// The manual offset the conversions apply at the moment `now`: the stored offset kept within
// -23..25, and 25 (which the next load replaces by this computer's offset) taken as this
// computer's present offset in whole hours already. 24 stays a whole day.
int EffectiveManualOffset(const TimeZoneSettings& settings, std::time_t now);

// The rule options 1 and 2 convert by: the selected zone's, or this computer's when option 2
// has no zone selected (a profile naming a zone this computer does not know).
const ZoneRule& RuleInUse(const TimeZoneSettings& settings);

// The local time of a CDR time value: daylight time by the transitions taken to UTC.
double CdrSecondsToLocal(const TimeZoneSettings& settings, double seconds);
// The CDR time value of a local time: daylight time by comparing local times, so a time in the
// hour a daylight start skips, or in the hour a standard start repeats, counts as daylight time.
double LocalToCdrSeconds(const TimeZoneSettings& settings, double local);

// Converts many values by one profile's settings, as the two functions above do; the engine
// keeps one per pass so the transition moments are worked out once per year, not per value.
// It remembers the last years it saw, so one object serves one thread at a time.
class TimeConverter {
 public:
  explicit TimeConverter(const TimeZoneSettings& settings);
  TimeConverter(const TimeZoneSettings& settings, std::time_t now);

  double ToLocal(double cdr_seconds) const;  // CdrSecondsToLocal
  double ToCdrSeconds(double local) const;   // LocalToCdrSeconds
  const TimeZoneSettings& settings() const { return settings_; }

 private:
  // The transitions of one year on one clock; `first` and `past` bound the year on the clock
  // that picks the year (local time, or the standard-time clock for a UTC moment).
  struct CachedYear {
    std::int64_t first = 1;  // first moment of the year; first > past marks an empty slot
    std::int64_t past = 0;   // first moment of the next year
    YearTransitions transitions;
  };
  struct YearCache {
    std::array<CachedYear, 2> slots{};
    std::size_t next_slot = 0;
  };

  // Bias in minutes at a moment (milliseconds since 1970-01-01) on the local clock, where the
  // transitions are compared as the rule states them.
  int BiasAtLocal(std::int64_t local_moment) const;
  // Bias in minutes at a UTC moment, compared with the transitions taken to UTC.
  int BiasAtUtc(std::int64_t utc_moment) const;

  TimeZoneSettings settings_;
  bool manual_ = false;
  bool has_rule_ = false;  // the rule has a daylight period to look up
  int offset_hours_ = 0;
  ZoneRule rule_;
  mutable YearCache local_cache_;
  mutable YearCache utc_cache_;
};

}  // namespace remoteccm
