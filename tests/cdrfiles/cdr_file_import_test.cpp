// A folder imported into the embedded database: each record once however often its file (or
// another file with it) comes or grows, only files that no longer change, damaged ones set
// aside without stopping the others, newer fields added as columns, one import at a time, a
// database that lost its history refused, each kind of file read by one profile.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "cdr_file_import_fixture.h"
#include "cdr_file_writer.h"
#include "cdrfiles/cdr_store.h"
#include "platform/db/cdr_file_layout.h"
#include "platform/db/cdr_schema.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

TEST_F(CdrFileImportTest, EachRecordOnceWhateverIsSentAgain) {
  Put("cdr_C_01_202611010000_1", Records(1, 5));
  EXPECT_EQ(Import().records, 5);
  EXPECT_TRUE(fs::exists(collected_ / "cdr_C_01_202611010000_1"));
  // The Repository's resend of the same file, a second push with overlapping records, and a
  // file of records without pkid sent twice under two names.
  Put("cdr_C_01_202611010000_1", Records(1, 5));
  Put("cdr_C_02_202611010001_1", Records(4, 8));
  const std::string keyless = std::string(kImportHead) + "2,\"\",1793491300,\"2002\"\n";
  Put("cdr_C_02_202611010002_2", keyless);
  Put("cdr_C_02_202611010002_3", keyless);
  const CdrImportOutcome again = Import(0);
  EXPECT_EQ(again.files, 4);
  EXPECT_EQ(again.records, 4);
  EXPECT_EQ(again.duplicates, 3);  // the resend is known as a whole, not record by record
  EXPECT_EQ(Rows(), 9);
  EXPECT_EQ(Ask("SELECT COUNT(DISTINCT pkid) FROM CallDetailRecord WHERE pkid LIKE 'PK-%'"), 8);
  // A record without pkid carries its line's digest as its key, which the engine can ask for.
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CallDetailRecord WHERE pkid LIKE 'row:%'"), 1);
  EXPECT_NE(log_.find("the file was sent again"), std::string::npos) << log_;
  EXPECT_EQ(Entries(folder_), 0);
  // Kept for no days: removed once they have not changed for an hour after their import.
  EXPECT_EQ(Entries(collected_), 5);
  Import(0, 1.0 / 48);
  EXPECT_EQ(Entries(collected_), 5);
  Import(0, 2.0 / 24);
  EXPECT_EQ(Entries(collected_), 0);
  EXPECT_EQ(Rows(), 9);
}

// Keys are forgotten when the records are a season old: a clock far ahead does not age them,
// newer records do. A file the Repository sends again is still known by its note.
TEST_F(CdrFileImportTest, KeysAgeByTheRecordsNotTheClock) {
  Put("cdr_C_01_202611010000_1", Records(1, 5));
  EXPECT_EQ(Import().records, 5);
  Put("cdr_C_02_202611010000_1", Records(1, 5));
  EXPECT_EQ(Import(7, 1000).records, 0);  // the clock ran far ahead: every key is still known
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CdrFileDatedKey"), 5);
  const std::int64_t later = 1793491200 + (kCdrRecordKeyDays + 1) * 86400;
  Put("cdr_C_01_202702010000_1", Records(6, 6, later));
  EXPECT_EQ(Import(7, 1000).records, 1);
  EXPECT_EQ(Import(7, 1000).files, 0);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CdrFileDatedKey"), 1);
  Put("cdr_C_01_202611010000_1", Records(1, 5));
  const CdrImportOutcome resent = Import(7, 1000);
  EXPECT_EQ(resent.records, 0);
  EXPECT_EQ(resent.files, 1);
  EXPECT_EQ(Rows(), 6);
}

