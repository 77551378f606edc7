// Whole runs of a profile through the real drivers: each mode, the layouts line by line, the
// backup file, deletion, and the ways a run can fail without losing a record.
#include <algorithm>
#include <cstdio>

#include "engine_fixture.h"
#include "retrieval/spool/pass_spool.h"
#include "util/text_routines.h"

namespace remoteccm::testing {
namespace {

std::string Right(const std::string& text, std::size_t width) {
  if (text.size() >= width) return text.substr(0, width);
  return std::string(width - text.size(), ' ') + text;
}
std::string Left(const std::string& text, std::size_t width) {
  if (text.size() >= width) return text.substr(0, width);
  return text + std::string(width - text.size(), ' ');
}

// The dialog's six default fields, as CCM_FIELDS.INF holds them.
constexpr const char* kDefaultFields =
    "[CCM_FIELDS]\r\ncdrRecordType=1\r\ndateTimeOrigination=22\r\ncallingPartyNumber=22\r\n"
    "originalCalledPartyNumber=24\r\nduration=8\r\nclientMatterCode=16\r\n";

std::string FormattedLine(const Call& c, int offset_hours = 0) {
  return "1 " + Left(UtcText(c.origination, offset_hours), 22) + " " + Right(c.calling, 22) + " " +
         Right(c.called, 24) + " " + Right(std::to_string(c.duration), 8) + " " +
         Right(c.client_matter_code, 16) + " ";
}

std::vector<Call> ThreeDaysOfCalls() {
  std::vector<Call> calls;
  int id = 1;
  for (int day = 1; day <= 4; ++day) {
    for (int hour : {1, 9, 17, 23}) {
      if (day == 4 && hour > 9) break;
      const std::int64_t end = Utc(2026, 11, day, hour, 30, 0);
      calls.push_back(Call{id, end - 100, end, "1000" + std::to_string(id),
                           "9" + std::to_string(5550100 + id), 95, id % 3 == 0 ? "4711" : ""});
      ++id;
    }
  }
  return calls;
}

TEST_P(EngineTest, AllRecordsFormattedLinesAndDeletion) {
  const std::vector<Call> calls = ThreeDaysOfCalls();
  Insert(calls);
  Set("ConnectSQLMode", "All Records");
  Set("DeleteRecs", "Y");
  WriteFieldFile("CCM_FIELDS.INF", kDefaultFields);

  EXPECT_EQ(Run(), RunStatus::kSuccess);
  const std::vector<std::string> lines = DestinationLines();
  ASSERT_EQ(lines.size(), calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(lines[i], FormattedLine(calls[i])) << i;
    EXPECT_EQ(lines[i].size(), 99u);
  }
  EXPECT_EQ(ServerCount(), 0);
  EXPECT_EQ(observer_.Count("Retrieved: " + std::to_string(calls.size()) + " records."), 1);
  ASSERT_EQ(observer_.records_read.size(), calls.size());
  EXPECT_EQ(observer_.records_read.back(), static_cast<std::int64_t>(calls.size()));
  EXPECT_EQ(observer_.log.back(), "Close");
  EXPECT_EQ(observer_.status2, "Operation Completed.");
  EXPECT_FALSE(std::filesystem::exists(destination_ + ".spool"));
}

TEST_P(EngineTest, DefaultRawAndCommaLayouts) {
  const Call call{7,   Utc(2026, 11, 2, 8, 0, 5), Utc(2026, 11, 2, 8, 1, 0), "2001", "0044201", 55,
                  "77"};
  Insert({call});
  Set("ConnectSQLMode", "All Records");

  // No field list: the five fixed columns; the fixed name CallingPartyNumber matches
  // callingPartyNumber without regard to case.
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  const std::string default_line = Right("1", 2) + " " + UtcText(call.origination) + " " +
                                   Right("2001", 24) + " " + Right("0044201", 30) + " " +
                                   Right("55", 10) + " ";
  ASSERT_EQ(DestinationLines(), std::vector<std::string>{default_line});
  EXPECT_EQ(default_line.size(), 90u);

  // SQL_FIELDS: raw numbers, no conversion; a column the table lacks gives blanks, an
  // unusable width drops its entry.
  Set("Overwrite", "Y");
  WriteFieldFile("SQL_FIELDS.INF",
                 "[SQL_FIELDS]\r\ndateTimeOrigination=12\r\nnoSuchColumn=3\r\nduration=x\r\n"
                 "CALLINGPARTYNUMBER=3\r\n");
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines(),
            std::vector<std::string>{Right(std::to_string(call.origination), 12) + " " + "    " +
                                     "200 "});
  EXPECT_EQ(observer_.Count("Using configured SQL_FIELDS"), 1);

