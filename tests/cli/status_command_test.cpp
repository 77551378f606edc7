// remoteccm-cli --status, and the status and metrics files a run leaves for it: what a
// monitoring check sees, and the exit status it acts on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/db/database.h"
#include "retrieval/report/metrics_file.h"
#include "retrieval/report/status_file.h"
#include "retrieval/spool/pass_spool.h"
#include "support/cdr_database.h"
#include "support/run_cli.h"
#include "support/scratch_dir.h"
#include "support/unprivileged.h"
#include "util/clock.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

using testing::CliResult;

class CliStatusTest : public ::testing::Test {
 protected:
  CliResult Run(const std::string& args, const std::string& env = "") const {
    return testing::RunCli(testing::HomeVariables(home_) + " " + env, args, true);
  }
  static void Put(const fs::path& file, const std::string& content) {
    testing::WriteFile(file, content);
  }
  // A profile whose last run ended `age` seconds ago with `status`, and whose last success
  // before it ended `success_age` seconds ago.
  void ProfileThatRan(const std::string& name, RunStatus status, double age,
                      std::optional<double> success_age = std::nullopt) const {
    Put(home_ / (name + ".CCM"), "[Options]\r\n");
    RunSummary run;
    run.profile_name = name;
    run.profile_path = (home_ / (name + ".CCM")).string();
    run.ended = TheSystemClock().Now() - age;
    run.started = run.ended - 30;
    run.status = status;
    run.records_collected = 1200;
    std::optional<double> success;
    if (success_age) success = TheSystemClock().Now() - *success_age;
    ASSERT_EQ(WriteStatusFile(home_ / (name + ".status"), RecordOfRun(run, success)), "");
  }
  RunStatusRecord Status(const std::string& name) const {
    const StatusFileRead read = ReadStatusFile(home_ / (name + ".status"));
    EXPECT_TRUE(read.record) << read.error;
    return read.record.value_or(RunStatusRecord{});
  }

  testing::ScratchDir home_;
};

