// remoteccm-cli on a terminal: a real SQLite run with standard error on a pseudo-terminal draws
// the progress line there and clears it; with standard error in a file it writes nothing there.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/db/database.h"
#include "support/cdr_database.h"
#include "support/scratch_dir.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

class ProgressLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string connection = testing::NewSqliteDatabase(home_ / "cdr.db");
    DbConnection db;
    db.Connect(connection, "CDR", "", "");
    testing::CreateCdrTable(db);
    db.Execute(
        "INSERT INTO CallDetailRecord (pkid, dateTimeOrigination, dateTimeDisconnect, duration) "
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
        "SELECT i, 1793491200 + i, 1793491260 + i, 60 FROM n");
    db.Disconnect();
    std::ofstream(home_ / "SITE.CCM", std::ios::binary)
        << "[Options]\r\nDestinationFile=" << (home_ / "CDR.TXT").string()
        << "\r\nConnectSQLMode=All Records\r\nSQLConnectionString=" << connection
        << "\r\nSQLTimeZoneOption=3\r\nDeleteRecs=N\r\n";
  }
  [[noreturn]] void ExecCli(const std::string& err_file) {
    ::setenv("REMOTECCM_HOME", home_.c_str(), 1);
    ::setenv("REMOTECCM_REGISTRY", (home_ / "install.ini").c_str(), 1);
    const int out = ::open((home_ / "run.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, STDOUT_FILENO);
    if (!err_file.empty()) {
      const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(err, STDERR_FILENO);
    }
    ::execl(REMOTECCM_CLI_PATH, REMOTECCM_CLI_PATH, "SITE", static_cast<char*>(nullptr));
    ::_exit(127);
  }

  static int ExitStatus(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static std::string Read(const fs::path& file) { return testing::ReadFile(file); }

  testing::ScratchDir home_;
};

TEST_F(ProgressLineTest, DrawnOnATerminalOnly) {
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) ExecCli("");
  std::string screen;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got > 0) {
      screen.append(buffer, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO: the child closed its side
    }
  }
  ::close(master);
  EXPECT_EQ(ExitStatus(pid), 0);
  // The first draw is at once; later ones depend on how long the pass takes.
  EXPECT_TRUE(screen.starts_with("\r\033[KSelected All Records")) << screen;
  EXPECT_TRUE(screen.ends_with("\r\033[K")) << "the line is cleared at the end: " << screen;
  const std::string log = Read(home_ / "run.log");
  EXPECT_NE(log.find("Retrieved: 3000 records."), std::string::npos);
  EXPECT_EQ(log.find('\033'), std::string::npos);

  const pid_t plain = ::fork();
  ASSERT_GE(plain, 0);
  if (plain == 0) ExecCli((home_ / "stderr.txt").string());
  EXPECT_EQ(ExitStatus(plain), 0);
  EXPECT_EQ(Read(home_ / "stderr.txt"), "");
}

}  // namespace
}  // namespace remoteccm
