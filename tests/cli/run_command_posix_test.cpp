// remoteccm-cli's runs where only POSIX reaches: the journal's priorities, standard output
// closed or a pipe nobody reads, a stop signal pending at the start or during a login, a profile
// name that is not UTF-8, a profile the user cannot read, a run as root in another user's home,
// the backup rotated while a run halts (SIGSTOP), and a full file system. The CliRunTest cases
// here are instantiated with run_command_test's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cdr_files_fixture.h"
#include "cli_run_fixture.h"
#include "retrieval/report/status_file.h"
#include "support/run_cli.h"
#include "support/silent_server.h"
#include "support/unprivileged.h"

namespace remoteccm {
namespace {

// The exit status of a child this test forked itself.
int WaitForExit(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Under systemd each line tells the journal its priority: record lines at debug (none at all
// with LogRecordLines=N, the count stays), a failure at err.
TEST_P(CliRunTest, TheJournalGetsEachLineWithItsPriority) {
  InsertCalls(3, 60);
  std::ofstream(home_ / "run.log").close();
  struct stat log {};
  ASSERT_EQ(::stat((home_ / "run.log").c_str(), &log), 0);
  const std::map<std::string, std::string> journal = {
      {"JOURNAL_STREAM", std::to_string(log.st_dev) + ":" + std::to_string(log.st_ino)}};
  const auto count = [this](const std::string& part) {
    const std::string text = "\n" + Log();
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
      ++n;
    }
    return n;
  };
  WriteProfile("ConnectSQLMode=All Records\r\n");
  ASSERT_EQ(Run({"SITE"}, journal), 0) << Log();
  EXPECT_EQ(count("\n<7>"), 3) << Log();
  EXPECT_EQ(count("\n<6>Retrieved: 3 records.\n"), 1) << Log();
  EXPECT_EQ(count("\n<3>"), 0) << Log();

  fs::remove(home_ / "run.log");
  WriteProfile("ConnectSQLMode=All Records\r\nLogRecordLines=N\r\n");
  ASSERT_EQ(Run({"SITE", "--log-level", "debug"}), 0) << Log();
  EXPECT_EQ(count("\n<7>"), 0) << Log();
  EXPECT_EQ(count("\n<6>Retrieved: 3 records.\n"), 1) << Log();

  fs::remove(home_ / "run.log");
  WriteProfile(
      "ConnectSQLMode=By SQL Query\r\nConnectSQL0=SELECT * FROM no_such_table\r\nConnectSQL1=<end>"
      "\r\n");
  EXPECT_EQ(Run({"SITE", "--log-level", "err"}), 5);
  EXPECT_GE(count("\n<3>"), 1) << Log();
  EXPECT_EQ(count("\n<6>"), 0) << Log();

  // The program's own error on a standard error that is the journal.
  std::ofstream(home_ / "run.err").close();
  ASSERT_EQ(::stat((home_ / "run.err").c_str(), &log), 0);
  EXPECT_EQ(Run({"NOSUCH"}, {{"JOURNAL_STREAM",
                              std::to_string(log.st_dev) + ":" + std::to_string(log.st_ino)}}),
            2);
  EXPECT_NE(Errors().find("<3>remoteccm-cli: there is no profile file "), std::string::npos)
      << Errors();
}

// Standard output closed at the start (as some schedulers do: the database connection must not
// take descriptor 1, or the log would be written into it), or a pipe whose reader went away
// (the run must not die of it): every record once, the status file written.
TEST_P(CliRunTest, StandardOutputClosedOrGoneLosesNothing) {
  struct Case {
    const char* what;
    bool reader_gone;
    int status;
  };
  const Case cases[] = {{"closed", false, 0}, {"a pipe nobody reads", true, 74}};
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    admin_.Execute("DELETE FROM " + table_);
    fs::remove(destination_);
    fs::remove(home_ / "SITE.status");
    InsertCalls(200, 60);  // more log than a pipe holds
    WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
    int pipe_ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipe_ends), 0);
    ::close(pipe_ends[0]);  // nobody reads
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("REMOTECCM_HOME", home_.c_str(), 1);
      ::setenv("REMOTECCM_REGISTRY", (home_ / "install.ini").c_str(), 1);
      if (c.reader_gone) {
        ::dup2(pipe_ends[1], STDOUT_FILENO);
      } else {
        ::close(STDOUT_FILENO);
      }
      ::close(pipe_ends[1]);
      ::execl(REMOTECCM_CLI_PATH, REMOTECCM_CLI_PATH, "SITE", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipe_ends[1]);
    EXPECT_EQ(WaitForExit(pid), c.status) << Errors();
    EXPECT_TRUE(ServerPkids().empty());
    EXPECT_EQ(CollectedPkids().size(), 200u);
    EXPECT_TRUE(fs::exists(home_ / "SITE.status"));
  }
}

