// Every record exactly once, in the destination or still in the table, never both, never twice:
// runs killed at each point of a pass, runs that overlap on one destination, and lines owed
// by one profile found by another.
#include <thread>

#include "cdr_files_fixture.h"
#include "cli_run_fixture.h"
#include "support/run_cli.h"

namespace remoteccm {
namespace {

using ExactlyOnceTest = CliRunTest;

// A kill at each point of a pass, a newcomer inserted before the next run, which must finish
// what the killed one left: with deletion (every record once, here or there) and without it
// (every record written once, the start stored).
TEST_P(ExactlyOnceTest, KilledAtEachPointOfAPass) {
  const char* points[] = {"spool-durable", "deleted",  "owed-noted",   "ready-noted", "committed",
                          "mid-append",    "appended", "start-stored", "unmarked"};
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  for (const bool deletion : {true, false}) {
    for (const char* point : points) {
      const std::string name = point;
      if (!deletion && (name == "deleted" || name == "committed")) continue;  // no deletion
      SCOPED_TRACE(std::string(point) + (deletion ? ", deleting" : ", keeping"));
      admin_.Execute("DELETE FROM " + table_);
      fs::remove(destination_);
      fs::remove(home_ / "SITE.late");  // the start is set back on purpose
      InsertCalls(300, 8000);           // four weeks: two windows of 20 days, the second cut at now
      WriteProfile(
          "ConnectSQLMode=New Records Only\r\nSQLNewRecDate=" + std::to_string(kFirstDay) +
          "\r\nSQLNewRecIncrValue=20\r\nSQLNewRecIncrMode=day(s)\r\nPollAgain=Y\r\nDeleteRecs=" +
          (deletion ? "Y" : "N") + "\r\n");
      // The second pass is killed: the first one's lines are in, the second one's owed.
      EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", std::string(point) + ":2"}}),
                testing::kKilledStatus);
      InsertCalls(301, 8000, 301);  // pkid 301 arrives meanwhile, and 302 late: its time is
      InsertCallAt(302, kFirstDay + 300 * 8000 - 600);  // before the newest record's
      EXPECT_EQ(Run({"SITE"}), 0) << Log();
      ExpectEachOnce(302, deletion);
      EXPECT_FALSE(fs::exists(destination_ + ".spool"));
      EXPECT_FALSE(fs::exists(destination_ + ".spool-ready"));
    }
  }
}

// The note beside the profile of the lines a killed run owes is removed before the next run (a
// clean-up of old files, a restore of the program home from a backup): with deletion, the lines
// in the spool were discarded as never owed and their records existed nowhere any more; without
// it, lines appended before the start was stored were written again. The reader may also have
// taken the destination away meanwhile.
TEST_P(ExactlyOnceTest, ARemovedNoteOfOwedLinesLosesNothing) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  const fs::path taken = home_ / "taken.TXT";
  const struct {
    const char* point;
    bool deletion;
    bool reader_takes;
  } cases[] = {{"ready-noted", true, false},  {"committed", true, false},
               {"mid-append", true, false},   {"appended", true, false},
               {"start-stored", true, false}, {"unmarked", true, true},
               {"ready-noted", false, false}, {"mid-append", false, false},
               {"appended", false, false},    {"start-stored", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.point) + (c.deletion ? ", deleting" : ", keeping"));
    admin_.Execute("DELETE FROM " + table_);
    fs::remove(destination_);
    fs::remove(taken);
    fs::remove(home_ / "SITE.late");
    InsertCalls(200, 60);
    WriteProfile(c.deletion ? "ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n"
                            : "ConnectSQLMode=New Records Only\r\nSQLNewRecDate=" +
                                  std::to_string(kFirstDay) + "\r\nDeleteRecs=N\r\n");
    EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", c.point}}), testing::kKilledStatus);
    fs::remove(home_ / "SITE.owed");
    if (c.reader_takes && fs::exists(destination_)) fs::rename(destination_, taken);
    EXPECT_EQ(Run({"SITE"}), 0) << Log();
    std::map<std::string, int> collected = CollectedPkids();
    if (fs::exists(taken)) {
      fs::rename(taken, destination_);
      for (const auto& [pkid, times] : CollectedPkids()) collected[pkid] += times;
    }
    EXPECT_EQ(ServerPkids().size(), c.deletion ? 0u : 200u);
    EXPECT_EQ(collected.size(), 200u);
    for (const auto& [pkid, times] : collected) EXPECT_EQ(times, 1) << pkid;
  }
}

