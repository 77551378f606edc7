// This computer's time zone: the rule of the local zone and its present bias.
#pragma once

#include <ctime>
#include <filesystem>

#include "timezone/zone_rule.h"

namespace remoteccm {

// The rule of the computer's zone (the platform's side). POSIX: the TZ variable, else
// /etc/localtime; UTC when neither yields one. Win32: GetTimeZoneInformation.
ZoneRule ComputerZoneRule();

// The rule a TZ value names, as the C library reads it: none (null) means the file `localtime`;
// an empty value is UTC; ":name" or "name" a zone file under `zoneinfo_dir` (or an absolute
// path), else "name" read as a POSIX TZ string. UTC when nothing usable is found.
ZoneRule ZoneRuleFromTz(const char* tz, const std::filesystem::path& zoneinfo_dir,
                        const std::filesystem::path& localtime);

// Minutes, UTC = local + bias, at the moment `now`: Bias plus the standard or daylight bias of
// the period `now` falls in, Bias alone for a zone without daylight period.
int CurrentBias(const ZoneRule& rule, std::time_t now);

}  // namespace remoteccm
