// The status file and the metrics file that monitoring reads: what they say, that they read
// back, that garbage is refused with a reason, and that a folder that cannot be written only
// costs a log line.
#include "retrieval/report/status_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "retrieval/report/metrics_file.h"
#include "retrieval/report/run_report.h"
#include "support/fifos.h"
#include "support/scratch_dir.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

constexpr double kNov1 = 1793491200;  // 2026-11-01 00:00:00 UTC

class StatusFileTest : public ::testing::Test {
 protected:
  RunSummary Summary(RunStatus status, double ended) const {
    RunSummary run;
    run.profile_name = "SITE";
    run.profile_path = (dir_ / "SITE.CCM").string();
    run.destination = "/data/CDR.TXT";
    run.started = ended - 65;
    run.ended = ended;
    run.status = status;
    run.records_collected = 1200;
    run.records_deleted = 1100;
    run.passes = 3;
    run.stored_start = kNov1 + 1.5;
    run.stored_start_local = "2026/10/31 19:00:01";
    return run;
  }
  static void Put(const fs::path& file, const std::string& content) {
    testing::WriteFile(file, content);
  }
  static std::string Get(const fs::path& file) { return testing::ReadFile(file); }

  testing::ScratchDir dir_;
};

TEST_F(StatusFileTest, EveryFieldReadsBack) {
  std::vector<RunSummary> runs;
  for (const RunStatus status :
       {RunStatus::kSuccess, RunStatus::kSettingsInvalid, RunStatus::kConnectionFailed,
        RunStatus::kPassFailed, RunStatus::kAborted, RunStatus::kLocked}) {
    runs.push_back(Summary(status, kNov1 + 3600));
  }
  runs[1].stored_start.reset();
  runs[1].stored_start_local.clear();
  runs[2].kind = RunKind::kDeleteAll;
  runs[3].last_error = "Delete Failed. \"quoted\", \\ and\nnew line";
  runs[4].profile_name = "caf\xC3\xA9";  // UTF-8 stays as it is

  const fs::path path = StatusFilePath(dir_ / "SITE.CCM");
  EXPECT_EQ(path, dir_ / "SITE.status");
  for (const RunSummary& run : runs) {
    const RunStatusRecord written = RecordOfRun(run, kNov1);
    ASSERT_EQ(WriteStatusFile(path, written), "");
    const StatusFileRead read = ReadStatusFile(path);
    ASSERT_TRUE(read.record) << read.error << "\n" << Get(path);
    const RunSummary& back = read.record->run;
    EXPECT_EQ(back.kind, run.kind);
    EXPECT_EQ(back.profile_name, run.profile_name);
    EXPECT_EQ(back.profile_path, run.profile_path);
    EXPECT_EQ(back.destination, run.destination);
    EXPECT_EQ(back.started, run.started);
    EXPECT_EQ(back.ended, run.ended);
    EXPECT_EQ(back.status, run.status);
    EXPECT_EQ(back.records_collected, run.records_collected);
    EXPECT_EQ(back.records_deleted, run.records_deleted);
    EXPECT_EQ(back.passes, run.passes);
    EXPECT_EQ(back.last_error, run.last_error);
    EXPECT_EQ(back.stored_start, run.stored_start);
    EXPECT_EQ(back.stored_start_local, run.stored_start_local);
    EXPECT_EQ(read.record->exit_status, ExitStatusOf(run.status));
    // Only a successful run moves the last success on.
    const bool moved = run.status == RunStatus::kSuccess && run.kind == RunKind::kRun;
    EXPECT_EQ(read.record->last_success, moved ? run.ended : kNov1);
  }
  EXPECT_NE(Get(path).find("\"started\": \"2026-11-01T00:58:55Z\""), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

  // 8-bit text that is not UTF-8 is read as Latin-1, so the file stays valid JSON.
  RunSummary latin1 = runs[0];
  latin1.destination = "/data/caf\xE9.txt";
  ASSERT_EQ(WriteStatusFile(path, RecordOfRun(latin1, std::nullopt)), "");
  EXPECT_EQ(ReadStatusFile(path).record->run.destination, "/data/caf\xC3\xA9.txt");
}

TEST_F(StatusFileTest, GarbageIsRefusedWithAReason) {
  const fs::path path = dir_ / "SITE.status";
  EXPECT_TRUE(ReadStatusFile(path).missing);

  const std::string good = StatusFileText(RecordOfRun(Summary(RunStatus::kSuccess, kNov1), {}));
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
  };
  const std::vector<std::string> garbage = {
      "",
      "{",
      "null",
      "[1, 2]",
      "not json at all",
      std::string("{\"profile\": \"A\0B\"", 17),
      good.substr(0, good.size() / 2),
      with("\"passes\": 3", "\"passes\": \"3\""),
      with("\"passes\": 3", "\"passes\": -3"),
      with("\"records_collected\": 1200", "\"records_collected\": 1e300"),
      with("\"records_collected\": 1200", "\"records_collected\": 18446744073709551615"),
      with("\"exit_status\": 0", "\"exit_status\": 99999"),
      with("\"result\": \"success\"", "\"result\": \"fine\""),
      with("\"command\": \"run\"", "\"command\": 7"),
      with("2026-11-01T00:00:00Z", "2026-02-30T00:00:00Z"),
      with("2026-11-01T00:00:00Z", "2026-11-01 00:00:00"),
      with("\"seconds\": ", "\"seconds\": \"x\", \"s\": "),
      with("\"destination\"", "\"somewhere\""),
      good + std::string(70 * 1024, ' '),
  };
  for (const std::string& text : garbage) {
    Put(path, text);
    const StatusFileRead read = ReadStatusFile(path);
    EXPECT_FALSE(read.record) << text;
    EXPECT_FALSE(read.missing);
    EXPECT_NE(read.error, "") << text;
  }
  // Not a file at all: a folder.
  fs::remove(path);
  fs::create_directory(path);
  EXPECT_NE(ReadStatusFile(path).error, "");
}

