// remoteccm-cli with links: the companion listener fed by a run, --list-links over the
// stand-in NetworkManager, and a dial-up run where NetworkManager is missing.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/cli_run_fixture.h"
#include "companion/socket_companion.h"
#include "support/fake_nm.h"

namespace remoteccm {
namespace {

using CliLinksTest = CliRunTest;

std::string WithoutEmptyLines(const std::string& text) {
  std::string kept;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end > at) kept += text.substr(at, end - at) + "\n";
    at = end + 1;
  }
  return kept;
}

// remoteccm-cli --companion-listen at `socket`, its output to `out` and its standard error
// (where it says it listens) to `ready`. In the ASan build, LeakSanitizer's stop-the-world at
// the listener's exit once hung, its tracer waiting for a listener that never stopped; the
// listener's own leaks are not what these tests are about, so it runs without that check. The
// environment is made before the fork: the child only execs.
pid_t StartListener(const std::string& socket, int out, int ready) {
  std::vector<std::string> env_text = {"ASAN_OPTIONS=detect_leaks=0"};
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string_view(*e).rfind("ASAN_OPTIONS=", 0) != 0) env_text.emplace_back(*e);
  }
  std::vector<char*> env;
  env.reserve(env_text.size() + 1);
  for (std::string& text : env_text) env.push_back(text.data());
  env.push_back(nullptr);
  const pid_t listener = ::fork();
  if (listener == 0) {
    ::dup2(ready, STDERR_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::execle(REMOTECCM_CLI_PATH, REMOTECCM_CLI_PATH, "--companion-listen", socket.c_str(), nullptr,
             env.data());
    ::_exit(127);
  }
  return listener;
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
    lines.push_back(text.substr(at, text.find('\n', at) - at));
  }
  return lines;
}

// Whether what the companion got is lines of the log in its order (the last may be cut short);
// `whole` counts the whole ones.
::testing::AssertionResult WholeLinesInOrder(const std::string& got,
                                             const std::vector<std::string>& lines,
                                             std::size_t& whole) {
  std::size_t next = 0;
  for (std::size_t at = 0; at < got.size();) {
    const std::size_t end = got.find('\n', at);
    const std::string line = got.substr(at, end == std::string::npos ? end : end - at);
    while (next < lines.size() &&
           (end == std::string::npos ? lines[next].rfind(line, 0) != 0 : lines[next] != line)) {
      ++next;
    }
    if (next >= lines.size()) {
      return ::testing::AssertionFailure()
             << "not a line of the log, or out of its order: " << line;
    }
    ++next;
    if (end == std::string::npos) break;
    ++whole;
    at = end + 1;
  }
  return ::testing::AssertionSuccess();
}

