#include "platform/home/home_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

namespace remoteccm {
namespace {

// The user's home folder: $HOME, else the password database, else the working folder.
std::filesystem::path UserHome() {
  std::string home = EnvironmentVariable("HOME");
  if (home.empty()) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
      home = found->pw_dir;
    }
  }
  if (home.empty()) {
    std::error_code error;
    return std::filesystem::current_path(error);
  }
  return home;
}

// $XDG_CONFIG_HOME when it is an absolute path (relative ones are to be ignored), else ~/.config.
std::filesystem::path ConfigHome() {
  std::filesystem::path xdg = EnvironmentVariable("XDG_CONFIG_HOME");
  if (!xdg.empty() && xdg.is_absolute()) return xdg;
  return UserHome() / ".config";
}

}  // namespace

std::filesystem::path DefaultProgramHome() { return ConfigHome() / "remoteccm"; }

std::filesystem::path DefaultRegistryStore() { return ConfigHome() / "velmor" / "install.ini"; }

}  // namespace remoteccm
