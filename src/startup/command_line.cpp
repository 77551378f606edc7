#include "startup/command_line.h"

#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::string_view kEntitySwitch = "/ENTITY:";

bool StartsWithText(std::string_view param, std::string_view prefix) {
  return param.size() >= prefix.size() && SameText(param.substr(0, prefix.size()), prefix);
}

// A parameter that names a profile: not blank, and either not beginning with "/" or an
// absolute path (a second "/" further on, which no switch has; /ENTITY: texts excepted).
bool IsProfileName(std::string_view param) {
  if (TrimView(param).empty()) return false;
  if (param.front() != '/') return true;
  return param.find('/', 1) != std::string_view::npos && !StartsWithText(param, "/ENTITY");
}

}  // namespace

int FindSwitch(const CommandLine& params, std::string_view text) {
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (SameText(params[i], text)) return static_cast<int>(i + 1);
  }
  return -1;
}

int FindSwitchPrefix(const CommandLine& params, std::string_view text) {
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (StartsWithText(params[i], text)) return static_cast<int>(i + 1);
  }
  return -1;
}

std::string EntityName(const CommandLine& params) {
  if (FindSwitchPrefix(params, "/ENTITY") < 0) return {};
  const int index = FindSwitchPrefix(params, kEntitySwitch);
  if (index < 0) return {};
  const std::string_view rest =
      std::string_view(params[static_cast<std::size_t>(index - 1)]).substr(kEntitySwitch.size());
  return std::string(rest.substr(0, kShortTextMax));
}

StartupDecision DecideStartup(const CommandLine& params) {
  StartupDecision decision;
  if (params.empty()) return decision;
  decision.entity_name = EntityName(params);
  decision.start_minimised =
      FindSwitch(params, "/VISIBLE") < 0 && FindSwitch(params, "/CONFIG") < 0;
  if (FindSwitch(params, "/DEFAULT") >= 0) return decision;
  for (auto it = params.rbegin(); it != params.rend(); ++it) {
    if (IsProfileName(*it)) {
      decision.use_last_profile = false;
      decision.profile = *it;
      break;
    }
  }
  return decision;
}

bool RunsAtOnce(const CommandLine& params, bool profile_exists) {
  if (!profile_exists || params.empty()) return false;
  return FindSwitch(params, "/CONFIG") < 0 || FindSwitch(params, "/DEFAULT") >= 0;
}

bool ClosesAfterRun(const CommandLine& params, bool connect_enabled) {
  return connect_enabled && !params.empty() && params.front() != "/CONFIG";
}

}  // namespace remoteccm
