// CDR time values (seconds since 1970-01-01 00:00 UTC) to the CallManager's local date/time
// (days since 1899-12-30) and back, by a profile's time-zone option.
#pragma once

#include <optional>

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

double CdrSecondsToLocal(const TimeZoneSettings& settings, double seconds);
double LocalToCdrSeconds(const TimeZoneSettings& settings, double local);

// Converts many values by one profile's settings, as the two functions above do; the engine
// keeps one per pass so the transition moments are worked out once per year, not per value.
class TimeConverter {
 public:
  explicit TimeConverter(const TimeZoneSettings& settings);

  double ToLocal(double cdr_seconds) const;   // CdrSecondsToLocal
  double ToCdrSeconds(double local) const;    // LocalToCdrSeconds
  const TimeZoneSettings& settings() const { return settings_; }

 private:
  TimeZoneSettings settings_;
};

}  // namespace remoteccm
