// A connect given up on while its driver still waits for the server lives on in a thread of its
// own, past the connection object; the process joins that thread before it ends, so that no
// thread is inside a driver while the process's libraries are torn down.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "platform/db/database.h"
#include "platform/db/db_error.h"
#include "support/silent_server.h"

namespace remoteccm {
namespace {

// The state of the process's main thread as /proc shows it ('S': asleep, waiting).
char MainThreadState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text{std::istreambuf_iterator<char>(stat), std::istreambuf_iterator<char>()};
  const std::size_t name_end = text.rfind(')');
  return name_end == std::string::npos || name_end + 2 >= text.size() ? '?' : text[name_end + 2];
}

// In the child: connects to a server that never answers, gives the connect up once `go` says so,
// reports on `report` whether it was given up ('c'), and exits the process, the connection
// object gone.
[[noreturn]] void GiveUpAndExit(int port, int go, int report) {
  char outcome = 'f';
  const auto tell = [&] {
    if (::write(report, &outcome, 1) != 1) std::_Exit(3);
  };
  {
    DbConnection connection;
    std::thread canceller([&] {
      char byte = 0;
      if (::read(go, &byte, 1) == 1) connection.Cancel();
    });
    try {
      connection.Connect("Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=" + std::to_string(port) +
                             ";Database=CDR;UID=x;PWD=y",
                         "", "", "");
    } catch (const DbError& e) {
      if (std::string(e.what()) == "The connection attempt was cancelled") outcome = 'c';
    }
    if (outcome != 'c') tell();  // the parent stops waiting for the server, and for the cancel
    canceller.join();
  }
  if (outcome == 'c') tell();
  std::exit(0);
}

TEST(ConnectThreadTest, TheProcessEndsOnlyOnceTheDriverHasReturned) {
  std::optional<testing::SilentServer> server(std::in_place);
  int go[2];
  int report[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(report), 0);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(go[1]);
    ::close(report[0]);
    const int port = server->port();
    server.reset();  // the parent's alone
    GiveUpAndExit(port, go[0], report[1]);
  }
  ::close(go[0]);
  ::close(report[1]);
  const bool reached = server->WaitForClient(report[0]);
  EXPECT_TRUE(reached) << "the connect ended before it reached the server";
  if (reached) {
    EXPECT_EQ(::write(go[1], "g", 1), 1);
  }
  ::close(go[1]);
  char outcome = 0;
  EXPECT_EQ(::read(report[0], &outcome, 1), 1);
  EXPECT_EQ(outcome, 'c');

  // The child is on its way out while its connect thread still waits for the server: it must
  // wait for that thread in turn.
  int status = 0;
  pid_t ended = 0;
  while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && MainThreadState(child) != 'S') {
    std::this_thread::yield();
  }
  EXPECT_EQ(ended, 0) << "the process ended while its connect thread was inside the driver";
  server.reset();  // the driver's wait ends
  if (ended == 0) {
    ASSERT_EQ(::waitpid(child, &status, 0), child);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  ::close(report[0]);
}

}  // namespace
}  // namespace remoteccm