// Killed at random moments while a writer inserts records: the figures of a long series are
// printed; REMOTECCM_KILL_ROUNDS sets how many kills (25 by default).
TEST_P(ExactlyOnceTest, KilledAtRandomMomentsWhileRecordsArrive) {
  const int rounds = testing::KillRounds(25);
  const int first_calls = 3000;
  InsertCalls(first_calls, 97);  // a little over three days, collected in 3-hour windows
  WriteProfile(
      "ConnectSQLMode=New Records Only\r\nSQLNewRecDate=" + std::to_string(kFirstDay) +
      "\r\nSQLNewRecIncrValue=3\r\nSQLNewRecIncrMode=hour(s)\r\nDeleteRecs=Y\r\nPollAgain=Y\r\n");
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";

  // The writer adds a record now and then, numbered and timed on from the first ones.
  std::atomic<bool> stop{false};
  std::atomic<int> last_id{first_calls};
  std::thread writer([&] {
    DbConnection connection;
    connection.Connect(connection_, "CDR", "", "");
    while (!stop.load()) {
      const int id = last_id.load() + 1;
      try {
        connection.Execute("INSERT INTO " + table_ +
                           " (pkid, dateTimeOrigination, dateTimeDisconnect, callingPartyNumber) "
                           "VALUES ('" +
                           std::to_string(id) + "', " + std::to_string(kFirstDay) + ", " +
                           std::to_string(kFirstDay + 60) + ", '2001')");
        last_id.store(id);
      } catch (const DbError&) {
        // A busy database refused this one; the next try inserts it.
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const int killed = KillRunsAtRandom({"SITE"}, rounds, 20261208, 400);
  stop.store(true);
  writer.join();
  ASSERT_EQ(Run({"SITE"}), 0) << Log();  // a last run to the end

  ExpectEachOnce(last_id.load(), true);
  std::printf("%d kills (%d during a run), %d records, %zu collected, %zu left on the server\n",
              rounds, killed, last_id.load(), CollectedPkids().size(), ServerPkids().size());
}

// A lock file left by a killed run holds nothing.
TEST_P(ExactlyOnceTest, ALockLeftByAKilledRunHoldsNothing) {
  InsertCalls(10, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "spool-durable"}}), testing::kKilledStatus);
  EXPECT_TRUE(fs::exists(destination_ + ".lock"));
  EXPECT_EQ(Run({"SITE"}), 0);
  ExpectEachOnce(10, true);
}

// Profiles A and B share a destination: B finds what A owes, appends it, and stores A's start
// in A, never in B.
TEST_P(ExactlyOnceTest, OwedLinesAndTheirStartBelongToTheirProfile) {
  InsertCalls(100, 600);
  const std::string a_start = std::to_string(kFirstDay);
  WriteProfile("ConnectSQLMode=New Records Only\r\nSQLNewRecDate=" + a_start +
               "\r\nSQLNewRecIncrValue=365\r\nSQLNewRecIncrMode=day(s)\r\nPollAgain=N\r\n");
  std::ofstream(home_ / "B.CCM", std::ios::binary)
      << "[Options]\r\nDestinationFile=" << destination_
      << "\r\nSQLConnectionString=" << connection_ << "\r\nSQLTableName=" << table_
      << "\r\nConnectSQLMode=New Records Only\r\nSQLNewRecDate=" << kFirstDay - 86400
      << "\r\nSQLTimeZoneOption=3\r\n"
         "SQLNewRecIncrValue=365\r\nSQLNewRecIncrMode=day(s)\r\nPollAgain=N\r\n";
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "appended"}}), testing::kKilledStatus);
  EXPECT_EQ(Run({"B"}), 0) << Log();
  EXPECT_NE(Log().find("left by an earlier run of profile SITE"), std::string::npos);
  const auto start_of = [&](const std::string& name) {
    const std::string text = testing::ReadFile(home_ / (name + ".CCM"));
    const auto at = text.find("SQLNewRecDate=") + 14;
    return text.substr(at, text.find('\r', at) - at);
  };
  EXPECT_EQ(start_of("SITE"), std::to_string(kFirstDay + 100 * 600 + 1));
  // B collected from its own start: the same 100 records once more, after A's.
  EXPECT_EQ(CollectedPkids().size(), 100u);
  for (const auto& [pkid, times] : CollectedPkids()) EXPECT_EQ(times, 2) << pkid;
  EXPECT_EQ(start_of("B"), std::to_string(kFirstDay + 100 * 600 + 1));
}

