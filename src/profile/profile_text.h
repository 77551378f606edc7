// A loaded profile as plain "Key=value" lines, one per key in the key table's order, for
// people and scripts to read (remoteccm-cli --print).
#pragma once

#include <string>
#include <vector>

#include "profile/profile_settings.h"
#include "timezone/zone_rule.h"

namespace remoteccm {

inline constexpr std::string_view kHiddenPassword = "***";

// Flags as Y/N, choices as their item text, line lists one line per entry (ConnectSQL0=...),
// time values as whole CDR seconds followed by the local date/time in the profile's zone
// ("86400 (1970/01/02 00:00:00)"), passwords as "***" (empty when none is set).
std::vector<std::string> ProfileSettingsLines(const ProfileSettings& settings,
                                              const ZoneRule& computer_rule);

}  // namespace remoteccm
