// Stand-in until the retrieval engine's author replaces this file with the unattended run.
#include <cstdio>

#include "cli/commands.h"

namespace remoteccm {

int RunProfileCommand(const CliContext&) {
  std::fputs("remoteccm-cli: running a profile is not available yet\n", stderr);
  return kExitUnavailable;
}

}  // namespace remoteccm
