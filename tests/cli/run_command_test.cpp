// remoteccm-cli runs a profile unattended: its exit status, the password it never shows, and
// a stop by its user (the journal, standard output, permissions, the backup's rotation and a
// full disk: run_command_posix_test).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli_run_fixture.h"
#include "retrieval/report/status_file.h"
#include "support/cdr_database.h"
#include "support/child_process.h"

namespace remoteccm {
namespace {

TEST_P(CliRunTest, ExitStatusTellsTheOutcome) {
  InsertCalls(10, 60);
  WriteProfile("ConnectSQLMode=All Records\r\n");
  EXPECT_EQ(Run({"SITE"}), 0);
  EXPECT_EQ(Run({"NOSUCH"}), 2);
  EXPECT_EQ(Run({"--delete-all", "SITE"}), 64);  // refused without --yes
  EXPECT_EQ(ServerPkids().size(), 10u);

  WriteProfile(
      "ConnectSQLMode=By SQL Query\r\nConnectSQL0=SELECT * FROM no_such_table\r\nConnectSQL1=<end>"
      "\r\n");
  EXPECT_EQ(Run({"SITE"}), 5);  // the selection fails: a failed pass, nothing advanced
  std::ofstream(home_ / "SITE.CCM", std::ios::binary)
      << "[Options]\r\nSQLConnectionString=nothing usable\r\n";
  EXPECT_EQ(Run({"SITE"}), 3);
  std::ofstream(home_ / "SITE.CCM", std::ios::binary)
      << "[Options]\r\nSQLConnectionString=Driver=SQLite3;Database="
      << testing::DriverFilePath(home_ / "no" / "x.db") << "\r\n";
  EXPECT_EQ(Run({"SITE"}), 4);

  // Deleting everything needs a user name; a PostgreSQL string names its own.
  WriteProfile("ConnectSQLMode=All Records\r\nLogin=" +
               std::string(GetParam() == "sqlite" ? "admin" : "remoteccm") + "\r\n");
  EXPECT_EQ(Run({"--delete-all", "SITE", "--yes"}), 0) << Log();
  EXPECT_TRUE(ServerPkids().empty());
}

// A run whose connection string holds a password shows the string with the password masked.
TEST_P(CliRunTest, ARunMasksThePasswordOfTheConnectionString) {
  std::string password = "s3cret-sqlite";
  const std::size_t pwd = connection_.find("PWD=");
  if (pwd == std::string::npos) {
    connection_ += ";PWD=" + password;
  } else {
    password = connection_.substr(pwd + 4, connection_.find(';', pwd) - pwd - 4);
  }
  ASSERT_FALSE(password.empty());
  InsertCalls(3, 60);
  WriteProfile("ConnectSQLMode=All Records\r\n");
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  const std::string log = Log();
  EXPECT_NE(log.find("Connection to CCM SQL Server Successful!"), std::string::npos) << log;
  EXPECT_NE(log.find("PWD=***"), std::string::npos) << log;
  EXPECT_EQ(log.find(password), std::string::npos) << log;
}

// Each way its user stops a run ends it as an abort: exit status 6, the status file written.
TEST_P(CliRunTest, AStopSignalAbortsWithItsOwnStatus) {
  InsertCalls(50, 60);
  // By SQL Query with polling on and no deletion runs until it is stopped.
  WriteProfile("ConnectSQLMode=By SQL Query\r\nConnectSQL0=SELECT * FROM " + table_ +
               "\r\nConnectSQL1=<end>\r\nPollAgain=Y\r\nWaitBeforePollingAgain=1\r\n");
  for (const testing::StopRequest& stop : testing::StopRequests()) {
    SCOPED_TRACE(stop.name);
    fs::remove(home_ / "run.log");
    fs::remove(home_ / "SITE.status");
    testing::ChildProcess run = Start({"SITE"}, {}, true);
    // The stop comes once the run is collecting (it has read records), not at a guessed moment.
    ASSERT_NO_FATAL_FAILURE(AwaitLog(run, "Retrieved: "));
    run.Stop(stop);
    EXPECT_EQ(run.Wait(), 6) << Log() << Errors();
    const StatusFileRead read = ReadStatusFile(home_ / "SITE.status");
    ASSERT_TRUE(read.record.has_value()) << read.error;
    EXPECT_EQ(read.record->run.status, RunStatus::kAborted);
    EXPECT_EQ(read.record->exit_status, 6);
  }
}

// Also the cases of run_command_posix_test, where the build has them.
INSTANTIATE_TEST_SUITE_P(Drivers, CliRunTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