// A database made before keys were kept by date: its keys still catch the records that come
// again, until they are a season old and their table goes.
TEST_F(CdrFileImportTest, KeysOfTheEarlierLayoutCatchRepeatsUntilTheyAge) {
  Put("cdr_C_01_202611010000_1", Records(1, 2));
  ASSERT_EQ(Import().records, 2);
  Change(
      "CREATE TABLE CdrFileRecordKey (table_name TEXT NOT NULL, record_key TEXT NOT NULL, "
      "imported_at INTEGER NOT NULL, PRIMARY KEY (table_name, record_key)) WITHOUT ROWID;"
      "CREATE INDEX CdrFileRecordKey_imported ON CdrFileRecordKey (imported_at);"
      "INSERT INTO CdrFileRecordKey VALUES ('CallDetailRecord', 'PK-3', 1793491203), "
      "('CallDetailRecord', 'PK-4', 1793491204), ('CallManagementRecord', 'PK-5', 1793491205)");
  Put("cdr_C_01_202611010001_2", Records(2, 5));
  const CdrImportOutcome repeated = Import();
  EXPECT_EQ(repeated.records, 1);  // PK-5: only a CMR record had that key
  EXPECT_EQ(repeated.duplicates, 3);
  const std::int64_t later = 1793491200 + (kCdrRecordKeyDays + 1) * 86400;
  Put("cdr_C_01_202702010000_1", Records(6, 6, later));
  EXPECT_EQ(Import(7, 1000).records, 1);
  Import(7, 1000);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM sqlite_master WHERE name LIKE 'CdrFileRecordKey%'"), 0);
  EXPECT_EQ(Rows(), 4);
}

// A fault of the database within a batch of files, one that only fails the statement and one
// that makes SQLite roll the transaction back: the batch goes with the file, and every file of
// it stays in the folder, to come in once later.
TEST_F(CdrFileImportTest, AFaultWithinABatchLeavesTheBatchInTheFolder) {
  Put("cdr_C_01_202611010000_0", Records(1, 1));
  ASSERT_EQ(Import().records, 1);
  for (const std::string raise : {"ABORT", "ROLLBACK"}) {
    SCOPED_TRACE(raise);
    Change(
        "CREATE TRIGGER refuse BEFORE INSERT ON CdrFileImport WHEN NEW.file_name LIKE '%_2' "
        "BEGIN SELECT RAISE(" +
        raise + ", 'refused'); END");
    const int first = raise == "ABORT" ? 10 : 20;
    for (int file = 1; file <= 3; ++file) {
      Put("cdr_C_01_2026110100" + std::to_string(first + file) + "_" + std::to_string(file),
          Records(first + 2 * file, first + 2 * file + 1));
    }
    const CdrImportOutcome outcome = Import();
    EXPECT_FALSE(outcome.usable);
    EXPECT_NE(outcome.error.find("_2 could not be imported: refused. It stays for the next run, "
                                 "as does what was imported before it in the same transaction "
                                 "(1 file)."),
              std::string::npos)
        << outcome.error;
    EXPECT_EQ(outcome.files, 0);
    EXPECT_EQ(Entries(folder_), 3);
    Change("DROP TRIGGER refuse");
    EXPECT_EQ(Import().records, 6);
  }
  EXPECT_EQ(Rows(), 13);
  EXPECT_EQ(Entries(folder_), 0);
}

TEST_F(CdrFileImportTest, DamagedFilesSetAsideTheOthersImported) {
  Put("cdr_C_01_202611010000_1", Records(1, 3) + "1,\"PK-9\",secret,\"2001\"\n");
  Put("cdr_C_01_202611010001_2", Records(4, 6));
  Put("cdr_C_01_202611010002_3", Records(7, 7) + "1,\"PK-8\"\n");
  std::ofstream(folder_ / "cdr_C_01_202611010003_4", std::ios::binary)
      << std::string(kImportHead) << std::string("1,\"PK-10\",0,\"\0\"\n", 16);
  Put("cdr_C_01_202611010004_5", "root:$6$secret:19000:0:99999:7:::\nINTEGER\n");
  const CdrImportOutcome outcome = Import();
  EXPECT_TRUE(outcome.usable);
  EXPECT_EQ(outcome.files, 1);
  EXPECT_EQ(Rows(), 3);  // nothing of a damaged file, not even its good lines
  ASSERT_EQ(outcome.rejected.size(), 4u);
  EXPECT_NE(std::find(outcome.rejected.begin(), outcome.rejected.end(),
                      "cdr_C_01_202611010000_1 line 6: the value of field 3 is not a whole number"),
            outcome.rejected.end());
  EXPECT_NE(log_.find("cdr_C_01_202611010002_3 is damaged (line 4: a short line: 2 fields, the "
                      "header has 4"),
            std::string::npos)
      << log_;
  // Where and what, never what the file holds.
  EXPECT_EQ(log_.find("secret"), std::string::npos) << log_;
  EXPECT_EQ(Entries(rejected_), 4);
  EXPECT_EQ(outcome.set_aside, 4);
}

