// A profile that collects from a CDR file folder, run as remoteccm-cli: killed at each point of
// a file's import while files keep arriving and resends come, every record reaches the
// destination once; a damaged file is named in the status file; --check imports too.
#include <algorithm>
#include <functional>
#include <regex>
#include <thread>

#include "cdr_file_writer.h"
#include "cdr_files_fixture.h"
#include "support/run_cli.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// Killed at each point of the second file's import; meanwhile new files arrive, the first
// file is sent again and another file repeats records: each pkid is written once.
TEST_P(CdrFilesCliTest, KilledAtEachPointOfAnImport) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  for (const bool deletion : {true, false}) {
    for (const char* point : {"import-rows", "import-committed", "import-disposed"}) {
      SCOPED_TRACE(std::string(point) + (deletion ? ", deleting" : ", keeping"));
      Reset();
      WriteFilesProfile(deletion);
      PutFile("cdr_C_01_202611010000_1", 1, 40);
      PutFile("cdr_C_01_202611010040_2", 41, 80);
      PutFile("cdr_C_02_202611010080_1", 81, 120);
      EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", std::string(point) + ":2"}}),
                testing::kKilledStatus);
      PutFile("cdr_C_01_202611010000_1", 1, 40);     // the Repository's resend
      PutFile("cdr_C_02_202611010100_2", 100, 150);  // records again, and new ones
      PutFile("cdr_C_01_202611010150_3", 151, 160);
      EXPECT_EQ(Run({"SITE"}), 0) << Log();
      ExpectEachOnce(1, 160);
      for (const fs::directory_entry& entry : fs::directory_iterator(Folder())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("cdr_")) << entry.path();
      }
    }
  }
}

// Killed at random moments while files arrive (every third one a resend of the one before),
// of files with pkid and of files without it, whose records are known by their lines: the
// figures of a long series are printed; REMOTECCM_KILL_ROUNDS sets how many kills.
TEST_P(CdrFilesCliTest, KilledAtRandomMomentsWhileFilesArrive) {
  const int rounds = testing::KillRounds(15);
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  for (const bool with_pkid : {true, false}) {
    SCOPED_TRACE(with_pkid ? "with pkid" : "without pkid");
    Reset();
    WriteFilesProfile(true);
    std::atomic<bool> stop{false};
    std::atomic<int> last_id{0};
    std::thread writer([&] {
      for (int file = 1; !stop.load(); ++file) {
        const int from = last_id.load() + 1;
        const int to = from + 24;
        const std::string minute = std::to_string(202611010000 + file);
        ArriveFile("cdr_C_01_" + minute + "_" + std::to_string(file), from, to, with_pkid);
        if (file % 3 == 0) ArriveFile("cdr_C_02_" + minute + "_1", from - 10, to, with_pkid);
        last_id.store(to);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
      }
    });
    const int killed = KillRunsAtRandom({"SITE"}, rounds, 20261209, 300);
    stop.store(true);
    writer.join();
    ASSERT_EQ(Run({"SITE"}), 0) << Log();
    const std::map<std::string, int> collected =
        with_pkid ? CollectedPkids() : CollectedBy("callingPartyNumber");
    ExpectEachOnceIn(collected, 1, last_id.load());
    std::printf("%s: %d kills (%d during a run), %d records, %zu collected\n",
                with_pkid ? "with pkid" : "without pkid", rounds, killed, last_id.load(),
                collected.size());
    std::fflush(stdout);  // before the next runs are forked
  }
}

// Records without pkid, deletion on, a kill in the commit window: the recovery looks them up
// by the key the import gave them, and writes none of them twice.
TEST_P(CdrFilesCliTest, RecordsWithoutPkidKilledAtTheCommitAreWrittenOnce) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  for (const char* point : {"owed-noted", "ready-noted"}) {
    SCOPED_TRACE(point);
    Reset();
    WriteFilesProfile(true);
    ArriveFile("cdr_C_01_202611010000_1", 1, 20, false);
    EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", point}}), testing::kKilledStatus);
    EXPECT_EQ(Run({"SITE"}), 0) << Log();
    ExpectEachOnceIn(CollectedBy("callingPartyNumber"), 1, 20);
  }
}

