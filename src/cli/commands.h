// The commands of remoteccm-cli, one file each, and what main hands them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profile/profile_file.h"
#include "retrieval/report/run_status.h"
#include "retrieval/run/engine_observer.h"
#include "timezone/zone_list.h"

namespace remoteccm {

struct CliContext {
  // The parameters that are not options, in order, as the desktop program takes them:
  // a profile name or path, "/DEFAULT", "/CONFIG", "/VISIBLE", "/ENTITY:x".
  std::vector<std::string> parameters;
  std::string entity_name;               // the text given with "/ENTITY:"
  std::filesystem::path metrics_folder;  // --metrics-dir; empty: $REMOTECCM_METRICS_DIR or none
  // --log-level: the least important lines the log shows, each with its "<N>" priority;
  // unset: every line, with priorities only when standard output is the journal.
  std::optional<LogPriority> log_level;
  std::vector<std::string> arguments;  // the command line as given, for lines that repeat it
};

// Exit status of --status when a last run failed, is older than --max-age, or its status file
// cannot be read.
inline constexpr int kExitNeedsAttention = 1;

// The profile environment of this process for ctx: the program home, the tzdata zone list
// (read once), this computer's zone, the system clock and the install-area store.
ProfileEnvironment CliProfileEnvironment(const CliContext& ctx);

// As root, when the profile file belongs to another user: prints that it must run as that
// user, with the command for it (home given as `home`), and returns true; nothing has been
// touched (owner_check.cpp of the platform's side).
bool RefusedAsRootForOwner(const CliContext& ctx, const std::filesystem::path& home,
                           const std::string& profile_path);

// The zone list of this process, read from tzdata on first use.
const std::vector<TimeZoneEntry>& CliTimeZones();

// Runs the profile of ctx.parameters unattended (run_command.cpp).
int RunProfileCommand(const CliContext& ctx);

// --delete-all PROFILE --yes: empties the profile's CDR table (run_command.cpp).
int DeleteAllCommand(const CliContext& ctx, const std::string& profile, bool confirmed);

// What --status judges by and how it answers.
struct StatusChecks {
  std::optional<std::int64_t> max_age;       // --max-age: older needs attention (WARNING)
  std::optional<std::int64_t> critical_age;  // --critical-age: older is CRITICAL
  bool nagios = false;                       // --check-format nagios: one line, exit 0 to 3
};

// Exit statuses of --status --check-format nagios, as monitoring plugins give them.
inline constexpr int kCheckOk = 0;
inline constexpr int kCheckWarning = 1;
inline constexpr int kCheckCritical = 2;
inline constexpr int kCheckUnknown = 3;

// --status [PROFILE]: the last run of one profile, or a table of every profile of the program
// home (status_command.cpp); profile empty: every profile. It changes nothing, the home
// included: a home that does not exist or cannot be read is said.
int StatusCommand(const std::string& profile, const StatusChecks& checks);

// --rotate-backup PROFILE: renames the backup file aside under the destination's lock
// (rotate_command.cpp).
int RotateBackupCommand(const CliContext& ctx, const std::string& profile);

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

// --list-links: the dial-up entries a profile's PhonebookEntry can name
// (link_commands.cpp).
int ListLinksCommand();

// --companion-listen [PATH]: listens as the companion does (POSIX: at the socket; Win32: as
// its window) and prints what arrives (companion_listen.cpp of the platform's side).
int CompanionListenCommand(const std::string& path);

}  // namespace remoteccm
