// A CDR-file profile run as remoteccm-cli where only POSIX reaches: a stop while the import
// halts (SIGSTOP), links, pipes and other entries that can never be imported, and --check as
// root in another user's home.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cdr_files_fixture.h"
#include "support/run_cli.h"
#include "support/unprivileged.h"

namespace remoteccm {
namespace {

// A stop asked for while the import goes through many files ends it after the file it is on,
// and the run ends as stopped; what was not imported is there for the next run.
TEST_P(CdrFilesCliTest, AStopDuringTheImportEndsTheRunAsStopped) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  WriteFilesProfile(true);
  for (int file = 0; file < 5; ++file) {
    PutFile("cdr_C_01_20261101000" + std::to_string(file) + "_1", file * 10 + 1, file * 10 + 10);
  }
  testing::ChildProcess run = Start({"SITE"}, {{"REMOTECCM_FAULT_POINT", "import-committed:2"},
                                               {"REMOTECCM_FAULT_ACTION", "stop"}});
  int status = 0;
  ASSERT_EQ(::waitpid(run.Id(), &status, WUNTRACED), run.Id());
  ASSERT_TRUE(WIFSTOPPED(status));
  ::kill(run.Id(), SIGTERM);
  ::kill(run.Id(), SIGCONT);
  EXPECT_EQ(run.Wait(), 6) << Log();
  EXPECT_NE(Log().find("The run stopped during the import of the CDR files"), std::string::npos)
      << Log();
  EXPECT_EQ(Log().find("Cannot Connect"), std::string::npos) << Log();
  int left = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(Folder())) {
    left += entry.path().filename().string().starts_with("cdr_") ? 1 : 0;
  }
  EXPECT_EQ(left, 3);
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 50);
}

// What can never be imported as it stands (a link, a pipe, a second name of a file, an empty
// file, one line, lines ended by carriage returns only) is a warning: the log, the status
// file, --status, Nagios and the metrics say each. A link is never followed.
TEST_P(CdrFilesCliTest, WhatCannotBeImportedIsAWarning) {
  WriteFilesProfile(true);
  fs::create_directories(Folder());
  const fs::path target = home_ / "target";
  testing::WriteFile(target, FileText(1, 3));
  fs::create_symlink(target, Folder() / "cdr_C_01_202611010000_1");
  ASSERT_EQ(::mkfifo((Folder() / "cdr_C_01_202611010000_2").c_str(), 0600), 0);
  fs::create_hard_link(target, Folder() / "cdr_C_01_202611010000_3");
  testing::WriteFile(Folder() / "cdr_C_01_202611010000_4", "");
  testing::WriteFile(Folder() / "cdr_C_01_202611010000_5", "\"cdrRecordType\",\"pkid\"");
  testing::WriteFile(Folder() / "cdr_C_01_202611010000_6", "\"pkid\"\rINTEGER\r1\r");
  const fs::path metrics = home_ / "metrics";
  fs::create_directory(metrics);
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_METRICS_DIR", metrics.string()}}), 0) << Log();
  EXPECT_EQ(testing::ReadFile(target), FileText(1, 3));
  EXPECT_TRUE(CollectedPkids().empty());
  const std::string status = testing::ReadFile(home_ / "SITE.status");
  for (const char* said :
       {"cdr_C_01_202611010000_1: a symbolic link stands where a CDR file should be",
        "cdr_C_01_202611010000_2: a named pipe (FIFO) stands where a CDR file should be",
        "cdr_C_01_202611010000_3: a file with 2 names",
        "cdr_C_01_202611010000_4: it is not complete: it is empty",
        "cdr_C_01_202611010000_5: it is not complete: it holds one line",
        "cdr_C_01_202611010000_6: it is not complete: it holds no line feed"}) {
    EXPECT_NE(status.find(said), std::string::npos) << said << "\n" << status;
  }
  EXPECT_EQ(Run({"--status", "SITE", "--check-format", "nagios"}), 1) << Log();
  // The run's age is whatever second the check falls in.
  const std::string check = Log();
  const std::size_t warning = check.find("REMOTECCM WARNING - SITE: 0 records, last run ");
  ASSERT_NE(warning, std::string::npos) << check;
  EXPECT_NE(check.find(" s ago; CDR files wait that cannot be imported: cdr_C_01_", warning),
            std::string::npos)
      << check;
  EXPECT_NE(testing::ReadFile(metrics / "remoteccm_SITE.prom")
                .find("remoteccm_last_run_cdr_files_waiting{profile=\"SITE\"} 6"),
            std::string::npos);
}

// --check imports the folder's files: as root in a home that belongs to another user it is
// refused like a run and leaves nothing root-owned; as that user it goes on.
TEST_P(CdrFilesCliTest, RootsCheckOfAnotherUsersProfileIsRefused) {
  if (!testing::RunsAsSuperuser()) GTEST_SKIP() << "only root can be refused";
  WriteFilesProfile(true);
  PutFile("cdr_C_01_202611010000_1", 1, 3);
  const fs::path program = home_ / "remoteccm-cli";
  fs::copy_file(REMOTECCM_CLI_PATH, program);
  const uid_t user = testing::UnprivilegedUid();
  ASSERT_EQ(::chown(home_.c_str(), user, static_cast<gid_t>(-1)), 0);
  for (const auto& entry : fs::recursive_directory_iterator(home_)) {
    ASSERT_EQ(::lchown(entry.path().c_str(), user, static_cast<gid_t>(-1)), 0);
  }
  const auto root_owned = [this] {
    int count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(home_)) {
      struct stat st {};
      count += ::lstat(entry.path().c_str(), &st) == 0 && st.st_uid == 0 ? 1 : 0;
    }
    return count;
  };
  const std::string env = "REMOTECCM_HOME='" + home_.string() +
                          "' REMOTECCM_REGISTRY=/dev/null LSAN_OPTIONS=print_suppressions=0";
  for (const char* args : {"--check SITE", "--columns SITE"}) {
    SCOPED_TRACE(args);
    const testing::CliResult result = testing::RunCli(env, args, true, program.string());
    EXPECT_EQ(result.status, 64) << result.out;
    EXPECT_NE(result.out.find("belongs to the user"), std::string::npos) << result.out;
    EXPECT_EQ(root_owned(), 0);
  }
  EXPECT_TRUE(fs::exists(Folder() / "cdr_C_01_202611010000_1"));
  testing::AsUnprivilegedUser([&] {
    const testing::CliResult result = testing::RunCli(env, "--check SITE", true, program.string());
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_NE(result.out.find("Imported the CDR file"), std::string::npos) << result.out;
  });
}

}  // namespace
}  // namespace remoteccm