TEST_P(CdrFilesCliTest, DamagedFileNamedInStatusAndCheckImports) {
  WriteFilesProfile(true);
  PutFile("cdr_C_01_202611010000_1", 1, 5);
  {
    std::ofstream(Folder() / "cdr_C_01_202611010005_2", std::ios::binary)
        << "\"cdrRecordType\",\"pkid\"\nINTEGER,UNIQUEIDENTIFIER\n1,\"6\"\nx,\"7\"\n";
  }
  EXPECT_EQ(Run({"--check", "SITE"}), 0) << Log();
  EXPECT_NE(Log().find("Imported the CDR file cdr_C_01_202611010000_1: 5 records."),
            std::string::npos)
      << Log();
  EXPECT_TRUE(fs::exists(home_ / "SITE.rejected" / "cdr_C_01_202611010005_2"));
  PutFile("cdr_C_01_202611010010_3", 10, 12);
  std::ofstream(Folder() / "cdr_C_01_202611010013_4", std::ios::binary)
      << "\"pkid\"\nINTEGER\n\"x\"\n";
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_EQ(CollectedPkids().size(), 8u);
  const std::string status = testing::ReadFile(home_ / "SITE.status");
  EXPECT_NE(status.find("\"rejected_files\": [\n    \"cdr_C_01_202611010013_4 line 3: "),
            std::string::npos)
      << status;
  // Until someone deals with them, the files set aside are a warning of every run.
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_EQ(Run({"--status", "SITE", "--check-format", "nagios"}), 1) << Log();
  EXPECT_NE(Log().find("damaged CDR files wait in the rejected folder"), std::string::npos)
      << Log();
  fs::remove_all(home_ / "SITE.rejected");
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_EQ(Run({"--status", "SITE", "--check-format", "nagios"}), 0) << Log();
}

