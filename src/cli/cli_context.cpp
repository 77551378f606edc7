#include "cli/commands.h"

namespace remoteccm {

const std::vector<TimeZoneEntry>& CliTimeZones() {
  static const std::vector<TimeZoneEntry> zones = LoadSystemTimeZones();
  return zones;
}

ProfileEnvironment CliProfileEnvironment(const CliContext& ctx) {
  return SystemProfileEnvironment(&CliTimeZones(), ctx.entity_name);
}

}  // namespace remoteccm