// A file is taken once the system says it has not changed for the settle time, whatever its
// modification time says; its last line needs no line feed when it holds every field. A file
// that cannot become one waits and is said.
TEST_F(CdrFileImportTest, WhichFilesAreTakenAndWhichWait) {
  Put(".cdr_C_01_202611010000_1", Records(1, 1));  // an upload under a hidden name
  Put("_cdr_C_01_202611010000_2", Records(2, 2));
  const std::string unended = Records(3, 3);
  Put("cdr_C_01_202611010000_3", unended.substr(0, unended.size() - 1));
  Put("cdr_C_01_202611010000_4", Records(4, 4));
  ASSERT_TRUE(SetFileTimes(folder_ / "cdr_C_01_202611010000_4", std::time(nullptr) + 86400));
  Put("cdr_C_01_202611010000_5", Records(5, 5));
  ASSERT_TRUE(SetFileTimes(folder_ / "cdr_C_01_202611010000_5", 1000000000));  // cp -p of 2001
  Put("cdr_C_01_202611010000_6", Records(6, 6) + "1,\"PK-7\",1793491207");     // cut short
  Put("cdr_C_01_202611010000_7", "");
  Put("cdr_C_01_202611010000_8", "\"cdrRecordType\",\"pkid\"");
  Put("cdr_C_01_202611010000_9", "\"cdrRecordType\"\rINTEGER\r1\r");
  const CdrImportOutcome outcome = Import();
  EXPECT_EQ(outcome.files, 3);
  EXPECT_EQ(Rows(), 3);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CallDetailRecord WHERE pkid IN ('PK-3', 'PK-4', 'PK-5')"), 3);
  const auto waits = [&](const CdrImportOutcome& o, const std::string& name) {
    for (const std::string& file : o.waiting) {
      if (file.starts_with(name + ": ")) return file.substr(name.size() + 2);
    }
    return std::string();
  };
  EXPECT_EQ(outcome.waiting.size(), 4u);
  EXPECT_EQ(waits(outcome, "cdr_C_01_202611010000_7"), "it is not complete: it is empty");
  EXPECT_NE(waits(outcome, "cdr_C_01_202611010000_8").find("one line"), std::string::npos);
  EXPECT_NE(waits(outcome, "cdr_C_01_202611010000_9").find("carriage return"), std::string::npos);
  // A last line cut short may be an upload that pauses there: damaged only after the hold.
  EXPECT_NE(waits(outcome, "cdr_C_01_202611010000_6").find("cut short"), std::string::npos);
  EXPECT_TRUE(outcome.rejected.empty());
  EXPECT_NE(log_.find("W: The CDR file cdr_C_01_202611010000_8 cannot be imported"),
            std::string::npos)
      << log_;
  for (const char* left :
       {".cdr_C_01_202611010000_1", "_cdr_C_01_202611010000_2", "cdr_C_01_202611010000_6",
        "cdr_C_01_202611010000_7", "cdr_C_01_202611010000_9"}) {
    EXPECT_TRUE(fs::exists(folder_ / left)) << left;
  }
  // Kept by the time of the import, not by the old modification time.
  EXPECT_TRUE(fs::exists(collected_ / "cdr_C_01_202611010000_5"));
  const CdrImportOutcome later = Import(7, 2.0 / 24);
  ASSERT_EQ(later.rejected.size(), 1u);
  EXPECT_EQ(later.rejected[0],
            "cdr_C_01_202611010000_6 line 4: a short last line without a line feed: 3 fields, "
            "the header has 4");
  // With the default settle time the same files only wait, unsaid: they may still be written.
  CdrImportRequest patient = Request();
  patient.settle_seconds = 30;
  EXPECT_TRUE(ImportCdrFiles(patient).waiting.empty());
}