  // CSV=Y: every column of the result, in result order, each followed by ",".
  WriteFieldFile("CCM_FIELDS.INF", "[CCM_FIELDS]\r\nduration=8\r\ncsv=y\r\n");
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  const std::vector<std::string> lines = DestinationLines();
  ASSERT_EQ(lines.size(), 1u);
  std::string expected;
  for (const CdrColumn& column : CdrColumns()) {
    std::string value(column.kind == CdrColumnKind::kText ? "" : column.default_value);
    const std::string name(column.name);
    if (name == "pkid") value = "7";
    if (name == "cdrRecordType") value = "1";
    if (name == "globalCallID_callId") value = "7";
    if (name == "dateTimeOrigination") value = std::to_string(call.origination);
    if (name == "dateTimeConnect") value = std::to_string(call.origination + 5);
    if (name == "dateTimeDisconnect") value = std::to_string(call.disconnect);
    if (name == "callingPartyNumber") value = "2001";
    if (name == "originalCalledPartyNumber") value = "0044201";
    if (name == "duration") value = "55";
    if (name == "clientMatterCode") value = "77";
    expected += value + ",";
  }
  EXPECT_EQ(lines[0], expected);
}

TEST_P(EngineTest, BackupFileHeaderRule) {
  const Call call{3, Utc(2026, 11, 2, 8), Utc(2026, 11, 2, 9), "2001", "3001", 10, ""};
  Insert({call});
  Set("ConnectSQLMode", "All Records");
  Set("SQLBackup", "Y");
  const std::string backup = (dir_ / "out" / "CDR.BAK").string();

  ASSERT_EQ(Run(), RunStatus::kSuccess);  // missing: header, then the record
  ASSERT_EQ(Run(), RunStatus::kSuccess);  // present and long: the record only
  std::vector<std::string> lines = Lines(backup);
  ASSERT_EQ(lines.size(), 3u);
  // PostgreSQL spells the column names in lower case.
  EXPECT_EQ(UpperCase(lines[0]).rfind("CDRRECORDTYPE,GLOBALCALLID_CALLMANAGERID,", 0), 0u);
  EXPECT_EQ(lines[1], lines[2]);
  EXPECT_NE(lines[1].find(",2001,"), std::string::npos);

  std::ofstream(backup, std::ios::trunc) << "123456789";  // 9 bytes: a header again
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  const std::string record = lines[1];
  lines = Lines(backup);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(UpperCase(lines[0]).rfind("123456789CDRRECORDTYPE,", 0), 0u);
  EXPECT_EQ(lines[1], record);
}

// Comma lines read back by the common CSV rule: each field ends at ",", a quoted field may hold
// anything and "" in it is one quote, a record ends at CR LF outside quotes.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1);
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      records.back().push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      records.emplace_back();
    } else {
      field += c;
    }
  }
  if (records.back().empty()) records.pop_back();
  return records;
}