// A run that succeeded may still leave something for a person: lines owed elsewhere, or a start
// point nothing is collected before.
TEST_F(CliStatusTest, WhatNeedsSomeoneWhateverTheResultSaid) {
  const struct {
    const char* name;
    const char* warning;
    const char* owed_at;
    const char* said;
    double age = 60;
    const char* owed_note = "";  // the destination in the home a note beside the profile names
    int exit_status = 0;
    const char* waiting = "";
    std::int64_t late = 0;
  } cases[] = {
      {"AHEAD", "start-in-future", "", "start point in the future"},
      // A run killed while it owed lines wrote no status: the note beside it tells.
      {"KILLED", "", "", "owed lines at ", 60, "CDR.TXT"},
      // The run collected, but the process ended otherwise (its log went nowhere).
      {"UNLOGGED", "", "", "exit status 74: could not write", 60, "", 74},
      {"OWING", "", "/srv/old/CDR.TXT", "owed lines at /srv/old/CDR.TXT"},
      // A path that would clear the screen is shown escaped.
      {"FORGED", "", "/srv/\x1b[2J/CDR.TXT", "owed lines at /srv/\\x1b[2J/CDR.TXT"},
      // A status from the future would never grow old.
      {"FUTURE", "", "", "last run ended in the future", -86400},
      {"REJECTS", "rejected-cdr-files", "", "damaged CDR files wait in the rejected folder"},
      {"WAITS", "cdr-files-waiting", "",
       "CDR files wait that cannot be imported: cdr_A_01_1: it cannot be opened", 60, "", 0,
       "cdr_A_01_1: it cannot be opened (Permission denied)"},
      {"LATE", "records-before-start", "",
       "12 records imported before the start point are not selected", 60, "", 0, "", 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProfileThatRan(c.name, RunStatus::kSuccess, c.age);
    RunStatusRecord record = Status(c.name);
    if (*c.warning != '\0') record.run.warnings.emplace_back(c.warning);
    record.run.owed_at = c.owed_at;
    if (c.exit_status != 0) {
      record.exit_status = c.exit_status;
      record.run.last_error = "could not write to standard output: Broken pipe";
    }
    if (*c.waiting != '\0') record.run.waiting_files.emplace_back(c.waiting);
    record.run.records_before_start = c.late;
    ASSERT_EQ(WriteStatusFile(home_ / (std::string(c.name) + ".status"), record), "");
    if (*c.owed_note != '\0') {
      ReadyNote note;
      note.profile_name = c.name;
      note.table = "CallDetailRecord";
      note.destination = (home_ / c.owed_note).string();
      note.spool_sha256 = std::string(64, '0');
      Put(OwedNotePath(home_ / (std::string(c.name) + ".CCM")), NoteText(note));
      const CliResult check = Run(std::string("--status ") + c.name + " --nagios");
      EXPECT_EQ(check.status, 1) << check.out;
      EXPECT_NE(check.out.find("owed lines at " + EscapedForLog(note.destination)),
                std::string::npos)
          << check.out;
    }
    const RunStatusRecord back = Status(c.name);
    EXPECT_EQ(back.run.warnings, record.run.warnings);
    EXPECT_EQ(back.run.owed_at, record.run.owed_at);
    EXPECT_EQ(back.run.waiting_files, record.run.waiting_files);
    EXPECT_EQ(back.run.records_before_start, c.late);
    const CliResult one = Run(std::string("--status ") + c.name);
    EXPECT_EQ(one.status, 1) << one.out;
    EXPECT_NE(one.out.find(c.said), std::string::npos) << one.out;
  }
}

TEST_F(CliStatusTest, OneProfileOrAllAndTheExitStatusAMonitorActsOn) {
  ProfileThatRan("OK", RunStatus::kSuccess, 3 * 3600);
  ProfileThatRan("FAILED", RunStatus::kPassFailed, 60);
  Put(home_ / "GARBAGE.CCM", "[Options]\r\n");
  Put(home_ / "GARBAGE.status", "{\"profile\": ");
  Put(home_ / "NEVER.CCM", "[Options]\r\n");

  // The table goes on past the garbage file and fails.
  const CliResult all = Run("--status");
  EXPECT_EQ(all.status, 1) << all.out;
  for (const char* row : {"FAILED ", "GARBAGE ", "NEVER ", "OK "}) {
    EXPECT_NE(all.out.find(std::string("\n") + row), std::string::npos) << row << all.out;
  }
  EXPECT_NE(all.out.find("pass-failed"), std::string::npos);
  EXPECT_NE(all.out.find("status file unreadable: "), std::string::npos);
  EXPECT_NE(all.out.find("never run"), std::string::npos);

  struct Case {
    std::string args;
    int status;
    std::string shown;
  };
  const Case cases[] = {
      {"--status OK", 0, "Result:       success (exit status 0)\n"},
      {"--status OK", 0, "Records:      1200 collected, 0 deleted, 0 passes\n"},
      {"--status OK --max-age 4h", 0, "Profile:      OK\n"},
      {"--status OK --max-age 2h", 1, "Attention:    last run older than 2h00m\n"},
      {"--status FAILED", 1, "Attention:    last run failed\n"},
      {"--status GARBAGE", 1,
       "GARBAGE: the status file " + EscapedForLog((home_ / "GARBAGE.status").string()) +
           " cannot be read: "},
      {"--status NEVER", 0, "NEVER: no status file yet"},
      {"--status NEVER --max-age 1d", 1, "Attention:    never run\n"},
      {"--status NOSUCH", 2, "there is no profile file"},
  };
  for (const Case& c : cases) {
    const CliResult result = Run(c.args);
    EXPECT_EQ(result.status, c.status) << c.args << "\n" << result.out;
    EXPECT_NE(result.out.find(c.shown), std::string::npos) << c.args << "\n" << result.out;
  }
}

// A home that is not there, not a folder or not readable is said, never shown as a home
// without profiles; --status makes no home either. Profiles named by path need no home.
TEST_F(CliStatusTest, AHomeThatCannotBeLookedIntoIsAnError) {
  ProfileThatRan("SITE", RunStatus::kSuccess, 60);
  const fs::path missing = home_ / "typo";
  const std::string missing_shown = EscapedForLog(missing.string());
  Put(home_ / "file", "");
  const struct {
    std::string home;
    std::string args;
    int status;
    std::string said;
  } cases[] = {
      {missing.string(), "--status", 2, "the program home " + missing_shown + " does not exist"},
      {missing.string(), "--status SITE --nagios", 3,
       "REMOTECCM UNKNOWN - SITE: the program home " + missing_shown + " does not exist"},
      {missing.string(), "--status SITE", 2, "does not exist"},
      {(home_ / "file").string(), "--status", 2, " is not a folder"},
      {missing.string(), "--status '" + (home_ / "SITE").string() + "' --nagios", 0,
       "REMOTECCM OK - SITE"},
  };
  for (const auto& c : cases) {
    const CliResult result = Run("--home '" + c.home + "' " + c.args);
    EXPECT_EQ(result.status, c.status) << c.args << "\n" << result.out;
    EXPECT_NE(result.out.find(c.said), std::string::npos) << c.args << "\n" << result.out;
  }
  EXPECT_FALSE(fs::exists(missing));

  // A user who may pass through the home but not list it: the table says why; a check of one
  // profile still works.
  if (!testing::RunsAsSuperuser()) return;
  const fs::path program = home_ / "remoteccm-cli";
  fs::copy_file(REMOTECCM_CLI_PATH, program);
  fs::permissions(home_, fs::perms::others_exec, fs::perm_options::add);
  const std::string env =
      "REMOTECCM_HOME='" + home_.string() + "' LSAN_OPTIONS=print_suppressions=0";
  testing::AsUnprivilegedUser([&] {
    CliResult result = testing::RunCli(env, "--status", true, program.string());
    EXPECT_EQ(result.status, 2) << result.out;
    EXPECT_NE(result.out.find(" cannot be read: Permission denied"), std::string::npos)
        << result.out;
    result = testing::RunCli(env, "--status SITE --nagios", true, program.string());
    EXPECT_EQ(result.status, 0) << result.out;
  });
}

TEST_F(CliStatusTest, MaxAgeTakesDurationsAndRefusesGarbage) {
  for (const char* good : {"90s", "15m", "2h", "1d", "1h30m", "3600", "36500d"}) {
    EXPECT_EQ(Run(std::string("--status --max-age ") + good).status, 0) << good;
  }
  for (const char* bad : {"''", "abc", "0", "0s", "-5m", "2x", "1h30", "1.5h", "' 2h'", "2H",
                          "99999999999999999999d", "40000d", "--status"}) {
    EXPECT_EQ(Run(std::string("--status --max-age ") + bad).status, 64) << bad;
  }
  EXPECT_EQ(Run("--max-age 2h SITE").status, 64);
  EXPECT_EQ(Run("--status --metrics-dir /tmp").status, 64);
}

// Real runs against the SQLite driver: each leaves its status file and metrics, a failed run
// keeps the last success, and a metrics folder that is missing only costs a log line.
TEST_F(CliStatusTest, RunsWriteTheirStatusAndMetrics) {
  const std::string connection = testing::NewSqliteDatabase(home_ / "cdr.db");
  {
    DbConnection admin;
    admin.Connect(connection, "CDR", "", "");
    testing::CreateCdrTable(admin);
    admin.Execute(
        "INSERT INTO CallDetailRecord (pkid, dateTimeDisconnect) VALUES ('1', 1793491300), "
        "('2', 1793491400), ('3', 1793491500)");
  }
  const std::string good_profile = "[Options]\r\nDestinationFile=" + (home_ / "CDR.TXT").string() +
                                   "\r\nSQLConnectionString=" + connection +
                                   "\r\nConnectSQLMode=New Records Only\r\nSQLNewRecDate=" +
                                   "1793491200\r\nSQLTimeZoneOption=3\r\nSQLTimeZoneOffset=-5\r\n"
                                   "WaitBeforePollingAgain=0\r\nLogin=admin\r\n";
  Put(home_ / "SITE.CCM", good_profile);
  const fs::path metrics = home_ / "metrics";
  fs::create_directory(metrics);
  const fs::path prom = MetricsFilePath(metrics, "SITE");

  CliResult result = Run("--metrics-dir '" + metrics.string() + "' SITE");
  ASSERT_EQ(result.status, 0) << result.out;
  const RunStatusRecord first = Status("SITE");
  EXPECT_EQ(first.run.status, RunStatus::kSuccess);
  EXPECT_EQ(first.run.records_collected, 3);
  EXPECT_GE(first.run.passes, 1);
  EXPECT_EQ(first.run.destination, (home_ / "CDR.TXT").string());
  ASSERT_TRUE(first.run.stored_start);
  EXPECT_EQ(first.run.stored_start_local.size(), 19u);
  ASSERT_TRUE(first.last_success);
  const std::string text = testing::ReadFile(prom);
  EXPECT_NE(text.find("remoteccm_last_run_result{profile=\"SITE\",result=\"success\"} 1\n"),
            std::string::npos)
      << text;

  // Unusable settings: exit 3, told by both files; the last success stays.
  Put(home_ / "SITE.CCM", "[Options]\r\nSQLConnectionString=nothing usable\r\n");
  result = Run("SITE", "REMOTECCM_METRICS_DIR='" + metrics.string() + "'");
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(Status("SITE").run.status, RunStatus::kSettingsInvalid);
  EXPECT_EQ(Status("SITE").run.last_error, "Error: Invalid ODBC Connection String");
  EXPECT_EQ(Status("SITE").last_success, first.last_success);
  EXPECT_EQ(LastSuccessInMetricsFile(prom), first.last_success);

  // A metrics folder that does not exist: the run succeeds and says why there are no metrics.
  Put(home_ / "SITE.CCM", good_profile);
  result = Run("--metrics-dir '" + (home_ / "none").string() + "' SITE");
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("No metrics written to " + (home_ / "none").string() + ": "),
            std::string::npos)
      << result.out;

  result = Run("--delete-all SITE --yes --metrics-dir '" + metrics.string() + "'");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(Status("SITE").run.kind, RunKind::kDeleteAll);
  EXPECT_EQ(Run("--status SITE").status, 0);
  // The counters add up every run since the first, whatever each one's result.
  const std::string counters = testing::ReadFile(prom);
  for (const char* sample :
       {"# TYPE remoteccm_runs_total counter\n",
        "remoteccm_runs_total{profile=\"SITE\",result=\"success\"} 3\n",
        "remoteccm_runs_total{profile=\"SITE\",result=\"settings-invalid\"} 1\n",
        "remoteccm_records_collected_total{profile=\"SITE\"} 3\n"}) {
    EXPECT_NE(counters.find(sample), std::string::npos) << sample << counters;
  }
}