// A reader that never reads (a stalled journal, a pager left open): the pipe is full before the
// run starts. The run goes on with its log left out, ends 74, and a stop signal still ends it.
TEST_P(CliRunTest, AReaderThatStopsReadingHoldsNothingUp) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  InsertCalls(200, 60);
  for (const bool stopped : {false, true}) {
    SCOPED_TRACE(stopped ? "stopped while it polls" : "to its end");
    fs::remove(destination_);
    fs::remove(home_ / "SITE.status");
    WriteProfile(stopped
                     ? "ConnectSQLMode=By SQL Query\r\nConnectSQL0=SELECT * FROM " + table_ +
                           "\r\nConnectSQL1=<end>\r\nPollAgain=Y\r\nWaitBeforePollingAgain=1\r\n"
                     : "ConnectSQLMode=All Records\r\n");
    int pipe_ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipe_ends), 0);
    ASSERT_EQ(::fcntl(pipe_ends[1], F_SETFL, O_NONBLOCK), 0);
    const std::string filler(4096, 'x');
    while (::write(pipe_ends[1], filler.data(), filler.size()) > 0) {
    }
    ASSERT_EQ(::fcntl(pipe_ends[1], F_SETFL, 0), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("REMOTECCM_HOME", home_.c_str(), 1);
      ::setenv("REMOTECCM_REGISTRY", (home_ / "install.ini").c_str(), 1);
      ::dup2(pipe_ends[1], STDOUT_FILENO);
      ::close(pipe_ends[0]);
      ::close(pipe_ends[1]);
      const std::string errors = (home_ / "run.err").string();
      if (std::freopen(errors.c_str(), "a", stderr) == nullptr) ::_exit(126);
      ::execl(REMOTECCM_CLI_PATH, REMOTECCM_CLI_PATH, "SITE", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipe_ends[1]);
    if (stopped) {
      // The signal comes once the first pass has written its lines.
      int status = 0;
      while (CollectedPkids().size() < 200) {
        ASSERT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the run ended first:\n" << Errors();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      ::kill(pid, SIGTERM);
    }
    EXPECT_EQ(WaitForExit(pid), 74) << Errors();
    ::close(pipe_ends[0]);
    EXPECT_EQ(CollectedPkids().size(), 200u);
    EXPECT_NE(Errors().find("could not write to standard output ("), std::string::npos) << Errors();
    // The status file says what the process said.
    const StatusFileRead read = ReadStatusFile(home_ / "SITE.status");
    ASSERT_TRUE(read.record.has_value()) << read.error;
    EXPECT_EQ(read.record->run.status, stopped ? RunStatus::kAborted : RunStatus::kSuccess);
    EXPECT_EQ(read.record->exit_status, 74);
    EXPECT_EQ(read.record->run.last_error.rfind("could not write to standard output (", 0), 0u)
        << read.record->run.last_error;
  }
}

