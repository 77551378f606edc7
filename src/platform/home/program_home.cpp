#include "platform/home/program_home.h"

#include <cstdlib>
#include <mutex>
#include <optional>

#include "platform/home/home_folders.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

std::mutex home_mutex;
std::optional<std::filesystem::path> home_override;

}  // namespace

std::string EnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::filesystem::path ProgramHomeLocation() {
  std::filesystem::path home;
  {
    const std::lock_guard<std::mutex> lock(home_mutex);
    if (home_override) home = *home_override;
  }
  if (home.empty()) {
    const std::string own = EnvironmentVariable("REMOTECCM_HOME");
    home = own.empty() ? DefaultProgramHome() : std::filesystem::path(own);
  }
  return home;
}

std::filesystem::path ProgramHome() {
  std::filesystem::path home = ProgramHomeLocation();
  CreatePrivateFolders(home);
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
  const std::string own = EnvironmentVariable("REMOTECCM_REGISTRY");
  if (!own.empty()) return own;
  return DefaultRegistryStore();
}

void RemoveStaleTemporaryFiles() {
  RemoveStaleTemporaries(ProgramHome());
  const std::filesystem::path store = RegistryStorePath();
  if (store.empty()) return;  // the system registry
  RemoveStaleTemporaries(FolderOf(store));
}

std::string OwnExecutableFileName() { return "remoteccm"; }

}  // namespace remoteccm
