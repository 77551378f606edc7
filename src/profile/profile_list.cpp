#include "profile/profile_list.h"

#include <system_error>

#include "platform/home/program_home.h"
#include "profile/profile_file.h"
#include "util/text_routines.h"

namespace remoteccm {

std::string ReadLastProfile(const TRegAccess& registry) {
  std::string value = registry.GetRegistryItem(OwnExecutableFileName(), kLastProfileItem);
  if (value.empty()) return std::string(kNoProfile);
  return value;
}

bool SaveLastProfile(const TRegAccess& registry, const std::string& profile_path) {
  if (!ProfileFileExists(profile_path)) return false;
  registry.SetRegistryItem(OwnExecutableFileName(), kLastProfileItem, profile_path);
  return true;
}

std::string CleanProfileName(std::string_view typed) {
  const std::string dotless = StripChar(typed.substr(0, kShortTextMax), '.', 'A');
  return StripChar(dotless, ' ', 'A');
}

std::string ProfilePathForTypedName(std::string_view typed, const std::filesystem::path& home) {
  return Trim(AddTrailingBackslash(home.string()) + CleanProfileName(typed) +
              std::string(kProfileExtension));
}

bool RemoveProfile(const std::filesystem::path& folder, std::string_view name) {
  const std::filesystem::path file =
      AddTrailingBackslash(folder.string()) + std::string(name) + std::string(kProfileExtension);
  if (!ProfileFileExists(file)) return false;
  std::error_code ec;
  return std::filesystem::remove(file, ec);
}

}  // namespace remoteccm
