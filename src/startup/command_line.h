// The command line of both programs: the switches /VISIBLE, /CONFIG, /DEFAULT, /ENTITY: and
// a profile name or path (an absolute path is told from a switch by its second "/"), and the
// start-up decisions that follow from them. Pure functions of the parameters (without the program
// name), so every combination can be tested.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace remoteccm {

using CommandLine = std::vector<std::string>;

// The 1-based index of the first parameter equal to text, both upper-cased; -1 when none.
int FindSwitch(const CommandLine& params, std::string_view text);

// The 1-based index of the first parameter beginning with text, both upper-cased; -1 when none.
int FindSwitchPrefix(const CommandLine& params, std::string_view text);

// The text after "/ENTITY:" of the first parameter that begins so (at most 255 characters,
// case kept); empty when none does.
std::string EntityName(const CommandLine& params);

struct StartupDecision {
  bool use_last_profile = true;  // open the profile of the last-profile item
  std::string profile;           // else this name or path
  std::string entity_name;
  bool start_minimised = false;  // a parameter given, neither /VISIBLE nor /CONFIG
};

// Which profile to open, the entity name and the window's first state.
StartupDecision DecideStartup(const CommandLine& params);

// Whether the opened profile runs at once (unattended) instead of the window opening.
bool RunsAtOnce(const CommandLine& params, bool profile_exists);

// Whether the program ends after a run: only with parameters, and unless the first is exactly
// "/CONFIG" (this one test minds the case).
bool ClosesAfterRun(const CommandLine& params, bool connect_enabled);

}  // namespace remoteccm