// A FIFO that no one writes to is refused rather than waited on.
TEST_F(StatusFileTest, AFifoIsRefused) {
  if (!testing::kHasFifos) GTEST_SKIP() << "this file system has no FIFOs";
  const fs::path path = dir_ / "SITE.status";
  ASSERT_TRUE(testing::MakeFifo(path));
  EXPECT_NE(ReadStatusFile(path).error, "");
}

TEST_F(StatusFileTest, MetricsFileSaysWhatTheRunDid) {
  RunStatusRecord record = RecordOfRun(Summary(RunStatus::kPassFailed, kNov1 + 60), kNov1 - 3600);
  record.run.profile_name = "Site \"A\"\\B\nC\xE9";
  const std::string text = MetricsText(record);
  const std::string label = "profile=\"Site \\\"A\\\"\\\\B\\nC\xC3\xA9\"";
  for (const std::string& line : {
           std::string("# TYPE remoteccm_last_run_timestamp_seconds gauge"),
           "remoteccm_last_run_timestamp_seconds{" + label + "} 1793491260",
           "remoteccm_last_run_start_timestamp_seconds{" + label + "} 1793491195",
           "remoteccm_last_success_timestamp_seconds{" + label + "} 1793487600",
           "remoteccm_last_run_result{" + label + ",result=\"pass-failed\"} 1",
           "remoteccm_last_run_result{" + label + ",result=\"success\"} 0",
           "remoteccm_last_run_exit_status{" + label + "} 5",
           "remoteccm_last_run_records_collected{" + label + "} 1200",
           "remoteccm_stored_start_timestamp_seconds{" + label + "} 1793491201.5",
       }) {
    EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << "\n" << text;
  }
  // Times that are not known have no sample at all.
  record.last_success.reset();
  record.run.stored_start.reset();
  const std::string unknown = MetricsText(record);
  EXPECT_EQ(unknown.find("remoteccm_last_success_timestamp_seconds{"), std::string::npos);
  EXPECT_EQ(unknown.find("remoteccm_stored_start_timestamp_seconds{"), std::string::npos);
}

