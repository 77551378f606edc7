#include "platform/home/program_home.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "util/posix_file.h"

namespace remoteccm {
namespace {

std::mutex home_mutex;
std::optional<std::filesystem::path> home_override;

// An environment variable, empty when unset.
std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// The user's home folder: $HOME, else the password database, else the working folder.
std::filesystem::path UserHome() {
  std::string home = Environment("HOME");
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
  std::filesystem::path xdg = Environment("XDG_CONFIG_HOME");
  if (!xdg.empty() && xdg.is_absolute()) return xdg;
  return UserHome() / ".config";
}

// Creates the folder and any missing parents, each new one private to the user. A failure is
// left for the file operations inside it to report.
void CreatePrivateFolder(const std::filesystem::path& folder) {
  std::error_code error;
  if (folder.empty() || std::filesystem::is_directory(folder, error)) return;
  CreatePrivateFolder(folder.parent_path() == folder ? std::filesystem::path()
                                                     : folder.parent_path());
  ::mkdir(folder.c_str(), 0700);
}

}  // namespace

std::filesystem::path ProgramHome() {
  std::filesystem::path home;
  {
    const std::lock_guard<std::mutex> lock(home_mutex);
    if (home_override) home = *home_override;
  }
  if (home.empty()) {
    const std::string own = Environment("REMOTECCM_HOME");
    home = own.empty() ? ConfigHome() / "remoteccm" : std::filesystem::path(own);
  }
  CreatePrivateFolder(home);
  return home;
}

void SetProgramHome(const std::filesystem::path& home) {
  const std::lock_guard<std::mutex> lock(home_mutex);
  if (home.empty()) {
    home_override.reset();
  } else {
    home_override = home;
  }
}

std::filesystem::path RegistryStorePath() {
  const std::string own = Environment("REMOTECCM_REGISTRY");
  if (!own.empty()) return own;
  return ConfigHome() / "velmor" / "install.ini";
}

void RemoveStaleTemporaryFiles() {
  RemoveStaleTemporaries(ProgramHome());
  const std::filesystem::path store = RegistryStorePath();
  RemoveStaleTemporaries(store.has_parent_path() ? store.parent_path() : ".");
}

std::string OwnExecutableFileName() { return "remoteccm"; }

}  // namespace remoteccm
