// Stand-in until the database helper replaces this file with --columns and --check.
#include <cstdio>

#include "cli/commands.h"

namespace remoteccm {

int ColumnsCommand(const CliContext&, const std::string&) {
  std::fputs("remoteccm-cli: --columns is not available yet\n", stderr);
  return kExitUnavailable;
}

int CheckCommand(const CliContext&, const std::string&) {
  std::fputs("remoteccm-cli: --check is not available yet\n", stderr);
  return kExitUnavailable;
}

}  // namespace remoteccm