TEST_F(CdrFileImportTest, NewerReleasesAddTheirFieldsInTheirOrder) {
  // The generator's files of an older and a current release (that one with its CMR file).
  for (const int release : {8, 15}) {
    CdrFileWriter writer({folder_, "C", 1, release});
    CdrRow row(CdrColumns().size());
    row[static_cast<std::size_t>(CdrColumnIndex("pkid"))].text = "R" + std::to_string(release);
    row[static_cast<std::size_t>(CdrColumnIndex("dateTimeDisconnect"))].number =
        1793491200 + release * 60;
    writer.Write(row);
  }
  Put("cmr_C_01_202611010000_1",
      "\"cdrRecordType\",\"pkid\",\"numberPacketsLost\"\nINTEGER,UNIQUEIDENTIFIER,INTEGER\n"
      "2,\"M1\",3\n");
  EXPECT_EQ(Import().files, 4);
  EXPECT_EQ(Rows(), 2);
  EXPECT_EQ(Rows("CallManagementRecord"), 2);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CallDetailRecord WHERE origDeviceType IS NULL"), 1);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CallDetailRecord WHERE ORIGDEVICETYPE = ''"), 1);
  EXPECT_EQ(Ask("SELECT numberPacketsLost FROM CallManagementRecord WHERE pkid = 'M1'"), 3);
  // The table's columns come in the current release's order; the 4.x columns no file had go.
  std::string why;
  std::optional<CdrStore> store = CdrStore::Open(home_ / "SITE.cdr.sqlite", why);
  ASSERT_TRUE(store) << why;
  std::vector<std::string> columns;
  for (const CdrFileField& field : store->Fields("CallDetailRecord")) columns.push_back(field.name);
  const auto current = CurrentCdrFileFields();
  ASSERT_GE(columns.size(), current.size());
  for (std::size_t i = 0; i < current.size(); ++i) EXPECT_EQ(columns[i], current[i].name) << i;
  EXPECT_EQ(std::count(columns.begin(), columns.end(), "callingPartyLoginUserID"), 1);
  EXPECT_EQ(store->Fields("CallManagementRecord").size(), CurrentCmrFileFields().size());
}

// Another run importing into the same database; one that has held it for long hangs.
TEST_F(CdrFileImportTest, AnImportInProgressIsLeftAlone) {
  Put("cdr_C_01_202611010000_1", Records(1, 2));
  const fs::path lock = home_ / "SITE.cdr.sqlite.lock";
  const std::optional<LockFile> other = LockFile::TryTake(lock);
  ASSERT_TRUE(other);
  const CdrImportOutcome outcome = Import();
  EXPECT_TRUE(outcome.usable);
  EXPECT_EQ(outcome.files, 0);
  EXPECT_TRUE(outcome.waiting.empty());
  EXPECT_TRUE(fs::exists(folder_ / "cdr_C_01_202611010000_1"));
  EXPECT_NE(log_.find("Another run is importing"), std::string::npos);
  ASSERT_TRUE(SetFileTimes(lock, std::time(nullptr) - 2 * kCdrHoldSeconds));
  const CdrImportOutcome hung = Import();
  ASSERT_EQ(hung.waiting.size(), 1u);
  EXPECT_NE(hung.waiting[0].find("another run has held"), std::string::npos) << hung.waiting[0];
}

TEST_F(CdrFileImportTest, AFolderThatCannotBeReadMakesTheImportUnusable) {
  fs::remove_all(folder_);
  const CdrImportOutcome outcome = Import();
  EXPECT_FALSE(outcome.usable);
  EXPECT_NE(outcome.error.find("cannot be read"), std::string::npos);
}