// A stop signal already pending as the run starts (sent while the program was starting, its stop
// signals blocked) stops the run before it reads anything: the watcher takes it as it starts,
// and the run, started after, keeps it.
TEST_P(CliRunTest, AStopPendingAsTheRunStartsStopsIt) {
  InsertCalls(200, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stop, nullptr);
    ::kill(::getpid(), SIGTERM);  // pending, and so across exec
    ::setenv("REMOTECCM_HOME", home_.c_str(), 1);
    ::setenv("REMOTECCM_REGISTRY", (home_ / "install.ini").c_str(), 1);
    if (std::freopen((home_ / "run.log").c_str(), "w", stdout) == nullptr) ::_exit(126);
    ::execl(REMOTECCM_CLI_PATH, REMOTECCM_CLI_PATH, "SITE", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  EXPECT_EQ(WaitForExit(pid), 6) << Log();
  EXPECT_EQ(ServerPkids().size(), 200u);
  EXPECT_TRUE(CollectedPkids().empty());
  const StatusFileRead read = ReadStatusFile(home_ / "SITE.status");
  ASSERT_TRUE(read.record.has_value()) << read.error;
  EXPECT_EQ(read.record->run.status, RunStatus::kAborted);
}

// A stop while the run logs in to a server that never answers ends the process within moments,
// not at the login time-out, which would hold a service's stop for all of its length.
TEST_P(CliRunTest, AStopDuringALoginToASilentServerEndsAtOnce) {
  const testing::SilentServer silent;
  connection_ = "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=" + std::to_string(silent.port()) +
                ";Database=CDR;UID=x;PWD=y";
  WriteProfile("ConnectSQLMode=All Records\r\n");
  testing::ChildProcess run = Start({"SITE"}, {}, true);
  ASSERT_TRUE(silent.WaitForClient());
  const auto stopped = std::chrono::steady_clock::now();
  run.Stop();
  EXPECT_EQ(run.Wait(), 6) << Log();
  EXPECT_LT(std::chrono::steady_clock::now() - stopped,
            std::chrono::seconds(kLoginTimeoutSeconds) / 3);
}

// A profile whose file name is not UTF-8 (only POSIX names can be) is shown escaped by --status,
// as a control character in it is.
TEST_P(CliRunTest, AProfileNameThatIsNotUtf8IsShownEscaped) {
  WriteProfile("ConnectSQLMode=No Records\r\n");
  fs::rename(home_ / "SITE.CCM", home_ / "SITE\xff.CCM");
  ASSERT_EQ(Run({"SITE\xff"}), 0) << Log();
  const testing::CliResult all = testing::RunCli(testing::HomeVariables(home_), "--status", true);
  EXPECT_NE(all.out.find("\nSITE\\xff "), std::string::npos) << all.out;
}

// A profile its user cannot read must not run with the default of every key (a default
// destination in the home, an invalid connection string): the run says why and touches nothing.
TEST_P(CliRunTest, AProfileThatCannotBeReadIsSaid) {
  InsertCalls(3, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  fs::permissions(home_, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  fs::permissions(home_ / "SITE.CCM", fs::perms::owner_read | fs::perms::owner_write);
  // The program where the unprivileged user can reach it (the build may lie in a private
  // folder), and without the leak checker's list of known leaks there: this run loads no driver.
  const fs::path program = home_ / "remoteccm-cli";
  fs::copy_file(REMOTECCM_CLI_PATH, program);
  const std::string env = "REMOTECCM_HOME='" + home_.string() +
                          "' REMOTECCM_REGISTRY=/dev/null LSAN_OPTIONS=print_suppressions=0";
  testing::AsUnprivilegedUser([&] {
    const testing::CliResult result = testing::RunCli(env, "SITE", true, program.string());
    EXPECT_EQ(result.status, 3) << result.out;
    EXPECT_NE(result.out.find("The profile file " + (home_ / "SITE.CCM").string() +
                              " cannot be read: Permission denied"),
              std::string::npos)
        << result.out;
  });
  EXPECT_EQ(ServerPkids().size(), 3u);
}

// A run by hand as root in the home of the user the schedule runs as is refused before it
// touches anything (no file left that the user could not replace), with the command to use
// instead; the user's own run then works.
TEST_P(CliRunTest, ARunAsRootOfAnotherUsersProfileIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can be refused";
  InsertCalls(3, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  const fs::path program = home_ / "remoteccm-cli";
  fs::copy_file(REMOTECCM_CLI_PATH, program);
  const uid_t user = testing::UnprivilegedUid();
  const auto owned_files = [this] {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(home_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  };
  for (const auto& entry : fs::recursive_directory_iterator(home_)) {
    ASSERT_EQ(::lchown(entry.path().c_str(), user, static_cast<gid_t>(-1)), 0);
  }
  ASSERT_EQ(::chown(home_.c_str(), user, static_cast<gid_t>(-1)), 0);
  const std::set<std::string> before = owned_files();
  const std::string env = "REMOTECCM_HOME='" + home_.string() +
                          "' REMOTECCM_REGISTRY=/dev/null LSAN_OPTIONS=print_suppressions=0";
  // The profile the user's, or one that root made in the user's home: both are the user's runs.
  for (const uid_t profile_owner : {user, uid_t{0}}) {
    ASSERT_EQ(::lchown((home_ / "SITE.CCM").c_str(), profile_owner, static_cast<gid_t>(-1)), 0);
    for (const std::string args : {"SITE", "--delete-all SITE --yes"}) {
      SCOPED_TRACE(args + (profile_owner == 0 ? ", root's profile" : ""));
      const testing::CliResult result = testing::RunCli(env, args, true, program.string());
      EXPECT_EQ(result.status, 64);
      EXPECT_NE(result.out.find("belongs to the user"), std::string::npos) << result.out;
      EXPECT_NE(result.out.find(" remoteccm-cli --home " + home_.string() + " " + args),
                std::string::npos)
          << result.out;
      EXPECT_EQ(result.out.find("chown ") != std::string::npos, profile_owner == 0) << result.out;
      EXPECT_EQ(owned_files(), before);
      EXPECT_EQ(ServerPkids().size(), 3u);
    }
  }
  ASSERT_EQ(::lchown((home_ / "SITE.CCM").c_str(), user, static_cast<gid_t>(-1)), 0);
  // Given by path, with root's own home elsewhere (where the user cannot go): the command
  // names the profile's folder as the home, and works as it is given.
  const fs::path root_home = home_ / "root-home";
  fs::create_directory(root_home);
  fs::permissions(root_home, fs::perms::owner_all);
  const testing::CliResult refused =
      testing::RunCli("REMOTECCM_HOME='" + root_home.string() + "' REMOTECCM_REGISTRY=/dev/null",
                      "'" + (home_ / "SITE").string() + "'", true, program.string());
  EXPECT_EQ(refused.status, 64);
  const std::string intro = "Run it as that user:\n  ";
  const std::size_t at = refused.out.find(intro);
  ASSERT_NE(at, std::string::npos) << refused.out;
  std::string suggested = refused.out.substr(at + intro.size());
  suggested.erase(suggested.find('\n'));
  EXPECT_NE(suggested.find(" remoteccm-cli --home " + home_.string() + " SITE"), std::string::npos)
      << suggested;
  const std::string shell =
      "REMOTECCM_REGISTRY=/dev/null LSAN_OPTIONS=print_suppressions=0 "
      "PATH='" +
      home_.string() + "':\"$PATH\" " + suggested + " >/dev/null 2>&1";
  EXPECT_EQ(WEXITSTATUS(std::system(shell.c_str())), 0) << suggested;
  EXPECT_TRUE(ServerPkids().empty());
  EXPECT_EQ(CollectedPkids().size(), 3u);
}

// The backup is rotated under the destination's lock: not while a run is writing (75, nothing
// moved), then aside; the next run starts a new one with its header, and no record is lost.
TEST_P(CliRunTest, TheBackupRotatesOnlyBetweenRuns) {
  InsertCalls(4, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\nSQLBackup=Y\r\n");
  const fs::path backup = fs::path(destination_).replace_extension(".BAK");
  testing::ChildProcess run = Start(
      {"SITE"}, {{"REMOTECCM_FAULT_POINT", "spool-durable"}, {"REMOTECCM_FAULT_ACTION", "stop"}});
  int status = 0;
  ASSERT_EQ(::waitpid(run.Id(), &status, WUNTRACED), run.Id());
  ASSERT_TRUE(WIFSTOPPED(status)) << Log();
  EXPECT_EQ(Run({"--rotate-backup", "SITE"}), 75);
  EXPECT_TRUE(fs::exists(backup));
  ::kill(run.Id(), SIGCONT);
  ASSERT_EQ(run.Wait(), 0) << Log();

  EXPECT_EQ(Run({"--rotate-backup", "SITE"}), 0) << Errors();
  EXPECT_FALSE(fs::exists(backup));
  InsertCalls(6, 60, 5);
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  std::vector<std::string> lines;
  for (const auto& entry : fs::directory_iterator(home_)) {
    if (!entry.path().filename().string().starts_with("CDR.BAK")) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  // Two files, each with its header line: the four records of the first run, two of the next.
  EXPECT_EQ(lines.size(), 8u);
  EXPECT_EQ(std::count_if(
                lines.begin(), lines.end(),
                [](const std::string& line) { return line.find(",pkid,") != std::string::npos; }),
            2);
  EXPECT_EQ(Run({"--rotate-backup", "NOSUCH"}), 2);
}

// The destination's file system fills up after the server deleted the records: the run fails,
// the lines wait in the spool, and the next run with room appends them.
// One driver is enough for a file-system fault.
class CliFileSystemTest : public CliRunTest {};

TEST_P(CliFileSystemTest, FullFileSystemKeepsTheLinesForTheNextRun) {
  const fs::path small = home_ / "small";
  fs::create_directories(small);
  if (::geteuid() != 0 || ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=512k") != 0) {
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  }
  // Detached even while a file on it is still open, whichever way the test ends.
  const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
      &small, [](const fs::path* path) { ::umount2(path->c_str(), MNT_DETACH); });
  destination_ = (small / "CDR.TXT").string();
  InsertCalls(2000, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary)
      << "[CCM_FIELDS]\r\npkid=10\r\ndateTimeOrigination=22\r\ncallingPartyNumber=22\r\n"
         "originalCalledPartyNumber=24\r\nduration=8\r\nclientMatterCode=16\r\n";
  // About 210 KB of lines: the spool fits, a second copy of them does not.
  const std::string filler((512 - 300) * 1024, 'x');
  std::ofstream(small / "filler", std::ios::binary) << filler;

  EXPECT_EQ(Run({"SITE"}), 5);
  EXPECT_TRUE(ServerPkids().empty());  // deleted on the server, owed to the destination
  EXPECT_TRUE(fs::exists(destination_ + ".spool"));
  EXPECT_TRUE(!fs::exists(destination_) || fs::file_size(destination_) == 0);

  fs::remove(small / "filler");
  EXPECT_EQ(Run({"SITE"}), 0);
  std::ifstream in(destination_, std::ios::binary);
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  EXPECT_EQ(lines, 2000);
  EXPECT_FALSE(fs::exists(destination_ + ".spool"));
}

INSTANTIATE_TEST_SUITE_P(Sqlite, CliFileSystemTest, ::testing::Values("sqlite"),
                         [](const auto& param_info) { return param_info.param; });

class CliFullHomeTest : public CdrFilesCliTest {};

// A profile that collects CDR files, in a folder with no room left: its records cannot go into
// its database there. That is a file that cannot be written (exit 5), and the run says which,
// not a connection that failed; the files wait in their folder.
TEST_P(CliFullHomeTest, AFullProgramHomeIsAFileThatCannotBeWritten) {
  const fs::path small = home_ / "small";
  fs::create_directories(small);
  if (::geteuid() != 0 || ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  }
  const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
      &small, [](const fs::path* path) { ::umount2(path->c_str(), MNT_DETACH); });
  std::ofstream(small / "SITE.CCM", std::ios::binary)
      << "[Options]\r\nDestinationFile=" << destination_
      << "\r\nCdrFileFolder=" << Folder().string()
      << "\r\nCdrFileSettleSeconds=0\r\nConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n";
  PutFile("cdr_C_01_202611010000_1", 1, 20);
  {
    std::ofstream filler(small / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
  }
  EXPECT_EQ(Run({(small / "SITE.CCM").string()}), 5) << Log() << Errors();
  EXPECT_NE(
      Log().find("The CDR database " + (small / "SITE.cdr.sqlite").string() + " cannot be used: "),
      std::string::npos)
      << Log();
  EXPECT_TRUE(fs::exists(Folder() / "cdr_C_01_202611010000_1"));
}

INSTANTIATE_TEST_SUITE_P(Sqlite, CliFullHomeTest, ::testing::Values("sqlite"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