// A value holding a comma, a quote or a line break stays one value of the comma line and of
// the backup line: read back as CSV, each line gives the values the table holds.
TEST_P(EngineTest, ValuesHoldingACommaStayOneValue) {
  const std::vector<std::string> codes = {"a,b", "say \"hi\"",   "x\r\ny", "\r",
                                          "\n",  ",\"\r\n\"\",", "plain"};
  std::vector<Call> calls;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const int id = static_cast<int>(i) + 1;
    calls.push_back(Call{id, Utc(2026, 11, 2, 8, id), Utc(2026, 11, 2, 8, id, 30), "2001", "3001",
                         25, codes[i]});
  }
  Insert(calls);
  Set("ConnectSQLMode", "All Records");
  Set("SQLBackup", "Y");
  WriteFieldFile("CCM_FIELDS.INF", "[CCM_FIELDS]\r\nCSV=Y\r\n");
  ASSERT_EQ(Run(), RunStatus::kSuccess);

  const std::string destination = ReadFile(destination_);
  const auto records = ReadCsv(destination);
  ASSERT_EQ(records.size(), calls.size());
  const auto pkid = static_cast<std::size_t>(CdrColumnIndex("pkid"));
  const auto code = static_cast<std::size_t>(CdrColumnIndex("clientMatterCode"));
  for (const auto& record : records) {
    ASSERT_EQ(record.size(), CdrColumns().size());
    EXPECT_EQ(record[code], codes[std::stoul(record[pkid]) - 1]) << record[pkid];
  }
  // The backup holds the header and then the very same lines.
  const std::string backup = ReadFile(dir_ / "out" / "CDR.BAK");
  const std::size_t header_end = backup.find("\r\n");
  ASSERT_NE(header_end, std::string::npos);
  EXPECT_EQ(backup.substr(header_end + 2), destination);
}

TEST_P(EngineTest, NewRecordsOnlyWalksFullDaysThenStopsAMinuteBeforeNow) {
  std::vector<Call> calls = ThreeDaysOfCalls();
  const Call late{99, now_ - 40, now_ - 30, "5000", "6000", 10, ""};  // after now - 60
  calls.push_back(late);
  Insert(calls);
  Set("ConnectSQLMode", "New Records Only");
  Set("SQLNewRecDate", std::to_string(Utc(2026, 11, 1)));
  Set("SQLNewRecIncrValue", "1");
  Set("SQLNewRecIncrMode", "day(s)");
  Set("PollAgain", "Y");
  Set("WaitBeforePollingAgain", "2");

  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(observer_.Count("Retrieved: "), 4);  // three full days, then the cut window
  EXPECT_EQ(
      observer_.Count("WHERE (dateTimeDisconnect >= " + std::to_string(Utc(2026, 11, 3)) +
                      ") and (dateTimeDisconnect < " + std::to_string(Utc(2026, 11, 4)) + ")"),
      1);
  EXPECT_EQ(observer_.Count("WHERE (dateTimeDisconnect >= " + std::to_string(Utc(2026, 11, 4)) +
                            ") and (dateTimeDisconnect < " + std::to_string(now_ - 60) + ")"),
            1);
  EXPECT_EQ(clock_.ticks, 3 * 20);  // three pauses of two seconds
  EXPECT_EQ(DestinationLines().size(), calls.size() - 1);
  // The next start is one second after the latest record collected.
  EXPECT_EQ(Stored("SQLNewRecDate"), std::to_string(Utc(2026, 11, 4, 9, 30, 0) + 1));
  EXPECT_EQ(observer_.progress.back(), 100);

  // A second run collects nothing new: the late call is still after now - 60.
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines().size(), calls.size() - 1);
  EXPECT_EQ(observer_.Count("Retrieved: 0 records."), 1);

  // Later, it is collected once.
  now_ += 3600;
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines().size(), calls.size());
}

TEST_P(EngineTest, NewRecordsOnlyWithPollingOffTakesOneWindow) {
  Insert(ThreeDaysOfCalls());
  Set("ConnectSQLMode", "New Records Only");
  Set("SQLNewRecDate", std::to_string(Utc(2026, 11, 1)));
  Set("PollAgain", "N");
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(observer_.Count("Retrieved: "), 1);
  EXPECT_EQ(DestinationLines().size(), 4u);
  EXPECT_EQ(Stored("SQLNewRecDate"), std::to_string(Utc(2026, 11, 2)));
}

