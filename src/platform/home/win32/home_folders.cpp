// The Windows program keeps its profiles beside its executable, as the system's design says.
#include "platform/home/home_folders.h"

#include <windows.h>

#include <string>

namespace remoteccm {
namespace {

std::filesystem::path ExecutableFolder() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return std::filesystem::path(".");
    if (length < name.size()) {
      name.resize(length);
      return std::filesystem::path(name).parent_path();
    }
    name.resize(name.size() * 2);
  }
}

}  // namespace

std::filesystem::path DefaultProgramHome() { return ExecutableFolder(); }

// The install area is the registry's, as on every Windows program of the family.
std::filesystem::path DefaultRegistryStore() { return {}; }

}  // namespace remoteccm
