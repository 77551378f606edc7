// The list of profiles as the main window handles it: the last used profile in the
// install-area store, the clean-up of a typed profile name, and removing a profile file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/registry/reg_access.h"

namespace remoteccm {

inline constexpr std::string_view kLastProfileItem = "LASTPROFILE";
inline constexpr std::string_view kNoProfile = "<none>";

// LASTPROFILE of this program's section; "<none>" when it is empty or missing.
std::string ReadLastProfile(const TRegAccess& registry);

// Stores profile_path as LASTPROFILE, only when a file is there; returns whether it did.
// A refused write raises RegistryError.
bool SaveLastProfile(const TRegAccess& registry, const std::string& profile_path);

// A typed profile name as the combo keeps it: at most 255 characters, then every "." and
// every blank removed.
std::string CleanProfileName(std::string_view typed);

// The profile file a typed name stands for: home + the cleaned name + ".CCM", trimmed.
std::string ProfilePathForTypedName(std::string_view typed, const std::filesystem::path& home);

// Deletes the profile file name + ".CCM" of folder when it exists. Returns whether a file was
// deleted; a failing delete is not reported otherwise.
bool RemoveProfile(const std::filesystem::path& folder, std::string_view name);

}  // namespace remoteccm
