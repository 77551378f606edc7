// Stand-in until the time-zone helper replaces this file with the zone listing.
#include <cstdio>

#include "cli/commands.h"

namespace remoteccm {

int ListZonesCommand(const CliContext&) {
  std::fputs("remoteccm-cli: --list-zones is not available yet\n", stderr);
  return kExitUnavailable;
}

}  // namespace remoteccm