// A database deleted, emptied or put back from an older copy would import every resend again:
// the note beside it makes the import refuse until it is put back, or the note removed.
TEST_F(CdrFileImportTest, ADatabaseThatLostItsHistoryIsRefused) {
  const fs::path database = home_ / "SITE.cdr.sqlite";
  Put("cdr_C_01_202611010000_1", Records(1, 5));
  ASSERT_EQ(Import().records, 5);
  fs::copy_file(database, home_ / "older");
  Put("cdr_C_01_202611010001_2", Records(6, 8));
  ASSERT_EQ(Import().records, 3);
  const fs::path note = home_ / "SITE.cdr.sqlite.note";
  const std::string kept_note = testing::ReadFile(note);
  const struct {
    const char* what;
    std::function<void()> change;
    const char* says;
  } cases[] = {
      {"deleted", [&] { fs::remove(database); }, "it is missing"},
      {"emptied", [&] { testing::WriteFile(database, ""); }, "it is empty"},
      {"put back", [&] { fs::copy_file(home_ / "older", database); }, "from an older copy"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(database);
    fs::remove(database.string() + "-wal");
    fs::remove(database.string() + "-shm");
    c.change();
    Put("cdr_C_01_202611010000_1", Records(1, 5));  // the Repository sends it again
    const CdrImportOutcome outcome = Import();
    EXPECT_FALSE(outcome.usable);
    EXPECT_EQ(outcome.records, 0);
    EXPECT_NE(outcome.error.find(c.says), std::string::npos) << outcome.error;
    EXPECT_TRUE(fs::exists(folder_ / "cdr_C_01_202611010000_1"));
    testing::WriteFile(note, kept_note);
  }
  // Going on with the older one is a choice someone makes by removing the note.
  fs::remove(note);
  EXPECT_TRUE(Import().usable);
}

// A stop asked for during the import ends it between files, and within a long file; what was
// not committed stays in the folder: within a file, the files of its batch too.
TEST_F(CdrFileImportTest, AStopEndsTheImport) {
  Put("cdr_C_01_202611010000_1", Records(1, 2));
  Put("cdr_C_01_202611010001_2", Records(3, 2502));
  for (const int asks_before_stop : {3, 1}) {
    SCOPED_TRACE(asks_before_stop);
    CdrImportRequest request = Request();
    int asked = 0;
    request.stop = [&] { return ++asked > asks_before_stop; };
    const CdrImportOutcome outcome = ImportCdrFiles(request);
    EXPECT_TRUE(outcome.stopped);
    // Inside the second file, at its 2000th record; then before it.
    EXPECT_EQ(outcome.files, asks_before_stop == 1 ? 1 : 0);
    EXPECT_EQ(Entries(folder_), asks_before_stop == 1 ? 1 : 2);
  }
  EXPECT_EQ(Rows(), 2);
}

// A profile takes only the kinds it reads, each kind by one profile: a claim of another
// profile that still reads it, or a damaged claim, is refused; a claim whose profile reads it
// no longer is taken over.
TEST_F(CdrFileImportTest, EachKindGoesToTheProfileThatClaimsIt) {
  Put("cdr_C_01_202611010000_1", Records(1, 2));
  Put("cmr_C_01_202611010000_1",
      "\"cdrRecordType\",\"pkid\"\nINTEGER,UNIQUEIDENTIFIER\n2,\"M1\"\n");
  CdrImportRequest cdr_only = Request();
  cdr_only.kinds = {true, false};
  EXPECT_EQ(ImportCdrFiles(cdr_only).files, 1);
  EXPECT_TRUE(fs::exists(folder_ / "cmr_C_01_202611010000_1"));
  const fs::path claim = folder_ / ".remoteccm-cmr.claim";
  const std::string other = "remoteccm-claim 1\n" + (home_ / "OTHER.CCM").string() + "\n";
  const struct {
    const char* what;
    std::function<void()> make;
    Claimant other_says;
    bool refused;
  } cases[] = {
      {"another profile reads them", [&] { testing::WriteFile(claim, other); }, Claimant::kReads,
       true},
      {"its profile cannot be read", [&] { testing::WriteFile(claim, other); },
       Claimant::kUncheckable, true},
      {"a damaged claim", [&] { testing::WriteFile(claim, "remoteccm-claim 1\nx\n"); },
       Claimant::kStale, true},
      {"its profile reads no longer", [&] { testing::WriteFile(claim, other); }, Claimant::kStale,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(claim);
    c.make();
    CdrImportRequest request = Request();
    request.claimant = [&](const fs::path& profile, CdrFileKind) {
      EXPECT_EQ(profile, home_ / "OTHER.CCM");
      return c.other_says;
    };
    const CdrImportOutcome outcome = ImportCdrFiles(request);
    EXPECT_EQ(outcome.refused, c.refused) << outcome.error << log_;
    EXPECT_EQ(fs::exists(folder_ / "cmr_C_01_202611010000_1"), c.refused);
  }
  EXPECT_EQ(testing::ReadFile(claim), "remoteccm-claim 1\n" + (home_ / "SITE.CCM").string() + "\n");
}

}  // namespace
}  // namespace remoteccm