TEST_P(EngineTest, ByDateHourlyWindowsOverOneDay) {
  const std::vector<Call> calls = ThreeDaysOfCalls();
  Insert(calls);
  Set("ConnectSQLMode", "By Date");
  Set("SQLFromDateRange", std::to_string(Utc(2026, 11, 2)));
  Set("SQLToDateRange", std::to_string(Utc(2026, 11, 2)));
  Set("SQLDateRangeIncrValue", "1");
  Set("SQLDateRangeIncrMode", "hour(s)");
  Set("PollAgain", "Y");

  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(observer_.Count("Retrieved: "), 24);
  EXPECT_EQ(
      observer_.Count("WHERE (dateTimeDisconnect >= " + std::to_string(Utc(2026, 11, 2, 23)) +
                      ") and (dateTimeDisconnect < " + std::to_string(Utc(2026, 11, 3)) + ")"),
      1);
  EXPECT_EQ(DestinationLines().size(), 4u);
  EXPECT_EQ(observer_.status1, "Selected: 2026/11/02 00:00 to 2026/11/02 23:59");

  // Polling off: the first window only.
  Set("PollAgain", "N");
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(observer_.Count("Retrieved: "), 1);
}

// Records on the very seconds where windows begin and end, counted in the destination: each
// is written once, by the window that holds it, and none outside the range or after now - 60.
TEST_P(EngineTest, RecordsOnWindowBoundsAreCollectedOnce) {
  const std::int64_t day2 = Utc(2026, 11, 2);
  const std::int64_t day3 = Utc(2026, 11, 3);
  const struct {
    const char* mode;
    std::vector<std::int64_t> collected;  // disconnect times
    std::vector<std::int64_t> left;
  } cases[] = {
      {"By Date", {day2, day2 + 3599, day2 + 3600, day3 - 1}, {day2 - 1, day3}},
      {"New Records Only", {day2, day3 - 1, day3, now_ - 61}, {day2 - 1, now_ - 60, now_ - 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    admin_.Execute("DELETE FROM " + table_);
    std::filesystem::remove(destination_);
    std::vector<Call> calls;
    for (const std::vector<std::int64_t>* times : {&c.collected, &c.left}) {
      for (const std::int64_t end : *times) {
        const int id = static_cast<int>(calls.size()) + 1;
        calls.push_back(Call{id, end - 10, end, "7000" + std::to_string(id), "8000", 10, ""});
      }
    }
    Insert(calls);
    Set("ConnectSQLMode", c.mode);
    Set("SQLFromDateRange", std::to_string(day2));
    Set("SQLToDateRange", std::to_string(day2));
    Set("SQLDateRangeIncrValue", "1");
    Set("SQLDateRangeIncrMode", "hour(s)");
    Set("SQLNewRecDate", std::to_string(day2));
    Set("SQLNewRecIncrValue", "1");
    Set("SQLNewRecIncrMode", "day(s)");
    Set("PollAgain", "Y");
    Set("WaitBeforePollingAgain", "0");
    WriteFieldFile("CCM_FIELDS.INF", kDefaultFields);
    ASSERT_EQ(Run(), RunStatus::kSuccess);
    const std::vector<std::string> lines = DestinationLines();
    for (const Call& call : calls) {
      const bool wanted = static_cast<std::size_t>(call.id) <= c.collected.size();
      EXPECT_EQ(std::count(lines.begin(), lines.end(), FormattedLine(call)), wanted ? 1 : 0)
          << "the record that ends at " << call.disconnect;
    }
  }
}

TEST_P(EngineTest, BySqlQueryRepeatsUntilAPassReturnsNothing) {
  Insert(ThreeDaysOfCalls());
  Set("ConnectSQLMode", "By SQL Query");
  Set("ConnectSQL0", "SELECT * FROM " + table_);
  Set("ConnectSQL1", "");
  Set("ConnectSQL2", "   WHERE duration > 0");
  Set("ConnectSQL3", "<end>");
  Set("DisconnectSQL0", "DELETE FROM " + table_ + " WHERE duration > 0");
  Set("DisconnectSQL1", "<end>");
  Set("DeleteRecs", "Y");
  Set("PollAgain", "Y");

  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(observer_.Count("Retrieved: "), 2);  // everything, then nothing
  EXPECT_EQ(observer_.Count("Using Custom disconnect SQL strings"), 1);
  EXPECT_EQ(DestinationLines().size(), ThreeDaysOfCalls().size());
  EXPECT_EQ(ServerCount(), 0);
}

TEST_P(EngineTest, FailedDeletionWritesNothingAndKeepsTheStart) {
  Insert(ThreeDaysOfCalls());
  if (IsSqlite()) {
    admin_.Execute("CREATE TRIGGER refuse_" + table_ + " BEFORE DELETE ON " + table_ +
                   " BEGIN SELECT RAISE(ABORT, 'deletion refused'); END");
  } else {
    admin_.Execute(
        "CREATE OR REPLACE FUNCTION refuse_delete() RETURNS trigger AS $$ BEGIN RAISE "
        "EXCEPTION 'deletion refused'; END $$ LANGUAGE plpgsql");
    admin_.Execute("CREATE TRIGGER refuse BEFORE DELETE ON " + table_ +
                   " FOR EACH ROW EXECUTE FUNCTION refuse_delete()");
  }
  Set("ConnectSQLMode", "New Records Only");
  Set("SQLNewRecDate", std::to_string(Utc(2026, 11, 1)));
  Set("DeleteRecs", "Y");
  Set("PollAgain", "N");

  EXPECT_EQ(Run(), RunStatus::kPassFailed);
  EXPECT_EQ(observer_.Count("Delete Failed. Cannot Execute SQL Instructions. "), 3);
  EXPECT_EQ(observer_.Count("Aborted or Failed: 4 records ignored."), 3);
  EXPECT_EQ(observer_.Count("Giving up after 3 failed passes in a row."), 1);
  EXPECT_FALSE(std::filesystem::exists(destination_) && !DestinationLines().empty());
  EXPECT_EQ(Stored("SQLNewRecDate"), std::to_string(Utc(2026, 11, 1)));
  EXPECT_EQ(ServerCount(), static_cast<long>(ThreeDaysOfCalls().size()));
  EXPECT_FALSE(std::filesystem::exists(destination_ + ".spool"));
}

TEST_P(EngineTest, AbortMidPassKeepsEverythingOnTheServer) {
  Insert(ThreeDaysOfCalls());
  Set("ConnectSQLMode", "All Records");
  Set("DeleteRecs", "Y");
  // The observer asks for the abort while the fifth record is being read.
  int records = 0;
  Engine* running = nullptr;
  auto run_with_abort = [&] {
    clock_.Restart(static_cast<double>(now_));
    observer_ = RecordingObserver();
    observer_.on_pump = [&] {
      if (running != nullptr && observer_.Count("Get the records") == 1 && ++records == 5) {
        running->RequestAbort();
      }
    };
    engine_ = std::make_unique<Engine>(env_, observer_, clock_, dialer_, nullptr);
    running = engine_.get();
    return engine_->RunProfile(profile_path_);
  };
  EXPECT_EQ(run_with_abort(), RunStatus::kAborted);
  EXPECT_EQ(observer_.Count("Aborted or Failed: 5 records ignored."), 1);
  EXPECT_EQ(observer_.status2, "Operation Aborted.");
  EXPECT_EQ(ServerCount(), static_cast<long>(ThreeDaysOfCalls().size()));
  EXPECT_TRUE(!std::filesystem::exists(destination_) || DestinationLines().empty());
}

TEST_P(EngineTest, RowInsertedBetweenSelectionAndDeletionSurvives) {
  const std::vector<Call> calls = ThreeDaysOfCalls();
  Insert(calls);
  Set("ConnectSQLMode", "All Records");
  Set("DeleteRecs", "Y");
  const Call newcomer{500, Utc(2026, 11, 4, 10), Utc(2026, 11, 4, 10, 5), "7", "8", 300, ""};
  bool inserted = false;
  hooks_.before_deletion = [&](DbConnection&) {
    DbConnection other;
    // A short busy wait: SQLite makes this writer wait for the pass's transaction.
    other.Connect(connection_string_ + (IsSqlite() ? ";Timeout=1000" : ""), "CDR", "", "");
    try {
      InsertInto(other, {newcomer});
      inserted = true;
    } catch (const DbError&) {
      // SQLite lets one writer in: the insert may be refused while the pass holds the file.
    }
  };
  const RunStatus status = Run();
  // Whatever the driver did, every record is in the destination or still on the server.
  const long on_server = ServerCount();
  const long written = static_cast<long>(DestinationLines().size());
  EXPECT_EQ(written + on_server, static_cast<long>(calls.size()) + (inserted ? 1 : 0));
  if (status == RunStatus::kSuccess) {
    EXPECT_EQ(written, static_cast<long>(calls.size()));
  }
  if (!IsSqlite()) {
    EXPECT_TRUE(inserted);
    EXPECT_EQ(status, RunStatus::kSuccess);
    EXPECT_EQ(on_server, 1);
  }
}

TEST_P(EngineTest, RefusedConnectionEndsTheRunAsFailed) {
  if (IsSqlite()) {
    Set("SQLConnectionString",
        "Provider=MSDASQL;Driver=SQLite3;Database=" + (dir_ / "missing" / "x.db").string());
  } else {
    Set("SQLConnectionString", "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=1;Database=CDR");
  }
  Set("ConnectSQLMode", "All Records");
  EXPECT_EQ(Run(), RunStatus::kConnectionFailed);
  const std::vector<std::string>& log = observer_.log;
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "Cannot Connect to CCM SQL Server!");
  EXPECT_EQ(log[log.size() - 2], "Quit");
  EXPECT_EQ(log[log.size() - 1], "Close");
  EXPECT_EQ(observer_.errors.size(), 1u);
  EXPECT_FALSE(observer_.running);
}

TEST_P(EngineTest, InvalidSettingsAreReportedWithoutConnecting) {
  Set("SQLConnectionString", "Database=/nowhere");
  EXPECT_EQ(Run(), RunStatus::kSettingsInvalid);
  EXPECT_EQ(observer_.log.front(), "Error: Invalid ODBC Connection String");
  EXPECT_TRUE(observer_.errors.empty());
}

TEST_P(EngineTest, PasswordsNeverReachTheLog) {
  // The server's own password where the string has one, else one the driver ignores.
  std::string password = "secret123";
  std::string connection = connection_string_;
  const std::size_t pwd = connection.find("PWD=");
  if (pwd == std::string::npos) {
    connection += ";PWD=" + password;
  } else {
    password = connection.substr(pwd + 4, connection.find(';', pwd) - pwd - 4);
  }
  ASSERT_FALSE(password.empty());
  Set("SQLConnectionString", connection);
  Set("ConnectSQLMode", "No Records");
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  bool masked = false;
  for (const std::string& line : observer_.log) {
    EXPECT_EQ(line.find(password), std::string::npos);
    masked = masked || line.find("PWD=***") != std::string::npos;
  }
  EXPECT_TRUE(masked);
}

TEST_P(EngineTest, ManualOffsetShiftsTheDates) {
  const Call call{1, Utc(2026, 11, 2, 3), Utc(2026, 11, 2, 4), "1", "2", 3, ""};
  Insert({call});
  Set("ConnectSQLMode", "All Records");
  Set("SQLTimeZoneOffset", "-5");
  WriteFieldFile("CCM_FIELDS.INF", kDefaultFields);
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines(), std::vector<std::string>{FormattedLine(call, -5)});
}

