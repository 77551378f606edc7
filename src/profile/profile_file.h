// The profile file: where it lives, the list of profiles, and loading and saving one profile
// with every default, range and encoding of the key table.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry/reg_access.h"
#include "profile/profile_settings.h"
#include "timezone/zone_list.h"
#include "timezone/zone_rule.h"
#include "util/clock.h"
#include "util/ini_file.h"

namespace remoteccm {

inline constexpr std::string_view kProfileSection = "Options";
// The key of the start of "New Records Only", which every pass moves on (CDR seconds).
inline constexpr std::string_view kStartKey = "SQLNewRecDate";
inline constexpr std::string_view kProfileExtension = ".CCM";
inline constexpr std::string_view kLineListEnd = "<end>";
inline constexpr int kLineListMaxIndex = 100;  // a line list reads back keys 0 to 100 at most

// What loading and saving take from outside the profile, so that tests can fix each of them.
struct ProfileEnvironment {
  std::filesystem::path program_home;                 // the folder of bare profile names
  const std::vector<TimeZoneEntry>* zones = nullptr;  // the zone list; nullptr: no zones
  ZoneRule computer_rule;                             // this computer's zone
  Clock* clock = nullptr;                        // the current moment; nullptr: the system clock
  TRegAccess registry{std::filesystem::path()};  // for the default destination file
  std::string entity_name;                       // the text given with /ENTITY:
};

// The environment of this process: ProgramHome(), this computer's zone, the system clock and
// the install-area store. zones must outlive the result.
ProfileEnvironment SystemProfileEnvironment(const std::vector<TimeZoneEntry>* zones,
                                            std::string entity_name);

// The current moment of env (its clock, else the system clock).
std::time_t CurrentMoment(const ProfileEnvironment& env);

// Today at 00:00 on this computer's clock, as a local date/time value.
double ComputerToday(const ProfileEnvironment& env);

// A file name's extension (from its last ".") replaced by ".CCM", added when there is none;
// the folder part is kept.
std::string WithProfileExtension(std::string_view path);

// The path a profile name or path stands for: the program home in front when it has no
// folder part, the extension replaced by ".CCM".
std::string ProfilePathFor(std::string_view name_or_path, const std::filesystem::path& home);

// The profile name of a path: its file name without extension, trimmed.
std::string ProfileNameOf(std::string_view path);

// True when a regular file (or a link to one) is at path.
bool ProfileFileExists(const std::filesystem::path& path);

// The profiles of a folder and the one selected in the list.
struct ProfileList {
  std::vector<std::string> names;  // file names without ".CCM"
  int selected = -1;               // index of the name equal to the one to select, or -1
};

// The files named *.CCM in folder (hidden ones too, no folders), sorted by name without regard
// to case; select_name is compared without regard to case. An unreadable folder lists nothing.
ProfileList ListProfiles(const std::filesystem::path& folder, std::string_view select_name);

// Every key of the file at profile_path (which need not exist) with defaults and ranges
// applied, in the order of the load steps. Never throws for the file's content.
ProfileSettings LoadProfile(const std::string& profile_path, const ProfileEnvironment& env);

// Makes profile_path the current profile: the home in front of a bare name, ".CCM" as its
// extension; loads it when its file exists. Returns whether it did (false: the profile is not
// created yet and settings keep everything but profile_path).
bool OpenProfile(ProfileSettings& settings, const std::string& profile_path,
                 const ProfileEnvironment& env);

// Writes every saved key into the file named by settings.profile_name (trimmed, the home in
// front when it has no folder part, ".CCM" as extension) and makes that file the current
// profile (settings.profile_path). All keys go into the file in one replacement: a refused
// write (IniWriteError "Unable to write to <path>") or a crash leaves it wholly as it was.
void SaveProfile(ProfileSettings& settings, const ProfileEnvironment& env);

// The keys a save writes, in the order of the key table, with their values as stored: a line
// list as one key per line, empty lines too, then "<end>" after the last.
std::vector<std::pair<std::string, std::string>> SavedProfileValues(const ProfileSettings& settings,
                                                                    const ProfileEnvironment& env);

// The lines of a line list as stored: keys stem0, stem1 ... up to "<end>" or stem100, empty
// ones left out.
std::vector<std::string> ReadLineList(const IniContent& profile, std::string_view stem);

}  // namespace remoteccm
