// The unattended run: opens the profile the parameters name, runs it through the retrieval
// engine with every log line on standard output, and tells the outcome by the exit status.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "profile/profile_list.h"
#include "retrieval/engine.h"
#include "startup/command_line.h"

namespace remoteccm {
namespace {

std::atomic<Engine*> g_running_engine{nullptr};

extern "C" void RequestAbortOnSignal(int) {
  Engine* engine = g_running_engine.load();
  if (engine != nullptr) engine->RequestAbort();
}

// Log lines to standard output as they come; status texts and a progress bar to standard
// error when it is a terminal, nowhere otherwise.
class CliObserver : public EngineObserver {
 public:
  CliObserver() : terminal_(::isatty(STDERR_FILENO) == 1) {}

  void ClearLog() override {}
  void LogLine(std::string_view line) override {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    if (terminal_) std::fflush(stdout);
  }
  void SetStatus1(std::string_view text) override { Status(text); }
  void SetStatus2(std::string_view text) override { Status(text); }
  void SetProgress(int position) override {
    if (!terminal_ || !shown_ || position == position_) return;
    position_ = position;
    const int filled = position / 5;
    std::fprintf(stderr, "\r[%-20.*s] %3d%%", filled, "####################", position);
    std::fflush(stderr);
  }
  void ShowProgress(bool shown) override { shown_ = shown; }
  void SetRunning(bool running) override {
    if (terminal_ && !running) std::fputc('\n', stderr);
  }
  void ShowConnectionError(std::string_view message) override {
    std::fprintf(stderr, "remoteccm-cli: %.*s\n", static_cast<int>(message.size()), message.data());
  }

 private:
  void Status(std::string_view text) {
    if (!terminal_ || text.empty()) return;
    std::fprintf(stderr, "\r%.*s\033[K\n", static_cast<int>(text.size()), text.data());
    position_ = -1;
  }

  bool terminal_;
  bool shown_ = false;
  int position_ = -1;
};

// The engine with what the CLI gives it: the log on standard output, the system clock, no
// dial-up networking, no companion window.
struct CliEngine {
  explicit CliEngine(const ProfileEnvironment& env)
      : engine(env, observer, clock, dialer, nullptr) {}
  CliObserver observer;
  SystemClock clock;
  UnavailableDialer dialer;
  Engine engine;
};

bool ProfileMissing(const std::string& path) {
  if (ProfileFileExists(path)) return false;
  std::fprintf(stderr, "remoteccm-cli: there is no profile file %s\n", path.c_str());
  return true;
}

// The profile the parameters name (or the last used one), as a full path.
std::string ChosenProfilePath(const CliContext& ctx, const ProfileEnvironment& env) {
  const StartupDecision decision = DecideStartup(ctx.parameters);
  const std::string name =
      decision.use_last_profile ? ReadLastProfile(env.registry) : decision.profile;
  return ProfilePathFor(name, env.program_home);
}

}  // namespace

int RunProfileCommand(const CliContext& given) {
  CliContext ctx = given;
  ctx.entity_name = EntityName(ctx.parameters);
  const ProfileEnvironment env = CliProfileEnvironment(ctx);
  const std::string path = ChosenProfilePath(ctx, env);
  if (ProfileMissing(path)) return kExitNoProfile;
  if (!RunsAtOnce(ctx.parameters, true)) {
    std::fputs(
        "remoteccm-cli: /CONFIG opens the profile for editing in the desktop program; "
        "nothing runs\n",
        stderr);
    return kExitUsage;
  }

  CliEngine cli(env);
  Engine& engine = cli.engine;

  struct sigaction action {};
  action.sa_handler = RequestAbortOnSignal;
  sigemptyset(&action.sa_mask);
  struct sigaction old_int {};
  struct sigaction old_term {};
  g_running_engine.store(&engine);
  sigaction(SIGINT, &action, &old_int);
  sigaction(SIGTERM, &action, &old_term);

  const RunStatus status = engine.RunProfile(path);

  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  g_running_engine.store(nullptr);

  // As the window's closing would, the run makes this the last used profile.
  try {
    SaveLastProfile(env.registry, path);
  } catch (const RegistryError& e) {
    std::fprintf(stderr, "remoteccm-cli: %s\n", e.what());
  }
  if (std::fflush(stdout) != 0) return kExitIoError;
  return ExitStatusOf(status);
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
  CliEngine cli(env);
  const bool deleted = cli.engine.DeleteAllRecords(LoadProfile(path, env));
  if (std::fflush(stdout) != 0) return kExitIoError;
  return deleted ? kExitOk : kExitPassFailed;
}

}  // namespace remoteccm
