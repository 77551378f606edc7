// The companion link over a Unix socket: what reaches a companion, and what a companion that
// does not read, goes away or cannot be reached does to the sender.
#include "companion/socket_companion.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace remoteccm::testing {
namespace {

class SocketCompanionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("rccm-comp-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "companion.sock").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Everything the companion's end has received so far.
  static std::string Received(int fd) {
    std::string text;
    char buffer[65536];
    ssize_t got;
    while ((got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
      text.append(buffer, static_cast<std::size_t>(got));
    return text;
  }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(SocketCompanionTest, LinesArriveInOrderByteForByte) {
  FileDescriptor listener = ListenOnCompanionSocket(path_);
  auto link = SocketCompanionLink::Connect(path_, nullptr);
  ASSERT_NE(link, nullptr);
  FileDescriptor companion(::accept(listener.Get(), nullptr, nullptr));
  const std::string lines[] = {"Connect using Office\n", "\r\nConnection Information:\n",
                               std::string("a\0b\xff\n", 5), "last\n"};
  std::string expected;
  for (const std::string& line : lines) {
    link->Send(line);
    expected += line;
  }
  EXPECT_EQ(Received(companion.Get()), expected);
  EXPECT_EQ(link->LostLines(), 0u);
}

// The run never waits: lines the companion has no room for are lost whole, the rest arrive
// whole and in order.
TEST_F(SocketCompanionTest, ACompanionThatNeverReadsLosesWholeLinesOnly) {
  FileDescriptor listener = ListenOnCompanionSocket(path_);
  auto link = SocketCompanionLink::Connect(path_, nullptr);
  ASSERT_NE(link, nullptr);
  FileDescriptor companion(::accept(listener.Get(), nullptr, nullptr));
  constexpr int kLines = 200000;
  for (int i = 0; i < kLines; ++i) {
    link->Send("line " + std::to_string(i) + " " +
               std::string(90 + static_cast<std::size_t>(i % 7), 'x') + "\n");
  }
  EXPECT_GT(link->LostLines(), 0u);
  EXPECT_TRUE(link->Open());

  const std::string text = Received(companion.Get());
  int previous = -1;
  std::size_t at = 0;
  std::size_t count = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // the rest of a line cut short is still owed
    const std::string line = text.substr(at, end - at);
    const int n = std::stoi(line.substr(5));
    ASSERT_GT(n, previous);
    ASSERT_EQ(line, "line " + std::to_string(n) + " " +
                        std::string(90 + static_cast<std::size_t>(n % 7), 'x'));
    previous = n;
    ++count;
    at = end + 1;
  }
  EXPECT_EQ(count + link->LostLines() + (at < text.size() ? 1 : 0), std::size_t{kLines});
}

TEST_F(SocketCompanionTest, ACompanionThatGoesAwayIsDroppedSilently) {
  FileDescriptor listener = ListenOnCompanionSocket(path_);
  auto link = SocketCompanionLink::Connect(path_, nullptr);
  ASSERT_NE(link, nullptr);
  { FileDescriptor companion(::accept(listener.Get(), nullptr, nullptr)); }
  for (int i = 0; i < 3 && link->Open(); ++i) link->Send("after the companion closed\n");
  EXPECT_FALSE(link->Open());  // no SIGPIPE either: the test is still running
  link->Send("and later\n");
}

// Found once at start-up: nothing listening is no companion and no complaint; a path that can
// never be one is said.
TEST_F(SocketCompanionTest, StartUpFindsTheCompanionOrSaysWhyItCannot) {
  std::ofstream(dir_ / "regular") << "x";
  const std::string long_path = (dir_ / std::string(120, 'n')).string();
  std::string stale = (dir_ / "stale.sock").string();
  { FileDescriptor gone = ListenOnCompanionSocket(stale); }
  struct Case {
    std::string path;
    bool found;
    std::string problem;
  };
  const Case cases[] = {
      {path_, false, ""},
      {stale, false, ""},
      {(dir_ / "regular").string(), false, "is not a socket"},
      {long_path, false, "is longer than a socket path may be (107 bytes)"},
  };
  ::unsetenv("REMOTECCM_COMPANION");
  ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  EXPECT_EQ(CompanionSocketPath(), (dir_ / "velmor" / "companion.sock").string());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ::setenv("REMOTECCM_COMPANION", c.path.c_str(), 1);
    std::string problem = "?";
    EXPECT_EQ(FindCompanionLink(&problem) != nullptr, c.found);
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    EXPECT_EQ(problem.empty(), c.problem.empty()) << problem;
  }
  // A companion started later is not found by a link looked for earlier; one there at the
  // start is, at the default place when nothing is set.
  ::unsetenv("REMOTECCM_COMPANION");
  FileDescriptor listener = ListenOnCompanionSocket(CompanionSocketPath());
  EXPECT_EQ(std::filesystem::status(dir_ / "velmor").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  EXPECT_NE(FindCompanionLink(), nullptr);
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(CompanionSocketPath(), "");
  EXPECT_EQ(FindCompanionLink(), nullptr);
}

TEST_F(SocketCompanionTest, TheListenerRefusesWhatItMustNotReplace) {
  std::ofstream(dir_ / "regular") << "keep me";
  EXPECT_THROW(ListenOnCompanionSocket((dir_ / "regular").string()), FileError);
  EXPECT_EQ(std::ifstream(dir_ / "regular").get(), 'k');
  FileDescriptor first = ListenOnCompanionSocket(path_);
  EXPECT_THROW(ListenOnCompanionSocket(path_), FileError);

  // A folder the user may not write: tried by an unprivileged child, as root may write anywhere.
  const std::filesystem::path locked = dir_ / "locked";
  std::filesystem::create_directories(locked);
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all |
                                           std::filesystem::perms::group_exec |
                                           std::filesystem::perms::others_exec);
  std::filesystem::permissions(dir_, std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(out[0]);
    if (::getuid() == 0 && (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)) {
      ::_exit(2);
    }
    try {
      ListenOnCompanionSocket((locked / "companion.sock").string());
    } catch (const FileError& e) {
      [[maybe_unused]] const ssize_t sent = ::write(out[1], e.what(), std::strlen(e.what()));
      ::_exit(0);
    }
    ::_exit(1);
  }
  ::close(out[1]);
  std::string message;
  char buffer[512];
  ssize_t got;
  while ((got = ::read(out[0], buffer, sizeof buffer)) > 0)
    message.append(buffer, static_cast<std::size_t>(got));
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(message, "Cannot create the companion socket " + (locked / "companion.sock").string() +
                         ": Permission denied");
}

}  // namespace
}  // namespace remoteccm::testing