// New Records Only without deletion, looking back an hour: a profile as most sites run it.
std::string LookingBack(const std::string& extra = "") {
  return "ConnectSQLMode=New Records Only\r\nSQLNewRecDate=" + std::to_string(kFirstDay) +
         "\r\nSQLNewRecIncrValue=365\r\nSQLNewRecIncrMode=day(s)\r\nLateArrivalMinutes=60\r\n" +
         extra;
}

// A poll that finds nothing new, killed while its (empty) lines were owed, forgot every key of
// the look-back: the record that arrived late afterwards was never collected.
TEST_P(ExactlyOnceTest, AKillDuringAnIdlePollKeepsTheMemory) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  int late_id = 50;
  InsertCalls(50, 60);
  WriteProfile(LookingBack());
  ASSERT_EQ(Run({"SITE"}), 0);
  for (const char* point : {"owed-noted", "ready-noted", "appended", "start-stored"}) {
    SCOPED_TRACE(point);
    EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", point}}), testing::kKilledStatus);
    // Late: its time lies inside the look-back, before the stored start.
    InsertCallAt(++late_id, kFirstDay + 50 * 60 - 600);
    EXPECT_EQ(Run({"SITE"}), 0) << Log();
    ExpectEachOnce(late_id, false);
  }
}

// The first run of a profile, stopped once its first (empty) window moved the start on but
// before its memory existed, left the look-back unable to reach back past the new start.
TEST_P(ExactlyOnceTest, AFirstRunStoppedBeforeItsMemoryKeepsItsLookBack) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  const std::int64_t later = kFirstDay + 20 * 86400;
  for (int id = 1; id <= 10; ++id) InsertCallAt(id, later + id * 60);
  WriteProfile("ConnectSQLMode=New Records Only\r\nSQLNewRecDate=" + std::to_string(kFirstDay) +
               "\r\nSQLNewRecIncrValue=1\r\nSQLNewRecIncrMode=day(s)\r\nPollAgain=Y\r\n"
               "LateArrivalMinutes=60\r\n");
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "ready-noted"}}), testing::kKilledStatus);
  InsertCallAt(11, later - 1800);  // late: before the start the stopped run owes
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(11, false);
}

// After runs without deletion, the first run with it looked back on "what is still in the table
// was never collected", and everything was: the last hour was written again.
TEST_P(ExactlyOnceTest, SwitchingDeletionOnWritesNothingTwice) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  InsertCalls(50, 60);
  WriteProfile(LookingBack());
  ASSERT_EQ(Run({"SITE"}), 0);
  std::ofstream(home_ / "SITE.CCM", std::ios::app | std::ios::binary) << "DeleteRecs=Y\r\n";
  InsertCalls(55, 60, 51);
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(55, true);
  EXPECT_TRUE(ServerPkids().empty());
}

// A deletion the server turns into nothing (a trigger, a rule, a right to select only) counted as
// done: every run wrote the same records again.
TEST_P(ExactlyOnceTest, ADeletionThatDeletesNothingFailsThePass) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  InsertCalls(30, 60);
  if (GetParam() == "sqlite") {
    admin_.Execute("CREATE TRIGGER keep_" + table_ + " BEFORE DELETE ON " + table_ +
                   " BEGIN SELECT RAISE(IGNORE); END");
  } else {
    admin_.Execute("CREATE RULE keep_" + table_ + " AS ON DELETE TO " + table_ +
                   " DO INSTEAD NOTHING");
  }
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  for (int run = 0; run < 2; ++run) EXPECT_EQ(Run({"SITE"}), 5);
  EXPECT_NE(Log().find("The deletion removed 0 of the 30 records the pass read"),
            std::string::npos);
  EXPECT_TRUE(CollectedPkids().empty());
  EXPECT_EQ(ServerPkids().size(), 30u);
}

