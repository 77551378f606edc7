// --list-zones: the display names of the zone list, in its order, one per line.
#include <cstdio>

#include "cli/commands.h"

namespace remoteccm {

int ListZonesCommand(const CliContext&) {
  const std::vector<TimeZoneEntry>& zones = CliTimeZones();
  if (zones.empty()) {
    std::fprintf(stderr, "remoteccm-cli: no time zones found in %s\n",
                 SystemTimeZonesSource().c_str());
    return kExitUnavailable;
  }
  for (const TimeZoneEntry& zone : zones) {
    std::fputs(zone.display_name.c_str(), stdout);
    std::fputc('\n', stdout);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return kExitIoError;
  return kExitOk;
}

}  // namespace remoteccm
