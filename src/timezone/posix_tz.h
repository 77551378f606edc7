// POSIX TZ strings ("EST5EDT,M3.2.0,M11.1.0", "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0") as zone
// rule records: the form in which tzdata files and the TZ variable state a zone's current rule.
#pragma once

#include <optional>
#include <string_view>

#include "timezone/zone_rule.h"

namespace remoteccm {

struct PosixZoneRule {
  ZoneRule rule;
  // The record cannot state the rule exactly (a transition time outside 0..24 hours, a
  // day-of-year date): it holds the nearest rule it can state, which is a week off in some years.
  bool approximated = false;
};

// The rule of a TZ string; none when the text is not a well-formed TZ string. Bias is the
// standard offset (UTC = local + bias), DaylightBias the daylight offset less the standard one;
// a zone whose "daylight" time is the winter one (negative saving) is stated the other way round
// so that standard time is always the one with the larger bias.
std::optional<PosixZoneRule> ParsePosixTz(std::string_view tz);

}  // namespace remoteccm
