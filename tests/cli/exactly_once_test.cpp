// Every record exactly once, in the destination or still in the table, never both, never twice:
// runs killed at each point of a pass, runs that overlap on one destination, and lines owed
// by one profile found by another.
#include <signal.h>

#include <thread>

#include "cli_run_fixture.h"
#include "support/run_cli.h"

namespace remoteccm {
namespace {

class ExactlyOnceTest : public CliRunTest {
 protected:
  // Each pkid of 1..n: in the destination once; with deletion, in the destination or in the
  // table, not both.
  void ExpectEachOnce(int n, bool deletion) {
    const std::map<std::string, int> collected = CollectedPkids();
    const std::set<std::string> on_server = ServerPkids();
    for (int id = 1; id <= n; ++id) {
      const std::string pkid = std::to_string(id);
      const auto found = collected.find(pkid);
      const int times = found == collected.end() ? 0 : found->second;
      EXPECT_LE(times, 1) << pkid << " written twice";
      if (deletion) {
        EXPECT_EQ(times + static_cast<int>(on_server.count(pkid)), 1) << pkid;
      } else {
        EXPECT_EQ(times, 1) << pkid << " never written";
      }
    }
  }
};

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
                128 + SIGKILL);
      InsertCalls(301, 8000, 301);  // pkid 301 arrives meanwhile, and 302 late: its time is
      InsertCallAt(302, kFirstDay + 300 * 8000 - 600);  // before the newest record's
      EXPECT_EQ(Run({"SITE"}), 0) << Log();
      ExpectEachOnce(302, deletion);
      EXPECT_FALSE(fs::exists(destination_ + ".spool"));
      EXPECT_FALSE(fs::exists(destination_ + ".spool-ready"));
    }
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

// A second run on the same destination, whether by the same profile, another profile, a link
// or a relative path, changes nothing while the first one holds it.
TEST_P(ExactlyOnceTest, OverlappingRunsOnOneDestination) {
  InsertCalls(200, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  fs::create_directories(home_ / "links");
  fs::create_symlink(destination_, home_ / "links" / "CDR-LINK.TXT");
  const std::string relative = fs::relative(destination_, fs::current_path()).string();
  const std::string others[] = {destination_, (home_ / "links" / "CDR-LINK.TXT").string(),
                                relative};
  int round = 0;
  for (const std::string& other : others) {
    SCOPED_TRACE(other);
    // The first run halts with its lines owed and its deletion not committed.
    const pid_t first = Start(
        {"SITE"}, {{"REMOTECCM_FAULT_POINT", "ready-noted"}, {"REMOTECCM_FAULT_ACTION", "stop"}});
    int status = 0;
    ASSERT_EQ(::waitpid(first, &status, WUNTRACED), first);
    ASSERT_TRUE(WIFSTOPPED(status));
    const std::string owed = destination_ + ".spool";
    const std::string spool_before = fs::exists(owed) ? std::to_string(fs::file_size(owed)) : "";

    std::ofstream(home_ / "OTHER.CCM", std::ios::binary)
        << "[Options]\r\nDestinationFile=" << other << "\r\nSQLConnectionString=" << connection_
        << "\r\nSQLTableName=" << table_ << "\r\nConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n";
    EXPECT_EQ(Run({round == 0 ? "SITE" : "OTHER"}), 75);
    EXPECT_NE(Log().find("Another run is writing to " + destination_), std::string::npos);
    EXPECT_EQ(fs::exists(owed) ? std::to_string(fs::file_size(owed)) : "", spool_before);

    ::kill(first, SIGCONT);
    EXPECT_EQ(Wait(first), 0);
    ExpectEachOnce(200, true);
    ++round;
  }
  // A lock file left by a killed run holds nothing.
  InsertCalls(210, 60, 201);
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "spool-durable"}}), 128 + SIGKILL);
  EXPECT_TRUE(fs::exists(destination_ + ".lock"));
  EXPECT_EQ(Run({"SITE"}), 0);
  ExpectEachOnce(210, true);
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
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "appended"}}), 128 + SIGKILL);
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
    EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", point}}), 128 + SIGKILL);
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
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "ready-noted"}}), 128 + SIGKILL);
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
  fs::copy_file(home_ / "copy", home_ / "SITE.CCM", fs::copy_options::overwrite_existing);
  ASSERT_EQ(Run({"SITE"}), 0);
  EXPECT_NE(Log().find("older than the one this program stored last"), std::string::npos);
  ExpectEachOnce(40, false);

  InsertCalls(60, 60, 41);
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "appended"}}), 128 + SIGKILL);
  fs::rename(home_ / "SITE.CCM", home_ / "RENAMED.CCM");
  EXPECT_EQ(Run({"RENAMED"}), 0) << Log();
  EXPECT_NE(Log().find("was renamed to RENAMED"), std::string::npos);
  ExpectEachOnce(60, false);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ExactlyOnceTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