// --check-format nagios: the one line and the four states of a monitoring plugin; a user who
// may not read the files gets UNKNOWN and why.
TEST_F(CliStatusTest, NagiosCheckGivesTheFourStates) {
  ProfileThatRan("FRESH", RunStatus::kSuccess, 180);
  ProfileThatRan("OLD", RunStatus::kSuccess, 3 * 3600);
  ProfileThatRan("OLDER", RunStatus::kSuccess, 5 * 3600);
  ProfileThatRan("FAILED", RunStatus::kConnectionFailed, 60);
  ProfileThatRan("LOCKED", RunStatus::kLocked, 60, 180);
  // Every run for hours found the destination held (by a run that hangs): the age is that of
  // the last success.
  ProfileThatRan("HUNG", RunStatus::kLocked, 60, 5 * 3600);
  Put(home_ / "NEVER.CCM", "[Options]\r\n");
  struct Case {
    const char* profile;
    int status;
    std::string line;
  };
  const Case cases[] = {
      {"FRESH", 0, "REMOTECCM OK - FRESH: 1200 records, last run 3 min ago | records=1200 age=18"},
      {"OLD", 1, "REMOTECCM WARNING - OLD: 1200 records, last run 3 h ago; older than 2h00m |"},
      {"OLDER", 2, "REMOTECCM CRITICAL - OLDER: 1200 records, last run 5 h ago; older than 4h00m"},
      {"FAILED", 2,
       "REMOTECCM CRITICAL - FAILED: 1200 records, last run 1 min ago, no success yet; last run "
       "connection-failed (exit status 4) |"},
      {"LOCKED", 1,
       "REMOTECCM WARNING - LOCKED: 1200 records, last run 1 min ago, last success 3 min ago; "
       "another run held the destination | records=1200 age=18"},
      {"HUNG", 2,
       "REMOTECCM CRITICAL - HUNG: 1200 records, last run 1 min ago, last success 5 h ago; "
       "another run held the destination; older than 4h00m | records=1200 age=180"},
      {"NEVER", 3, "REMOTECCM UNKNOWN - NEVER: no status file yet: the profile has not run\n"},
      {"NOSUCH", 3, "REMOTECCM UNKNOWN - NOSUCH: there is no profile file "},
  };
  for (const Case& c : cases) {
    const CliResult result = Run(std::string("--status ") + c.profile +
                                 " --check-format nagios --max-age 2h --critical-age 4h");
    EXPECT_EQ(result.status, c.status) << result.out;
    EXPECT_EQ(result.out.rfind(c.line, 0), 0u) << result.out;
    if (c.status < 3) {
      EXPECT_TRUE(result.out.ends_with(";7200;14400\n")) << result.out;
    }
  }
  EXPECT_EQ(Run("--status FRESH --nagios").out.find("s;;\n") != std::string::npos, true);
  // A plugin's usage error is UNKNOWN, in one line; the same mistakes without the plugin's
  // form are the usage errors of any command.
  for (const char* wrong :
       {"--status --nagios", "--status FRESH --nagios --max-age 0",
        "--status FRESH --check-format xml", "--nagios --status FRESH --bogus"}) {
    const CliResult result = Run(wrong);
    EXPECT_EQ(result.status, 3) << wrong;
    EXPECT_EQ(result.out.rfind("REMOTECCM UNKNOWN - usage: ", 0), 0u) << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
  }
  EXPECT_EQ(Run("--critical-age 1h FRESH").status, 64);

  // The monitoring user may look into the home but not read the status file; then not even
  // look into the profile's folder. Only the superuser can run a part as another user.
  if (!testing::RunsAsSuperuser()) return;
  const fs::path program = home_ / "remoteccm-cli";
  fs::copy_file(REMOTECCM_CLI_PATH, program);
  fs::permissions(home_, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  fs::permissions(home_ / "FRESH.status", fs::perms::owner_read | fs::perms::owner_write);
  const std::string env = "REMOTECCM_HOME='" + home_.string() +
                          "' REMOTECCM_REGISTRY=/dev/null LSAN_OPTIONS=print_suppressions=0";
  const std::string check = "--status FRESH --nagios";
  testing::AsUnprivilegedUser([&] {
    const CliResult result = testing::RunCli(env, check, true, program.string());
    EXPECT_EQ(result.status, 3) << result.out;
    EXPECT_NE(result.out.find(" cannot be read: Permission denied"), std::string::npos)
        << result.out;
  });
  const fs::path closed = home_ / "closed";
  fs::create_directory(closed);
  fs::permissions(closed, fs::perms::owner_all);
  fs::copy_file(home_ / "FRESH.CCM", closed / "FRESH.CCM");
  testing::AsUnprivilegedUser([&] {
    const CliResult result = testing::RunCli(
        env, "--status '" + (closed / "FRESH").string() + "' --nagios", true, program.string());
    EXPECT_EQ(result.status, 3) << result.out;
    EXPECT_NE(result.out.find(" cannot be looked at: Permission denied"), std::string::npos)
        << result.out;
  });
}

}  // namespace
}  // namespace remoteccm