// The listener as the companion of a run of 20,000 records (more than a socket holds): one
// that reads as fast as it can gets every line; one that reads slowly or not at all never slows
// the run, gets whole lines in order, and the run's log says how many it missed.
TEST_P(CliLinksTest, TheCompanionListenerGetsEveryLineItReads) {
  constexpr int kCalls = 20000;
  InsertCalls(kCalls, 6);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=N\r\n");
  const std::string socket = (home_ / "run" / "companion.sock").string();
  enum class Reading { kFullSpeed, kSlowly, kNot };
  for (const Reading reading : {Reading::kFullSpeed, Reading::kSlowly, Reading::kNot}) {
    SCOPED_TRACE(static_cast<int>(reading));
    fs::remove(home_ / "run.log");
    fs::remove(destination_);
    // Its output goes to a file, or to a pipe that this test empties a few bytes at a time.
    const std::string printed = (home_ / "companion.out").string();
    int out[2] = {-1, -1};
    if (reading == Reading::kSlowly) {
      ASSERT_EQ(::pipe(out), 0);
    } else {
      out[1] = ::open(printed.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t listener = StartListener(socket, out[1], ready[1]);
    ::close(ready[1]);
    ::close(out[1]);
    std::string got;
    std::thread slow_reader;
    if (reading == Reading::kSlowly) {
      slow_reader = std::thread([&got, fd = out[0]] {
        char buffer[64];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) got.append(buffer, std::size_t(n));
        ::close(fd);
      });
    }
    // The listener says where it listens once its socket is there.
    std::string said;
    char c;
    while (said.find('\n') == std::string::npos && ::read(ready[0], &c, 1) == 1) said += c;
    ::close(ready[0]);
    ASSERT_EQ(said, "remoteccm-cli: listening at " + socket + " (Ctrl-C ends)\n");
    if (reading == Reading::kNot) ::kill(listener, SIGSTOP);

    EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_COMPANION", socket}}), 0) << Errors();
    EXPECT_EQ(CollectedPkids().size(), std::size_t{kCalls});
    // Told to stop before it resumes: what the collector sent is printed before it ends.
    ::kill(listener, SIGTERM);
    ::kill(listener, SIGCONT);
    int listener_status = 0;
    ::waitpid(listener, &listener_status, 0);
    EXPECT_TRUE(WIFEXITED(listener_status) && WEXITSTATUS(listener_status) == 0)
        << "wait status " << listener_status;
    if (slow_reader.joinable()) slow_reader.join();
    if (reading != Reading::kSlowly) {
      std::ifstream in(printed, std::ios::binary);
      got.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_FALSE(fs::exists(socket));

    std::string log = WithoutEmptyLines(Log());
    std::uint64_t missed = 0;
    const std::string said_missed = "The companion missed ";
    if (const std::size_t at = log.find(said_missed); at != std::string::npos) {
      missed = std::stoull(log.substr(at + said_missed.size()));
      log.erase(at, log.find('\n', at) + 1 - at);  // the one line never sent
    }
    if (reading == Reading::kFullSpeed) {
      EXPECT_EQ(missed, 0u);
      EXPECT_EQ(got, log);
      continue;
    }
    if (reading == Reading::kNot) {
      EXPECT_GT(missed, 0u);
    }
    // Whole lines of the log in its order; a last line cut by the run's end counts as missed.
    const std::vector<std::string> lines = LinesOf(log);
    std::size_t whole = 0;
    ASSERT_TRUE(WholeLinesInOrder(got, lines, whole));
    EXPECT_EQ(whole + missed, lines.size());
  }
}

// A companion socket in a folder others may write could be anyone's: the run leaves it alone
// and says so once, as the first line of its log.
TEST_P(CliLinksTest, ASocketOthersCouldHavePutThereIsRefusedAndSaid) {
  InsertCalls(3, 60);
  WriteProfile("ConnectSQLMode=All Records\r\n");
  const fs::path open_folder = home_ / "open";
  fs::create_directories(open_folder);
  fs::permissions(open_folder, fs::perms::all);
  const std::string socket = (open_folder / "companion.sock").string();
  FileDescriptor listener = ListenOnCompanionSocket(socket);
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_COMPANION", socket}}), 0) << Errors();
  const std::string said = "No log line goes to a companion: the folder " + open_folder.string() +
                           " of the companion socket may be written by other users.\n";
  EXPECT_EQ(Log().substr(0, said.size()), said);
  EXPECT_EQ(Log().find(said, 1), std::string::npos);
  pollfd waiting{listener.Get(), POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 0), 0);  // nobody connected
}

TEST_P(CliLinksTest, ListLinksAndADialWhereNetworkManagerIsMissing) {
  testing::FakeNetworkManager nm(home_ / "nm");
  nm.Add("vpn", "Office VPN");
  nm.Add("wireguard", "Home WG");
  nm.Add("802-3-ethernet", "Wired");
  fs::create_directories(home_ / "bin");
  fs::create_symlink(testing::FakeNetworkManager::Program(), home_ / "bin" / "nmcli");
  const std::string path = (home_ / "bin").string() + ":" + std::getenv("PATH");
  EXPECT_EQ(Run({"--list-links"}, {{"PATH", path}}), 0);
  EXPECT_EQ(Log(), "Home WG\nOffice VPN\n");
  nm.Stop();
  EXPECT_EQ(Run({"--list-links"}, {{"PATH", path}}), 4);

  fs::remove(home_ / "run.log");
  InsertCalls(3, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nUseDialup=Y\r\nPhonebookEntry=Office VPN \r\n");
  EXPECT_EQ(Run({"SITE"}, {{"PATH", (home_ / "nowhere").string()}}), 4);
  EXPECT_EQ(Log(),
            "Connect using Office VPN\nDialing... \n"
            "Done...NetworkManager is not installed (there is no nmcli).\n");
  EXPECT_EQ(ServerPkids().size(), 3u);
}

// The password file a run killed during its dial left for NetworkManager goes at the next start
// of the program (here a run without a link), not only at the next dial; one whose process still
// runs stays.
TEST_P(CliLinksTest, APasswordFileOfAKilledDialGoesAtTheNextStart) {
  const fs::path runtime = home_ / "runtime";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const fs::path stale = runtime / ("remoteccm-secrets-" + std::to_string(gone) + "-Xa1b2c");
  const fs::path live = runtime / ("remoteccm-secrets-" + std::to_string(::getpid()) + "-Yd3e4f");
  std::ofstream(stale) << "vpn.secrets.password:old\n";
  std::ofstream(live) << "vpn.secrets.password:in use\n";
  WriteProfile("ConnectSQLMode=All Records\r\n");
  EXPECT_EQ(Run({"SITE"}, {{"XDG_RUNTIME_DIR", runtime.string()}}), 0) << Errors();
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live));
}

INSTANTIATE_TEST_SUITE_P(Sqlite, CliLinksTest, ::testing::Values("sqlite"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