TEST_P(EngineTest, SpoolLeftByAKilledRunIsResolvedFirst) {
  Set("ConnectSQLMode", "No Records");
  // A marked spool: its lines are owed to the destination, with the start they store.
  std::string error;
  const DestinationFiles files = *ResolveDestination(destination_, error);
  PassSpool spool(files, OwedNotePath(profile_path_));
  spool.Open(false);
  spool.AddLine("owed line", "");
  spool.MakeDurable();
  ReadyNote note;
  note.profile_name = "SITE";
  note.table = table_;
  note.start = "12345";
  spool.MarkReady(note);
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines(), std::vector<std::string>{"owed line"});
  EXPECT_EQ(Stored("SQLNewRecDate"), "12345");
  EXPECT_EQ(observer_.Count("Appended 1 line left by an earlier run of profile SITE"), 1);

  // An unmarked one: nothing was deleted for it, so it is dropped.
  std::ofstream(destination_ + ".spool", std::ios::binary) << "unfinished\r\n";
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines(), std::vector<std::string>{"owed line"});
  EXPECT_FALSE(std::filesystem::exists(destination_ + ".spool"));
}

// A dialer that accepts the dial and reports the line connected after a few polls.
class AcceptingDialer : public Dialer {
 public:
  std::string PhoneNumber(const std::string&) override { return "5551234"; }
  int Dial(const DialRequest& request) override {
    dialed = request;
    return 0;
  }
  DialState State() override { return ++polls < 3 ? DialState::kPending : DialState::kConnected; }
  void HangUp() override { ++hang_ups; }
  std::string ErrorText(int code) override { return code == 0 ? "Success" : "Error"; }
  int ListEntries(std::vector<std::string>& names) override {
    names = {"Branch office"};
    return 0;
  }
  int GetDialParams(const std::string&, DialParams&) override { return 0; }
  int SetDialParams(const std::string&, const DialParams&) override { return 0; }
  int CreateEntry() override { return 0; }
  int EditEntry(const std::string&) override { return 0; }
  DialRequest dialed;
  int polls = 0;
  int hang_ups = 0;
};

