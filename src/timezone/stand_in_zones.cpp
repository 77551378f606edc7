// Stand-in until the tzdata reader lands: no zone list, UTC as the computer's zone.
#include "timezone/local_zone.h"
#include "timezone/zone_list.h"

namespace remoteccm {

std::filesystem::path DefaultZoneinfoDir() { return "/usr/share/zoneinfo"; }
std::vector<TimeZoneEntry> LoadTimeZones(const std::filesystem::path&) { return {}; }
int FindTimeZone(const std::vector<TimeZoneEntry>&, std::string_view) { return -1; }
ZoneRule ComputerZoneRule() { return {}; }
int CurrentBias(const ZoneRule& rule, std::time_t) { return rule.bias; }

}  // namespace remoteccm
