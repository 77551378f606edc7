// --list-links: the dial-up entries (NetworkManager connections, RAS phone-book entries) a
// profile's PhonebookEntry can name.
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "platform/dialup/system_dialer.h"

namespace remoteccm {

int ListLinksCommand() {
  const std::unique_ptr<Dialer> dialer = MakeSystemDialer();
  std::vector<std::string> names;
  if (const int code = dialer->ListEntries(names); code != 0) {
    std::fprintf(stderr, "remoteccm-cli: %s\n", dialer->ErrorText(code).c_str());
    return kExitConnectionFailed;
  }
  for (const std::string& name : names) std::printf("%s\n", name.c_str());
  return std::fflush(stdout) == 0 ? kExitOk : kExitIoError;
}

}  // namespace remoteccm