TEST_P(EngineTest, DialUpComesFirstAndARefusedDialRunsNothing) {
  Insert(ThreeDaysOfCalls());
  Set("ConnectSQLMode", "All Records");
  Set("UseDialup", "Y");
  Set("PhonebookEntry", "Branch office ");
  Set("DialUserName", "dialer");

  // No dial-up networking here: the dial is refused at once, no poll cycle runs.
  EXPECT_EQ(Run(), RunStatus::kConnectionFailed);
  EXPECT_EQ(observer_.log, (std::vector<std::string>{
                               "Connect using Branch office", "Dialing... ",
                               "Done...Dial-up networking is not available on this system."}));
  EXPECT_EQ(ServerCount(), static_cast<long>(ThreeDaysOfCalls().size()));

  AcceptingDialer dialer;
  clock_.Restart(static_cast<double>(now_));
  observer_ = RecordingObserver();
  engine_ = std::make_unique<Engine>(env_, observer_, clock_, dialer, nullptr);
  EXPECT_EQ(engine_->RunProfile(profile_path_), RunStatus::kSuccess);
  EXPECT_EQ(dialer.dialed.entry_name, "Branch office");
  EXPECT_EQ(dialer.dialed.user_name, "dialer");
  EXPECT_EQ(dialer.hang_ups, 1);
  EXPECT_EQ(observer_.log.back(), "Done...Success");
  EXPECT_EQ(DestinationLines().size(), ThreeDaysOfCalls().size());
}

INSTANTIATE_TEST_SUITE_P(Drivers, EngineTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm::testing
