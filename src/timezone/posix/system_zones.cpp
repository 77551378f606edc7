#include <cstdlib>

#include "timezone/local_zone.h"
#include "timezone/zone_list.h"

namespace remoteccm {

std::vector<TimeZoneEntry> LoadSystemTimeZones() { return LoadTimeZones(DefaultZoneinfoDir()); }

std::string SystemTimeZonesSource() { return DefaultZoneinfoDir().string(); }

ZoneRule ComputerZoneRule() {
  return ZoneRuleFromTz(std::getenv("TZ"), DefaultZoneinfoDir(), "/etc/localtime");
}

}  // namespace remoteccm
