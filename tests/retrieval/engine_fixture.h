// A CDR database on a real driver (the SQLite ODBC driver on a scratch file, or the test
// PostgreSQL server), a profile in a scratch home, and an engine with a fixed clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/cdr_schema.h"
#include "platform/db/database.h"
#include "platform/db/db_error.h"
#include "profile/profile_file.h"
#include "retrieval/run/engine.h"
#include "support/cdr_database.h"
#include "support/fake_clock.h"
#include "support/scratch_dir.h"
#include "util/ini_file.h"
#include "util/utc_time.h"

namespace remoteccm::testing {

// Seconds since 1970 of a UTC date and time.
inline std::int64_t Utc(int year, int month, int day, int hour = 0, int minute = 0,
                        int second = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<std::int64_t>(UtcSecondsOf(tm));
}

// "yyyy/mm/dd hh:nn:ss" of a UTC moment shifted by offset hours, through the C library.
inline std::string UtcText(std::int64_t seconds, int offset_hours = 0) {
  const std::time_t t = static_cast<std::time_t>(seconds + offset_hours * 3600);
  std::tm tm{};
  UtcCalendarOf(t, tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &tm);
  return text;
}

// One call: the columns the tests look at; the others keep their defaults.
struct Call {
  int id = 0;
  std::int64_t origination = 0;
  std::int64_t disconnect = 0;
  std::string calling;
  std::string called;
  int duration = 0;
  std::string client_matter_code;
};

class RecordingObserver : public EngineObserver {
 public:
  void ClearLog() override { ++clears; }
  void LogLine(std::string_view line) override { log.emplace_back(line); }
  void LogLineAt(LogPriority priority, std::string_view line) override {
    if (priority == LogPriority::kError) error_lines.emplace_back(line);
    LogLine(line);
  }
  void SetStatus1(std::string_view text) override { status1 = text; }
  void SetStatus2(std::string_view text) override { status2 = text; }
  void SetProgress(int position) override { progress.push_back(position); }
  void ShowProgress(bool shown) override { progress_shown = shown; }
  void SetRunning(bool now_running) override { running = now_running; }
  void ShowConnectionError(std::string_view message) override {
    errors.emplace_back(message);
    lines_before_error = log.size();
  }
  void RecordsRead(std::int64_t count) override { records_read.push_back(count); }
  void Pump() override {
    if (on_pump) on_pump();
  }

  int Count(std::string_view prefix) const {
    int n = 0;
    for (const std::string& line : log) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }

  std::vector<std::string> log;
  std::vector<std::string> error_lines;  // the lines logged at kError
  std::vector<std::string> errors;       // the connection errors shown
  std::size_t lines_before_error = 0;    // the log's length when the last one was shown
  std::vector<int> progress;
  std::vector<std::int64_t> records_read;
  std::string status1;
  std::string status2;
  bool progress_shown = false;
  bool running = false;
  int clears = 0;
  std::function<void()> on_pump;
};

class EngineTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->name());
    for (char& c : name) {
      const auto byte = static_cast<unsigned char>(c);
      c = std::isalnum(byte) ? static_cast<char>(std::tolower(byte)) : '_';
    }
    std::filesystem::create_directories(home_);
    std::filesystem::create_directories(dir_ / "out");
    table_ = "cdr_" + name.substr(0, 40);
    connection_string_ = TestDatabase(GetParam(), dir_);
    if (connection_string_.empty()) return;
    admin_.Connect(connection_string_, "CDR", "", "");
    CreateCdrTable(admin_, table_);

    env_.program_home = home_;
    env_.registry = TRegAccess(dir_ / "install.ini");
    // One clock for the engine and the profiles it reads.
    env_.clock = &clock_;

    Set("DestinationFile", destination_);
    Set("SQLConnectionString", connection_string_);
    Set("SQLTableName", table_);
    Set("SQLTimeZoneOption", "3");
    Set("SQLTimeZoneOffset", "0");
    Set("WaitBeforePollingAgain", "0");
    // The windows exactly as the mode defines them; the look-back has tests of its own.
    Set("LateArrivalMinutes", "0");
  }

  void TearDown() override {
    if (admin_.Connected()) admin_.Execute("DROP TABLE IF EXISTS " + table_);
    admin_.Disconnect();
  }

  bool IsSqlite() const { return GetParam() == "sqlite"; }

  void Set(const std::string& key, const std::string& value) {
    WriteProfileValue(profile_path_, "Options", key, value);
  }
  std::string Stored(const std::string& key) {
    return ReadProfileValue(profile_path_, "Options", key);
  }

  void Insert(const std::vector<Call>& calls) { InsertInto(admin_, calls); }

  void InsertInto(DbConnection& connection, const std::vector<Call>& calls) {
    for (const Call& c : calls) {
      connection.Execute(
          "INSERT INTO " + table_ +
          " (pkid, cdrRecordType, globalCallID_callId, dateTimeOrigination, dateTimeConnect,"
          " dateTimeDisconnect, callingPartyNumber, originalCalledPartyNumber, duration,"
          " clientMatterCode) VALUES ('" +
          std::to_string(c.id) + "', 1, " + std::to_string(c.id) + ", " +
          std::to_string(c.origination) + ", " +
          std::to_string(c.duration > 0 ? c.origination + 5 : 0) + ", " +
          std::to_string(c.disconnect) + ", '" + c.calling + "', '" + c.called + "', " +
          std::to_string(c.duration) + ", '" + c.client_matter_code + "')");
    }
  }

  long ServerCount() {
    DbQuery query(admin_);
    query.AddLine("SELECT COUNT(*) FROM " + table_);
    query.Open();
    return static_cast<long>(query.AsFloat(0));
  }

  void WriteFieldFile(const std::string& file, const std::string& text) const {
    WriteFile(home_ / file, text);
  }

  static std::vector<std::string> Lines(const std::string& path) {
    const std::string content = ReadFile(path);
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < content.size()) {
      const std::size_t end = content.find("\r\n", at);
      if (end == std::string::npos) {
        lines.push_back(content.substr(at) + "<no CR LF>");
        break;
      }
      lines.push_back(content.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }
  std::vector<std::string> DestinationLines() { return Lines(destination_); }

  RunStatus Run() {
    clock_.Restart(static_cast<double>(now_));
    observer_ = RecordingObserver();
    engine_ = std::make_unique<Engine>(env_, observer_, clock_, dialer_, nullptr);
    engine_->set_hooks(hooks_);
    return engine_->RunProfile(profile_path_);
  }
  // Another run of the same engine, asked for as its callers ask.
  RunStatus RunAgain() {
    observer_ = RecordingObserver();
    engine_->ClearAbort();
    return engine_->RunProfile(profile_path_);
  }

  ScratchDir dir_;
  std::filesystem::path home_ = dir_ / "home";
  std::string destination_ = (dir_ / "out" / "CDR.TXT").string();
  std::string profile_path_ = (home_ / "SITE.CCM").string();
  std::string table_;
  std::string connection_string_;
  DbConnection admin_;
  ProfileEnvironment env_;
  std::int64_t now_ = Utc(2026, 11, 4, 12, 0, 0);
  FakeClock clock_;
  RecordingObserver observer_;
  UnavailableDialer dialer_;
  EngineHooks hooks_;
  std::unique_ptr<Engine> engine_;
};

}  // namespace remoteccm::testing