// The CDR files of one folder go to the profile that reads CDR files, its CMR files to the one
// that reads CMR files, in another program home, whichever runs first. A third profile that
// would split a kind is refused with why, until the profile that claimed it reads another
// folder.
TEST_P(CdrFilesCliTest, ACdrAndACmrProfileShareAFolder) {
  const testing::ScratchDir other_home;
  for (const fs::path& home : {home_.path(), other_home.path()}) {
    std::ofstream(home / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  }
  const fs::path cmr_destination = other_home / "CMR.TXT";
  const std::string cmr_mode =
      "ConnectSQLMode=By SQL Query\r\nConnectSQL0=SELECT * FROM \"CallManagementRecord\"\r\n"
      "ConnectSQL1=<end>\r\nDisconnectSQL0=DELETE FROM callmanagementrecord\r\n"
      "DisconnectSQL1=<end>\r\nDeleteRecs=Y\r\n";
  for (const bool cmr_first : {true, false}) {
    SCOPED_TRACE(cmr_first ? "the CMR profile first" : "the CDR profile first");
    Reset();
    fs::remove(cmr_destination);
    for (const char* name : {"CMR.cdr.sqlite", "CMR.cdr.sqlite.note", "CMR.collected"}) {
      fs::remove_all(other_home / name);
    }
    WriteFilesProfile(true);
    WriteFilesProfileAt(other_home / "CMR.CCM", cmr_destination.string(), cmr_mode);
    PutFile("cdr_C_01_202611010000_1", 1, 3);
    std::ofstream(Folder() / "cmr_C_01_202611010000_1", std::ios::binary)
        << "\"cdrRecordType\",\"globalCallID_callId\",\"pkid\",\"jitter\"\n"
           "INTEGER,INTEGER,UNIQUEIDENTIFIER,INTEGER\n2,1,\"m1\",3\n2,2,\"m2\",4\n2,3,\"m3\",";
    for (const bool cmr_now : {cmr_first, !cmr_first}) {
      EXPECT_EQ(cmr_now ? RunIn(other_home, {"CMR"}) : Run({"SITE"}), 0) << Log();
    }
    ExpectEachOnce(1, 3);
    EXPECT_EQ(Lines(cmr_destination), 3);
  }
  WriteFilesProfileAt(home_ / "OTHER.CCM", (home_ / "OTHER.TXT").string(),
                      "ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  EXPECT_EQ(Run({"OTHER"}), 3);
  EXPECT_NE(Log().find("cannot be read by this profile: the profile " +
                       EscapedForLog((home_ / "SITE.CCM").string()) + " reads them already"),
            std::string::npos)
      << Log();
  fs::create_directory(home_ / "elsewhere");
  testing::WriteFile(home_ / "SITE.CCM", std::regex_replace(testing::ReadFile(home_ / "SITE.CCM"),
                                                            std::regex("incoming"), "elsewhere"));
  PutFile("cdr_C_01_202611010005_2", 4, 5);
  EXPECT_EQ(Run({"OTHER"}), 0) << Log();
  EXPECT_NE(Log().find("no longer reads the CDR files"), std::string::npos) << Log();
  EXPECT_EQ(Lines(home_ / "OTHER.TXT"), 2);
}

// Files as a current CallManager writes them (133 CDR and 48 CMR fields, no line feed after
// the last record) are collected whole: the CDR profile's comma lines in the file's order, the
// CMR profile's records in every layout, each deleted once written.
TEST_P(CdrFilesCliTest, CurrentReleaseFilesInEveryLayout) {
  CdrGeneratorOptions calls;
  calls.first_second = kFirstDay;
  calls.rows = 30;
  const struct {
    const char* layout;
    const char* fields;
  } layouts[] = {
      {"default", ""},
      {"formatted", "[CCM_FIELDS]\r\ndateTimeStamp=19\r\ndirectoryNum=12\r\njitter=4\r\n"},
      {"raw", "[SQL_FIELDS]\r\ndateTimeStamp=10\r\npkid=36\r\n"},
      {"comma", "[CCM_FIELDS]\r\nCSV=Y\r\n"},
  };
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.layout);
    Reset();
    fs::remove(home_ / "CCM_FIELDS.INF");
    fs::remove(home_ / "SQL_FIELDS.INF");
    const bool raw = std::string_view(layout.layout) == "raw";
    if (*layout.fields != '\0') {
      std::ofstream(home_ / (raw ? "SQL_FIELDS.INF" : "CCM_FIELDS.INF"), std::ios::binary)
          << layout.fields;
    }
    {
      CdrFileWriter writer({Folder(), "C", 2, 15});
      GenerateCdrs(calls, [&](const CdrRow& row) { writer.Write(row); });
    }
    WriteFilesProfileAt(home_ / "SITE.CCM", destination_,
                        "ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\nSQLTableName="
                        "CallManagementRecord\r\n");
    EXPECT_EQ(Run({"SITE"}), 0) << Log();
    EXPECT_EQ(Run({"SITE"}), 0) << Log();  // nothing left to write again
    EXPECT_EQ(Lines(destination_), 30) << testing::ReadFile(destination_);
    if (std::string_view(layout.layout) == "formatted") {
      EXPECT_TRUE(testing::ReadFile(destination_).starts_with("2026/11/0"))
          << testing::ReadFile(destination_);
    }
    // The CDR files stay for the profile that reads them.
    std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
    fs::remove(home_ / "SQL_FIELDS.INF");
    WriteFilesProfileAt(home_ / "CDRS.CCM", (home_ / "CDRS.TXT").string(),
                        "ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  }
  // A comma line of a CDR file's record holds the file's 133 fields in the file's order.
  EXPECT_EQ(Run({"CDRS"}), 0) << Log();
  const std::string first = testing::ReadFile(home_ / "CDRS.TXT");
  ASSERT_FALSE(first.empty());
  const std::string line = first.substr(0, first.find('\n'));
  EXPECT_EQ(std::count(line.begin(), line.end(), ','), 133) << line;
  EXPECT_TRUE(line.starts_with("1,")) << line;  // cdrRecordType first, as in the file
  EXPECT_EQ(Lines(home_ / "CDRS.TXT"), 30);
}

// A database deleted, emptied or put back from an older copy would take every resend for new:
// the run refuses and says why, and nothing is written twice; removing the note goes on.
TEST_P(CdrFilesCliTest, ADatabaseLostOrPutBackWritesNoResendAgain) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  WriteFilesProfile(true);
  const fs::path database = home_ / "SITE.cdr.sqlite";
  PutFile("cdr_C_01_202611010000_1", 1, 20);
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  fs::copy_file(database, home_ / "older");
  PutFile("cdr_C_01_202611010020_2", 21, 30);
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  const struct {
    const char* what;
    std::function<void()> change;
  } cases[] = {
      {"deleted", [] {}},
      {"emptied", [&] { testing::WriteFile(database, ""); }},
      {"put back", [&] { fs::copy_file(home_ / "older", database); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* end : {"", "-wal", "-shm"}) fs::remove(database.string() + end);
    c.change();
    PutFile("cdr_C_01_202611010000_1", 1, 20);  // the Repository's resends
    PutFile("cdr_C_01_202611010020_2", 21, 30);
    EXPECT_EQ(Run({"SITE"}), 5) << Log();
    EXPECT_NE(Log().find("Nothing is imported: a new or older database would import again"),
              std::string::npos)
        << Log();
    ExpectEachOnce(1, 30);
  }
}

// New Records Only never selects what is dated before its start (nor before its look-back,
// once it has a memory of earlier runs): records a late file brings are counted and said, in
// the log, the status file and --status.
TEST_P(CdrFilesCliTest, LateRecordsOfNewRecordsOnlyAreSaid) {
  WriteFilesProfileAt(home_ / "SITE.CCM", destination_,
                      "ConnectSQLMode=New Records Only\r\nDeleteRecs=N\r\nLateArrivalMinutes=60\r\n"
                      "SQLDateTimeFldName=dateTimeDisconnect\r\n");
  const std::string said =
      " records imported before the start point are not selected by New Records Only; All "
      "Records with deletion collects every file whenever it comes";
  PutFile("cdr_C_01_202610312220_1", -100, -60);  // no memory yet: nothing before the start
  PutFile("cdr_C_01_202611010000_1", 0, 5);
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_NE(Log().find("41" + said), std::string::npos) << Log();
  EXPECT_NE(testing::ReadFile(home_ / "SITE.status").find("\"records_before_start\": 41"),
            std::string::npos);
  EXPECT_EQ(Run({"--status", "SITE", "--check-format", "nagios"}), 1) << Log();
  // The next run starts where the last one's window ended, ten days on: later files dated
  // before that are said again.
  PutFile("cdr_C_01_202611010005_2", 6, 10);
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_NE(Log().find("\n5" + said), std::string::npos) << Log();
}

INSTANTIATE_TEST_SUITE_P(Sqlite, CdrFilesCliTest, ::testing::Values("sqlite"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
