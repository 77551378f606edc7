// The unattended run: opens the profile the parameters name, runs it through the retrieval
// engine with every log line on standard output, and tells the outcome by the exit status.

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "cli/cli_observer.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "companion/companion_link.h"
#include "platform/dialup/system_dialer.h"
#include "profile/profile_list.h"
#include "retrieval/report/run_report.h"
#include "retrieval/run/engine.h"
#include "startup/command_line.h"
#include "util/stop_signals.h"

namespace remoteccm {
namespace {

// The action at a fault point: the process kills itself there, as a crash would, or halts
// (SIGSTOP) until the test lets it go on; at the Nth time the point is reached.
template <typename Point>
std::function<void(Point)> StopAt(Point wanted, int occurrence, QueuedOutput& log) {
  const char* action = std::getenv("REMOTECCM_FAULT_ACTION");
  const bool halt = action != nullptr && std::string(action) == "stop";
  return [wanted, occurrence, halt, &log, seen = 0](Point reached) mutable {
    if (reached == wanted && ++seen == occurrence) {
      // The test reads the log up to the point.
      log.WaitWritten(std::chrono::seconds(5));
      EndProcessHere(halt);
      // Let go on: a stop the test asked for while the process was halted counts from here.
      WaitUntilStopSignalsTaken();
    }
  };
}

// Tests stop a run at a named point of a pass or of a CDR file's import: REMOTECCM_FAULT_POINT
// names the point, optionally with ":N" for its Nth occurrence; REMOTECCM_FAULT_ACTION=stop
// halts there instead of killing.
EngineHooks FaultPointHooks(QueuedOutput& log) {
  const char* given = std::getenv("REMOTECCM_FAULT_POINT");
  if (given == nullptr || *given == '\0') return {};
  std::string name = given;
  int occurrence = 1;
  if (const auto colon = name.find(':'); colon != std::string::npos) {
    std::from_chars(name.data() + colon + 1, name.data() + name.size(), occurrence);
    name.resize(colon);
  }
  static constexpr std::pair<const char*, PassPoint> kPoints[] = {
      {"spool-durable", PassPoint::kSpoolDurable}, {"deleted", PassPoint::kDeleted},
      {"owed-noted", PassPoint::kOwedNoted},       {"ready-noted", PassPoint::kReadyNoted},
      {"committed", PassPoint::kCommitted},        {"mid-append", PassPoint::kMidAppend},
      {"appended", PassPoint::kAppended},          {"start-stored", PassPoint::kStartStored},
      {"unmarked", PassPoint::kUnmarked},          {"backup-open", PassPoint::kBackupOpen}};
  static constexpr std::pair<const char*, CdrImportPoint> kImportPoints[] = {
      {"import-rows", CdrImportPoint::kRowsWritten},
      {"import-committed", CdrImportPoint::kCommitted},
      {"import-disposed", CdrImportPoint::kDisposed}};
  EngineHooks hooks;
  for (const auto& [point_name, point] : kPoints) {
    if (name == point_name) hooks.at_point = StopAt(point, occurrence, log);
  }
  for (const auto& [point_name, point] : kImportPoints) {
    if (name == point_name) hooks.at_import_point = StopAt(point, occurrence, log);
  }
  return hooks;
}

// The engine with what the CLI gives it: the log on standard output (and to the companion,
// looked for once as the program starts; why none is used, when it says so, is the first line
// of the log), the system clock, NetworkManager for dial-up links.
struct CliEngine {
  CliEngine(const ProfileEnvironment& env, const CliContext& ctx)
      : log(kStandardOutput),
        observer(LogOutput(ctx, log)),
        companion(FindCompanionLink(&companion_problem)),
        engine(env, observer, clock, *dialer, companion.get()) {
    observer.set_record_lines_wanted([this] { return engine.Settings().log_record_lines; });
    if (!companion_problem.empty()) engine.AddLogLine(companion_problem, LogPriority::kWarning);
  }
  static CliObserver::Output LogOutput(const CliContext& ctx, QueuedOutput& log) {
    CliObserver::Output output{.queue = &log,
                               .err_is_terminal = IsTerminal(kStandardError),
                               .out_is_terminal = IsTerminal(kStandardOutput),
                               .err_is_out = SameOpenFile(kStandardOutput, kStandardError)};
    output.priority_prefixes = ctx.log_level.has_value() || IsJournalStream(kStandardOutput);
    if (ctx.log_level) output.least_priority = *ctx.log_level;
    return output;
  }
  // The end of the run for the companion: it is given a moment for the lines still waiting.
  void FinishCompanion() {
    if (const std::string line = FinishCompanionRun(companion.get()); !line.empty()) {
      observer.LogLine(line);
    }
  }
  // Ends the log: empty when everything the run printed reached standard output, else what
  // did not, which is said on standard error when that can take it.
  std::string FinishLog() {
    if (log.Finish()) return {};
    std::string message = "could not write to standard output";
    if (log.Error() != 0) message += std::string(": ") + std::strerror(log.Error());
    if (log.LeftOut() > 0) {
      message += " (" + std::to_string(log.LeftOut()) + " log lines were left out)";
    }
    Say(message);
    return message;
  }
  // A line for the administrator once the log has ended.
  void Say(const std::string& line) {
    // A standard error that is the same stalled pipe would hold the end up: the exit status
    // says it alone then.
    if (log.Error() == 0 && log.LeftOut() > 0 && SameOpenFile(kStandardOutput, kStandardError)) {
      return;
    }
    PrintError(line);
  }
  QueuedOutput log;
  std::string companion_problem;
  CliObserver observer;
  SystemClock clock;
  std::unique_ptr<Dialer> dialer = MakeSystemDialer();
  std::unique_ptr<CompanionLink> companion;
  Engine engine;
};

bool ProfileMissing(const std::string& path) {
  if (ProfileFileExists(path)) return false;
  PrintError("there is no profile file " + path);
  return true;
}

// The profile the parameters name (or the last used one), as a full path.
std::string ChosenProfilePath(const CliContext& ctx, const ProfileEnvironment& env) {
  const StartupDecision decision = DecideStartup(ctx.parameters);
  const std::string name =
      decision.use_last_profile ? ReadLastProfile(env.registry) : decision.profile;
  return ProfilePathFor(name, env.program_home);
}

// The end of the engine's last run: the log finished, then the status file and the metrics
// (when a folder is given), which say the exit status the process ends with: 74 when the log
// did not reach standard output. What could not be written is said on standard error.
int EndRun(CliEngine& cli, RunKind kind, const ProfileEnvironment& env, const CliContext& ctx) {
  cli.FinishCompanion();
  RunSummary summary = SummaryToReport(cli.engine.LastRun(), kind, env);
  if (const std::string lost = cli.FinishLog(); !lost.empty()) {
    summary.exit_status = kExitIoError;
    summary.last_error = lost;
  }
  for (const std::string& line : ReportRun(summary, MetricsFolder(ctx.metrics_folder))) {
    cli.Say(line);
  }
  return summary.exit_status.value_or(ExitStatusOf(summary.status));
}

}  // namespace

int RunProfileCommand(const CliContext& given) {
  CliContext ctx = given;
  ctx.entity_name = EntityName(ctx.parameters);
  const ProfileEnvironment env = CliProfileEnvironment(ctx);
  const std::string path = ChosenProfilePath(ctx, env);
  if (ProfileMissing(path)) return kExitNoProfile;
  if (RefusedAsRootForOwner(ctx, env.program_home, path)) return kExitUsage;
  if (!RunsAtOnce(ctx.parameters, true)) {
    std::fputs(
        "remoteccm-cli: /CONFIG opens the profile for editing in the desktop program; "
        "nothing runs\n",
        stderr);
    return kExitUsage;
  }

  SurviveLostOutput();
  // Before the companion link starts its thread: the stop signals reach the watcher only.
  BlockStopSignals();
  CliEngine cli(env, ctx);
  Engine& engine = cli.engine;
  engine.set_hooks(FaultPointHooks(cli.log));
  // Cleared before the watcher takes a signal, so that a stop that came at any moment since the
  // start (one pending already is taken as the watcher starts) stops the run.
  engine.ClearAbort();
  {
    const StopSignalWatcher watcher([&cli] {
      cli.engine.RequestAbort();
      cli.log.Stop();
    });
    engine.RunProfile(path);
  }
  const int exit_status = EndRun(cli, RunKind::kRun, env, ctx);

  // As the window's closing would, the run makes this the last used profile.
  try {
    SaveLastProfile(env.registry, path);
  } catch (const RegistryError& e) {
    cli.Say(e.what());
  }
  return exit_status;
}

int DeleteAllCommand(const CliContext& ctx, const std::string& profile, bool confirmed) {
  const ProfileEnvironment env = CliProfileEnvironment(ctx);
  const std::string path = ProfilePathFor(profile, env.program_home);
  if (ProfileMissing(path)) return kExitNoProfile;
  if (!confirmed) {
    std::fputs(
        "remoteccm-cli: --delete-all empties the whole CDR table on the server; "
        "add --yes to do it\n",
        stderr);
    return kExitUsage;
  }
  if (RefusedAsRootForOwner(ctx, env.program_home, path)) return kExitUsage;
  SurviveLostOutput();
  CliEngine cli(env, ctx);
  cli.engine.ClearAbort();
  cli.engine.DeleteAllRecords(LoadProfile(path, env));
  // The exit status the status file records: 3 or 4 when the database was never reached.
  return EndRun(cli, RunKind::kDeleteAll, env, ctx);
}

}  // namespace remoteccm
