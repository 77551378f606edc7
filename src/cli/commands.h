// The commands of remoteccm-cli, one file each, and what main hands them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profile/profile_file.h"
#include "retrieval/run_status.h"
#include "timezone/zone_list.h"

namespace remoteccm {

struct CliContext {
  // The parameters that are not options, in order, as the desktop program takes them:
  // a profile name or path, "/DEFAULT", "/CONFIG", "/VISIBLE", "/ENTITY:x".
  std::vector<std::string> parameters;
  std::string entity_name;               // the text given with "/ENTITY:"
  std::filesystem::path metrics_folder;  // --metrics-dir; empty: $REMOTECCM_METRICS_DIR or none
};

// Exit status of --status when a last run failed, is older than --max-age, or its status file
// cannot be read.
inline constexpr int kExitNeedsAttention = 1;

// The profile environment of this process for ctx: the program home, the tzdata zone list
// (read once), this computer's zone, the system clock and the install-area store.
ProfileEnvironment CliProfileEnvironment(const CliContext& ctx);

// The zone list of this process, read from tzdata on first use.
const std::vector<TimeZoneEntry>& CliTimeZones();

// Runs the profile of ctx.parameters unattended (run_command.cpp).
int RunProfileCommand(const CliContext& ctx);

// --delete-all PROFILE --yes: empties the profile's CDR table (run_command.cpp).
int DeleteAllCommand(const CliContext& ctx, const std::string& profile, bool confirmed);

// --status [PROFILE] [--max-age SECONDS]: the last run of one profile, or a table of every
// profile of the program home (status_command.cpp); profile empty: every profile.
int StatusCommand(const CliContext& ctx, const std::string& profile,
                  std::optional<std::int64_t> max_age);

// A duration such as 90s, 15m, 2h, 1d or 1h30m (a bare number counts seconds), in seconds;
// nothing for any other text, and for zero.
std::optional<std::int64_t> ParseDuration(std::string_view text);

// --print PROFILE: every setting of the profile as loaded, one "Key=value" line per key.
int PrintCommand(const CliContext& ctx, const std::string& profile);

// --list-zones: the time zones a profile can name (zones_command.cpp).
int ListZonesCommand(const CliContext& ctx);

// --columns PROFILE, --check PROFILE: the CDR table's columns, and a connection test
// (db_commands.cpp).
int ColumnsCommand(const CliContext& ctx, const std::string& profile);
int CheckCommand(const CliContext& ctx, const std::string& profile);

// --list-links: the NetworkManager connections a profile's PhonebookEntry can name
// (link_commands.cpp).
int ListLinksCommand();

// --companion-listen [PATH]: listens as the companion does and prints what arrives
// (link_commands.cpp).
int CompanionListenCommand(const std::string& path);

}  // namespace remoteccm
