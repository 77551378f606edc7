// The companion link over a Unix socket: what reaches a companion that reads, reads slowly or
// not at all, or goes away; which sockets the link refuses; the listener's socket.
#include "companion/socket_companion.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "support/scratch_dir.h"
#include "support/unprivileged.h"

namespace remoteccm::testing {
namespace {

namespace fs = std::filesystem;

class SocketCompanionTest : public ::testing::Test {
 protected:
  // A link to a listener at path_, and the companion's end of it.
  void Link(std::size_t queue_bytes = SocketCompanionLink::kQueueBytes) {
    listener_ = ListenOnCompanionSocket(path_);
    link_ = SocketCompanionLink::Connect(path_, nullptr, queue_bytes);
    ASSERT_NE(link_, nullptr);
    companion_ = FileDescriptor(::accept(listener_.Get(), nullptr, nullptr));
  }

  // What the companion's end holds now, without waiting.
  std::string Received() {
    std::string text;
    char buffer[65536];
    ssize_t got;
    while ((got = ::recv(companion_.Get(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
      text.append(buffer, static_cast<std::size_t>(got));
    return text;
  }
  // Everything the companion gets until the link closes.
  std::string ReceivedToTheEnd(std::string text) {
    char buffer[65536];
    ssize_t got;
    while ((got = ::recv(companion_.Get(), buffer, sizeof buffer, 0)) > 0)
      text.append(buffer, static_cast<std::size_t>(got));
    return text;
  }

  testing::ScratchDir dir_;
  std::string path_ = (dir_ / "companion.sock").string();
  FileDescriptor listener_;
  std::unique_ptr<SocketCompanionLink> link_;
  FileDescriptor companion_;
};

std::string Line(int n) {
  return "line " + std::to_string(n) + " " + std::string(90 + static_cast<std::size_t>(n % 7), 'x');
}

TEST_F(SocketCompanionTest, LinesArriveInOrderByteForByte) {
  Link();
  const std::string lines[] = {"Connect using Office\n", "\r\nConnection Information:\n",
                               std::string("a\0b\xff\n", 5), "last\n"};
  // Two runs, each waited for at its end.
  for (int run = 0; run < 2; ++run) {
    std::string expected;
    for (const std::string& line : lines) {
      link_->Send(line);
      expected += line;
    }
    EXPECT_EQ(link_->FinishRun(kCompanionFlushLimit), 0u);
    EXPECT_EQ(Received(), expected);
  }
}

// However the companion reads, the run never waits for it: what it gets are whole lines in
// order, and what it misses is counted exactly at the end of the run.
TEST_F(SocketCompanionTest, ACompanionThatReadsSlowlyOrNotAtAllMissesWholeLinesCounted) {
  struct Case {
    const char* name;
    int read_every;  // lines sent between two reads of 1 KiB by the companion; 0: never reads
  };
  for (const Case c : {Case{"never reads", 0}, Case{"reads slowly", 50}}) {
    SCOPED_TRACE(c.name);
    Link(64 * 1024);
    constexpr int kLines = 100000;
    std::string text;
    for (int i = 0; i < kLines; ++i) {
      link_->Send(Line(i) + "\n");
      if (c.read_every > 0 && i % c.read_every == 0) {
        char buffer[1024];
        const ssize_t got = ::recv(companion_.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
      }
    }
    // Not a moment more for one that never reads: the count must not depend on it. Then the
    // program ends.
    const std::uint64_t missed = link_->FinishRun(std::chrono::milliseconds(0));
    EXPECT_GT(missed, 0u);
    EXPECT_TRUE(link_->Open());
    link_.reset();
    text = ReceivedToTheEnd(text);
    int previous = -1;
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find('\n', at);
      if (end == std::string::npos) {
        // A line the end of the program cut short, counted as missed.
        const std::string cut = text.substr(at);
        EXPECT_TRUE(cut.rfind("line ", 0) == 0 || std::string("line ").rfind(cut, 0) == 0);
        break;
      }
      const std::string line = text.substr(at, end - at);
      const int n = std::stoi(line.substr(5));
      ASSERT_GT(n, previous);
      ASSERT_EQ(line, Line(n));
      previous = n;
      ++count;
      at = end + 1;
    }
    EXPECT_EQ(count + missed, std::size_t{kLines});
    fs::remove(path_);
  }
}

TEST_F(SocketCompanionTest, ACompanionThatGoesAwayIsDroppedSilently) {
  Link();
  companion_ = FileDescriptor();
  link_->Send("after the companion closed\n");
  EXPECT_EQ(link_->FinishRun(kCompanionFlushLimit), 0u);  // nobody is left to miss them
  EXPECT_FALSE(link_->Open());  // no SIGPIPE either: the test is still running
  link_->Send("and later\n");
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
    std::string problem;
  };
  const Case cases[] = {
      {path_, ""},
      {stale, ""},
      {(dir_ / "regular").string(),
       "No log line goes to a companion: " + (dir_ / "regular").string() + " is not a socket."},
      {long_path, "is longer than a socket path may be (107 bytes)."},
  };
  ::unsetenv("REMOTECCM_COMPANION");
  ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  EXPECT_EQ(CompanionSocketPath(), (dir_ / "velmor" / "companion.sock").string());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ::setenv("REMOTECCM_COMPANION", c.path.c_str(), 1);
    std::string problem = "?";
    EXPECT_EQ(FindCompanionLink(&problem), nullptr);
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    EXPECT_EQ(problem.empty(), c.problem.empty()) << problem;
  }
  // A companion started later is not found by a link looked for earlier; one there at the
  // start is, at the default place when nothing is set.
  ::unsetenv("REMOTECCM_COMPANION");
  FileDescriptor listener = ListenOnCompanionSocket(CompanionSocketPath());
  EXPECT_EQ(fs::status(dir_ / "velmor").permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_NE(FindCompanionLink(), nullptr);
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(CompanionSocketPath(), "");
  EXPECT_EQ(FindCompanionLink(), nullptr);
}

// Every log line is a billing line: the link connects only to a socket of the user running it
// (or root) in a folder nobody else may write. Tried as an unprivileged user, whose own and
// root's sockets count, and whose neighbours' do not.
TEST_F(SocketCompanionTest, OnlyASocketOfThisUserOrRootInTheirOwnFolderIsUsed) {
  const uid_t user = UnprivilegedUid();
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  struct Case {
    const char* name;
    uid_t folder_owner;
    fs::perms folder_mode;
    uid_t socket_owner;
    std::string problem;  // "" : used
  };
  std::vector<Case> cases = {
      {"own socket, own folder", user, fs::perms::owner_all, user, ""},
      {"own socket, a folder others may write", user, fs::perms::all, user,
       "of the companion socket may be written by other users"},
  };
  if (::geteuid() == 0) {
    // Only root can make a socket of another user for the test.
    const auto world = fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec;
    cases.push_back({"root's socket in root's folder", 0, world, 0, ""});
    cases.push_back({"another user's socket", user, fs::perms::owner_all, 12345,
                     "belongs to another user (uid 12345)"});
    cases.push_back({"own socket in another user's folder", 12345, world, user,
                     "of the companion socket belongs to another user (uid 12345)"});
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const fs::path folder = dir_ / std::to_string(i);
    fs::create_directories(folder);
    const std::string socket = (folder / "companion.sock").string();
    FileDescriptor listener = ListenOnCompanionSocket(socket);
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(socket.c_str(), c.socket_owner, c.socket_owner), 0);
      ASSERT_EQ(::chown(folder.c_str(), c.folder_owner, c.folder_owner), 0);
    }
    ASSERT_EQ(::chmod(socket.c_str(), 0666), 0);  // left open to all: only the check refuses it
    fs::permissions(folder, c.folder_mode);
    AsUnprivilegedUser([&] {
      std::string problem = "?";
      const auto link = SocketCompanionLink::Connect(socket, &problem);
      EXPECT_EQ(link != nullptr, c.problem.empty()) << problem;
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    });
  }
}

// The listener makes its socket for its user alone whatever the umask, and never takes the
// place of what it must not replace.
TEST_F(SocketCompanionTest, TheListenersSocketIsItsUsersAlone) {
  std::ofstream(dir_ / "regular") << "keep me";
  EXPECT_THROW(ListenOnCompanionSocket((dir_ / "regular").string()), FileError);
  EXPECT_EQ(std::ifstream(dir_ / "regular").get(), 'k');
  const mode_t umask_before = ::umask(0);
  FileDescriptor first = ListenOnCompanionSocket(path_);
  ::umask(umask_before);
  struct stat info {};
  ASSERT_EQ(::stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_THROW(ListenOnCompanionSocket(path_), FileError);

  // A folder the user may not write, and the listener's socket from another user's side.
  const fs::path locked = dir_ / "locked";
  fs::create_directories(locked);
  fs::permissions(locked, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(dir_, fs::perms::others_exec, fs::perm_options::add);
  const bool root = ::geteuid() == 0;
  AsUnprivilegedUser([&] {
    try {
      ListenOnCompanionSocket((locked / "companion.sock").string());
      ADD_FAILURE() << "listened in a folder it may not write";
    } catch (const FileError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create the companion socket " +
                                           (locked / "companion.sock").string() +
                                           ": Permission denied");
    }
    if (!root) return;  // the socket is this user's own
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path_.data(), path_.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_NE(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(errno, EACCES);
    ::close(fd);
  });
}

}  // namespace
}  // namespace remoteccm::testing