// The last successful run survives failed runs and delete-alls, through the status file, or
// through the metrics file when the status file is lost.
TEST_F(StatusFileTest, LastSuccessIsCarriedOver) {
  const fs::path metrics = dir_ / "metrics";
  fs::create_directory(metrics);
  const auto last_success = [&] {
    return ReadStatusFile(dir_ / "SITE.status").record->last_success;
  };
  EXPECT_TRUE(ReportRun(Summary(RunStatus::kPassFailed, kNov1), metrics).empty());
  EXPECT_EQ(last_success(), std::nullopt);
  EXPECT_TRUE(ReportRun(Summary(RunStatus::kSuccess, kNov1 + 100), metrics).empty());
  EXPECT_TRUE(ReportRun(Summary(RunStatus::kConnectionFailed, kNov1 + 200), metrics).empty());
  RunSummary delete_all = Summary(RunStatus::kSuccess, kNov1 + 300);
  delete_all.kind = RunKind::kDeleteAll;
  EXPECT_TRUE(ReportRun(delete_all, metrics).empty());
  EXPECT_EQ(last_success(), kNov1 + 100);

  Put(dir_ / "SITE.status", "garbage");
  EXPECT_TRUE(ReportRun(Summary(RunStatus::kAborted, kNov1 + 400), metrics).empty());
  EXPECT_EQ(last_success(), kNov1 + 100);
  EXPECT_EQ(LastSuccessInMetricsFile(MetricsFilePath(metrics, "SITE")), kNov1 + 100);
  EXPECT_EQ(std::distance(fs::directory_iterator(metrics), fs::directory_iterator()), 1);
}

// A run of no profile file writes no status and no metrics: none in the working folder.
TEST_F(StatusFileTest, ARunOfNoProfileFileWritesNoStatus) {
  const fs::path metrics = dir_ / "metrics";
  fs::create_directory(metrics);
  const fs::path working = fs::current_path();
  fs::current_path(dir_);
  RunSummary nameless = Summary(RunStatus::kSettingsInvalid, kNov1);
  nameless.profile_path.clear();
  nameless.profile_name.clear();
  EXPECT_TRUE(ReportRun(nameless, metrics).empty());
  fs::current_path(working);
  EXPECT_FALSE(fs::exists(dir_ / ".status"));
  EXPECT_TRUE(fs::is_empty(metrics));
}

// A metrics folder that is missing or cannot be written (a path under a regular file cannot be
// written even by root): the status file is still written, and one log line says why there are
// no metrics.
TEST_F(StatusFileTest, AMetricsFolderThatCannotBeWrittenCostsALogLine) {
  Put(dir_ / "plain-file", "x");
  for (const fs::path& folder : {dir_ / "missing", dir_ / "plain-file" / "sub"}) {
    const std::vector<std::string> lines =
        ReportRun(Summary(RunStatus::kSuccess, kNov1 + 60), folder);
    ASSERT_EQ(lines.size(), 1u) << folder;
    EXPECT_EQ(lines[0].rfind("No metrics written to " + folder.string() + ": ", 0), 0u) << lines[0];
    EXPECT_TRUE(ReadStatusFile(dir_ / "SITE.status").record);
    fs::remove(dir_ / "SITE.status");
  }
  // A status file that cannot be written is told the same way.
  RunSummary elsewhere = Summary(RunStatus::kSuccess, kNov1);
  elsewhere.profile_path = (dir_ / "plain-file" / "SITE.CCM").string();
  const std::vector<std::string> lines = ReportRun(elsewhere, {});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Status not written to ", 0), 0u) << lines[0];
}

}  // namespace
}  // namespace remoteccm