// Deleting what a selection without pkid read: a run stopped at the commit cannot tell whether
// the records went, and each such stop wrote them all again.
TEST_P(ExactlyOnceTest, DeletingWithoutPkidInTheSelectionIsRefused) {
  InsertCalls(20, 60);
  WriteProfile(
      "ConnectSQLMode=By SQL Query\r\nConnectSQL0=SELECT callingPartyNumber, "
      "dateTimeDisconnect FROM " +
      table_ + "\r\nConnectSQL1=<end>\r\nDisconnectSQL0=DELETE FROM " + table_ +
      "\r\nDisconnectSQL1=<end>\r\nDeleteRecs=Y\r\n");
  EXPECT_EQ(Run({"SITE"}), 5);
  EXPECT_NE(Log().find("Select pkid too"), std::string::npos) << Log();
  EXPECT_EQ(ServerPkids().size(), 20u);
  EXPECT_FALSE(fs::exists(destination_) && fs::file_size(destination_) > 0);
}

// A table without pkid: its records are known by their columns' values. A column added by an
// upgrade changed every key, and the look-back wrote its records again.
TEST_P(ExactlyOnceTest, AColumnAddedToATableWithoutPkidWritesNothingAgain) {
  admin_.Execute("DROP TABLE " + table_);
  admin_.Execute("CREATE TABLE " + table_ +
                 " (dateTimeDisconnect INTEGER, callingPartyNumber VARCHAR(50))");
  for (int i = 1; i <= 30; ++i) {
    admin_.Execute("INSERT INTO " + table_ + " VALUES (" + std::to_string(kFirstDay + i * 60) +
                   ", '20" + std::to_string(i) + "')");
  }
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  WriteProfile(LookingBack());
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  admin_.Execute("ALTER TABLE " + table_ + " ADD COLUMN extra VARCHAR(10)");
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  std::ifstream in(destination_, std::ios::binary);
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  EXPECT_EQ(lines, 30);
}

// Everyday acts of an administrator while the profile owes nothing, or owes lines: an editor
// saving the copy it had open, and a rename.
TEST_P(ExactlyOnceTest, AnOldCopyOrARenameOfTheProfileWritesNothingTwice) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  InsertCalls(40, 60);
  WriteProfile(LookingBack());
  fs::copy_file(home_ / "SITE.CCM", home_ / "copy");
  ASSERT_EQ(Run({"SITE"}), 0);
  // Written over as an editor saves it (the C++ library of mingw-w64 takes every file for the
  // same one in copy_file: Windows' stat has no inode numbers).
  testing::WriteFile(home_ / "SITE.CCM", testing::ReadFile(home_ / "copy"));
  ASSERT_EQ(Run({"SITE"}), 0);
  EXPECT_NE(Log().find("older than the one this program stored last"), std::string::npos);
  ExpectEachOnce(40, false);

  InsertCalls(60, 60, 41);
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "appended"}}), testing::kKilledStatus);
  fs::rename(home_ / "SITE.CCM", home_ / "RENAMED.CCM");
  EXPECT_EQ(Run({"RENAMED"}), 0) << Log();
  EXPECT_NE(Log().find("was renamed to RENAMED"), std::string::npos);
  ExpectEachOnce(60, false);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ExactlyOnceTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& param_info) { return param_info.param; });

using ExactlyOnceFilesTest = CdrFilesCliTest;

// The same for a profile that collects CDR files: their records are deleted from its own
// database as they are collected.
TEST_P(ExactlyOnceFilesTest, ARemovedNoteOfOwedLinesLosesNothing) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  Reset();
  WriteFilesProfile(true);
  PutFile("cdr_C_01_202611010000_1", 1, 20);
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "committed"}}), testing::kKilledStatus);
  fs::remove(home_ / "SITE.owed");
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 20);
}

INSTANTIATE_TEST_SUITE_P(Sqlite, ExactlyOnceFilesTest, ::testing::Values("sqlite"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
