// remoteccm-cli: runs a profile unattended, or one of the commands that inspect profiles,
// time zones and the CDR database.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_observer.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "platform/db/database.h"
#include "platform/dialup/system_dialer.h"
#include "platform/home/program_home.h"
#include "remoteccm_version.h"
#include "startup/command_line.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::string_view kUsage =
    "usage: remoteccm-cli [--home DIR] [--metrics-dir DIR] [--log-level LEVEL]\n"
    "                     PROFILE|/DEFAULT [/CONFIG] [/VISIBLE] [/ENTITY:x]\n"
    "       remoteccm-cli [--home DIR] --print PROFILE\n"
    "       remoteccm-cli [--home DIR] --columns PROFILE\n"
    "       remoteccm-cli [--home DIR] --check PROFILE\n"
    "       remoteccm-cli [--home DIR] [--metrics-dir DIR] [--log-level LEVEL]\n"
    "                     --delete-all PROFILE --yes\n"
    "       remoteccm-cli [--home DIR] --status [PROFILE] [--max-age DURATION]\n"
    "                     [--critical-age DURATION] [--check-format nagios]\n"
    "       remoteccm-cli [--home DIR] --rotate-backup PROFILE\n"
    "       remoteccm-cli --list-zones\n"
    "       remoteccm-cli --list-links\n"
    "       remoteccm-cli --companion-listen [PATH]\n"
    "       remoteccm-cli --help | --version\n";

constexpr std::string_view kHelpText =
    "\n"
    "Collects the call detail records of a Cisco CallManager into the destination file of a\n"
    "profile. A bare PROFILE is the file PROFILE.CCM in the program home; a path is taken as\n"
    "given with its extension replaced by .CCM. /DEFAULT runs the last used profile.\n"
    "\n"
    "  --home DIR        use DIR as the program home (default: $REMOTECCM_HOME, else\n"
    "                    $XDG_CONFIG_HOME/remoteccm)\n"
    "  --print PROFILE   print every setting of the profile as loaded, one Key=value per line\n"
    "  --columns PROFILE list the columns of the profile's CDR table\n"
    "  --check PROFILE   test the profile's database connection\n"
    "  --delete-all PROFILE --yes\n"
    "                    empty the profile's whole CDR table on the server\n"
    "  --status [PROFILE]\n"
    "                    the last run of PROFILE, or a table of every profile; exits 1 when\n"
    "                    a last run failed, is older than --max-age, or its status file\n"
    "                    cannot be read\n"
    "  --max-age DURATION\n"
    "                    with --status: how old a last run may be (90s, 15m, 2h, 1d, 1h30m)\n"
    "  --critical-age DURATION\n"
    "                    with --status: an older last run is critical\n"
    "  --check-format nagios, --nagios\n"
    "                    with --status PROFILE: one line as monitoring plugins print it,\n"
    "                    \"REMOTECCM OK - PROFILE: ... | records=N age=Ns;WARN;CRIT\"; exit\n"
    "                    0 OK, 1 WARNING (the last success older than --max-age, another run\n"
    "                    held the destination, owed lines), 2 CRITICAL (the last run failed,\n"
    "                    the last success older than --critical-age), 3 UNKNOWN (never run, a\n"
    "                    file that cannot be read, a mistake on the command line)\n"
    "  --rotate-backup PROFILE\n"
    "                    rename the backup file DEST.BAK to DEST.BAK.<UTC time> while holding\n"
    "                    the destination's lock, so that no run is appending to it; exits 75\n"
    "                    when a run holds it\n"
    "  --metrics-dir DIR also write DIR/remoteccm_PROFILE.prom after a run or --delete-all,\n"
    "                    for the node exporter's textfile collector (default:\n"
    "                    $REMOTECCM_METRICS_DIR)\n"
    "  --log-level LEVEL with a run or --delete-all: show the log's lines down to LEVEL (err,\n"
    "                    warning, info, debug: debug adds each record's line), each line\n"
    "                    starting with its priority as <3>, <4>, <6> or <7>; under systemd the\n"
    "                    priorities are given without the option\n"
    "  --list-zones      list the time zones a profile can name\n"
    "  --list-links      list the NetworkManager connections a profile's PhonebookEntry\n"
    "                    can name (UseDialup=Y brings it up before connecting)\n"
    "  --companion-listen [PATH]\n"
    "                    listen as the companion program does and print the log lines\n"
    "                    that runs send (PATH: $REMOTECCM_COMPANION, else\n"
    "                    $XDG_RUNTIME_DIR/velmor/companion.sock)\n"
    "  -h, --help        show this text\n"
    "  --version         show the version\n"
    "\n"
    "Every run and --delete-all writes PROFILE.status (JSON) beside the profile file.\n"
    "Each record reaches the destination exactly once; the backup file (SQLBackup=Y,\n"
    "DEST.BAK) holds every record read, possibly more than once.\n"
    "\n"
    "Exit status: 0 success (a run: the database was reached and every pass succeeded),\n"
    "2 no such profile file, 3 unusable connection settings, 4 dial-up or database\n"
    "connection failed, 5 a pass failed or a file could not be written, 6 aborted by a\n"
    "stop (see below), 64 wrong usage, 74 standard output could not be written,\n"
    "75 another run holds the destination (nothing was touched; try again later);\n"
    "--status: 1 a profile needs attention.\n";

enum class Command {
  kRun,
  kPrint,
  kColumns,
  kCheck,
  kDeleteAll,
  kStatus,
  kRotateBackup,
  kListZones,
  kListLinks,
  kCompanionListen,
  kHelp,
  kVersion
};

// What the command line asks for.
struct Invocation {
  CliContext ctx;
  Command command = Command::kRun;
  bool command_given = false;
  std::string profile;
  std::string socket_path;
  bool confirmed = false;
  StatusChecks checks;
  std::string status_option;  // the last option that goes with --status only
  bool metrics_given = false;

  // The command line asks for a monitoring plugin's answer (--check-format, --nagios), which
  // its usage errors take too.
  bool check_form = false;

  bool SetCommand(Command next) {
    if (command_given) return false;
    command = next;
    command_given = true;
    return true;
  }
};

// A usage error: the message and the usage on standard error, exit status 64. A monitoring
// plugin's caller reads one line on standard output and takes 3 for UNKNOWN: that is the
// answer when the line asks for one.
int UsageError(const Invocation& line, std::string_view message) {
  if (line.check_form) {
    std::string text(message);
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '|', '/');
    std::printf("REMOTECCM UNKNOWN - usage: %s\n", text.c_str());
    return kCheckUnknown;
  }
  std::fprintf(stderr, "remoteccm-cli: %.*s\n%.*s", static_cast<int>(message.size()),
               message.data(), static_cast<int>(kUsage.size()), kUsage.data());
  return kExitUsage;
}

bool TakesValue(std::string_view arg) {
  return arg == "--home" || arg == "--print" || arg == "--columns" || arg == "--check" ||
         arg == "--delete-all" || arg == "--max-age" || arg == "--metrics-dir" ||
         arg == "--log-level" || arg == "--critical-age" || arg == "--check-format" ||
         arg == "--rotate-backup";
}

// The command of an option that is followed by its profile.
std::optional<Command> ProfileCommandOf(std::string_view arg) {
  if (arg == "--print") return Command::kPrint;
  if (arg == "--columns") return Command::kColumns;
  if (arg == "--check") return Command::kCheck;
  if (arg == "--delete-all") return Command::kDeleteAll;
  if (arg == "--rotate-backup") return Command::kRotateBackup;
  return std::nullopt;
}

// The command of an option that stands alone.
std::optional<Command> BareCommandOf(std::string_view arg) {
  if (arg == "--list-zones") return Command::kListZones;
  if (arg == "--list-links") return Command::kListLinks;
  if (arg == "--help" || arg == "-h") return Command::kHelp;
  if (arg == "--version") return Command::kVersion;
  return std::nullopt;
}

// The command an option names, if it names one.
std::optional<Command> CommandOf(std::string_view arg) {
  if (const std::optional<Command> with_profile = ProfileCommandOf(arg)) return with_profile;
  if (const std::optional<Command> bare = BareCommandOf(arg)) return bare;
  if (arg == "--status") return Command::kStatus;
  if (arg == "--companion-listen") return Command::kCompanionListen;
  return std::nullopt;
}

// Reads the option args[i] that names a command, and the profile or path that goes with it.
std::optional<int> ReadCommand(Command next, const std::vector<std::string>& args, std::size_t& i,
                               Invocation& line) {
  if (!line.SetCommand(next)) return UsageError(line, "only one command at a time");
  const bool more = i + 1 < args.size();
  if (ProfileCommandOf(args[i])) {
    line.profile = args[++i];
  } else if (next == Command::kStatus) {
    if (more && !args[i + 1].starts_with("--")) line.profile = args[++i];
  } else if (next == Command::kCompanionListen) {
    // The path is optional: a next argument that is not an option is it.
    if (more && !args[i + 1].starts_with("-")) line.socket_path = args[++i];
  }
  return std::nullopt;
}

// Reads the option args[i] that goes with --status only, and its value.
std::optional<int> ReadStatusOption(const std::vector<std::string>& args, std::size_t& i,
                                    Invocation& line) {
  const std::string& arg = args[i];
  if (arg == "--max-age" || arg == "--critical-age") {
    std::optional<std::int64_t>& age =
        arg == "--max-age" ? line.checks.max_age : line.checks.critical_age;
    age = ParseDuration(args[++i]);
    if (!age) return UsageError(line, arg + " takes a duration such as 90s, 15m, 2h or 1d");
  } else if (arg == "--check-format" && args[++i] != "nagios") {
    return UsageError(line, "--check-format takes nagios");
  } else {
    line.checks.nagios = true;
  }
  line.status_option = arg;
  return std::nullopt;
}

bool IsStatusOption(std::string_view arg) {
  return arg == "--max-age" || arg == "--critical-age" || arg == "--check-format" ||
         arg == "--nagios";
}

// Reads args[i], and the value it takes (moving i past it); the exit status of a usage error.
std::optional<int> ReadArgument(const std::vector<std::string>& args, std::size_t& i,
                                Invocation& line) {
  const std::string& arg = args[i];
  if (TakesValue(arg) && i + 1 >= args.size()) return UsageError(line, arg + " needs an argument");
  if (const std::optional<Command> next = CommandOf(arg)) return ReadCommand(*next, args, i, line);
  if (IsStatusOption(arg)) return ReadStatusOption(args, i, line);
  if (arg == "--home") {
    SetProgramHome(args[++i]);
  } else if (arg == "--metrics-dir") {
    line.ctx.metrics_folder = args[++i];
    line.metrics_given = true;
  } else if (arg == "--log-level") {
    line.ctx.log_level = ParseLogPriority(args[++i]);
    if (!line.ctx.log_level)
      return UsageError(line, "--log-level takes err, warning, info or debug");
  } else if (arg == "--yes") {
    line.confirmed = true;
  } else if (arg.starts_with("--")) {
    return UsageError(line, "unknown option " + arg);
  } else {
    line.ctx.parameters.push_back(arg);
  }
  return std::nullopt;
}

// The exit status of options that do not go together.
std::optional<int> CheckCombination(const Invocation& line) {
  const Command command = line.command;
  // Beside a command only /ENTITY: has a meaning (it names the default destination file).
  for (const std::string& parameter : line.ctx.parameters) {
    if (line.command_given && !SameText(std::string_view(parameter).substr(0, 8), "/ENTITY:")) {
      return UsageError(line, "unexpected argument " + parameter);
    }
  }
  if (line.confirmed && command != Command::kDeleteAll) {
    return UsageError(line, "--yes goes with --delete-all only");
  }
  if (!line.status_option.empty() && command != Command::kStatus) {
    return UsageError(line, line.status_option + " goes with --status");
  }
  if (line.checks.nagios && line.profile.empty()) {
    return UsageError(line, "--check-format needs a PROFILE");
  }
  if (line.metrics_given && command != Command::kRun && command != Command::kDeleteAll) {
    return UsageError(line, "--metrics-dir goes with a run or --delete-all");
  }
  if (line.ctx.log_level && command != Command::kRun && command != Command::kDeleteAll) {
    return UsageError(line, "--log-level goes with a run or --delete-all");
  }
  return std::nullopt;
}

int RunCommand(Invocation& line) {
  CliContext& ctx = line.ctx;
  switch (line.command) {
    case Command::kHelp:
      std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
      std::fwrite(kHelpText.data(), 1, kHelpText.size(), stdout);
      std::fputs(std::string(PlatformHelpNotes()).c_str(), stdout);
      return kExitOk;
    case Command::kVersion:
      std::puts("remoteccm-cli " REMOTECCM_VERSION);
      return kExitOk;
    case Command::kPrint:
      return PrintCommand(ctx, line.profile);
    case Command::kColumns:
      return ColumnsCommand(ctx, line.profile);
    case Command::kCheck:
      return CheckCommand(ctx, line.profile);
    case Command::kDeleteAll:
      return DeleteAllCommand(ctx, line.profile, line.confirmed);
    case Command::kStatus:
      return StatusCommand(line.profile, line.checks);
    case Command::kRotateBackup:
      return RotateBackupCommand(ctx, line.profile);
    case Command::kListZones:
      return ListZonesCommand(ctx);
    case Command::kListLinks:
      return ListLinksCommand();
    case Command::kCompanionListen:
      return CompanionListenCommand(line.socket_path);
    case Command::kRun:
      break;
  }
  if (ctx.parameters.empty()) return UsageError(line, "no profile given");
  return RunProfileCommand(ctx);
}

}  // namespace

int CliMain(const std::vector<std::string>& args) {
  Invocation line;
  line.ctx.arguments = args;
  line.check_form = std::any_of(args.begin(), args.end(), [](const std::string& arg) {
    return arg == "--check-format" || arg == "--nagios";
  });
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (const std::optional<int> error = ReadArgument(args, i, line)) return *error;
  }
  if (const std::optional<int> error = CheckCombination(line)) return *error;
  line.ctx.entity_name = EntityName(line.ctx.parameters);
  const Command command = line.command;
  // --status only looks: it neither makes the program home nor cleans it.
  if (command != Command::kHelp && command != Command::kVersion && command != Command::kListZones &&
      command != Command::kStatus) {
    RemoveStaleTemporaryFiles();
    RemoveDialLeftovers();
  }
  return RunCommand(line);
}

}  // namespace remoteccm

int main(int argc, char** argv) {
  remoteccm::OpenMissingStandardDescriptors();
  remoteccm::WriteStandardStreamsAsBytes();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  const int status = remoteccm::CliMain(args);
  // A stop during a login to a server that never answers: the connect waits on in its driver
  // until the login time-out. The process ends now, without tearing down what it is inside.
  if (remoteccm::ConnectGivenUpStillWaiting()) {
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}
