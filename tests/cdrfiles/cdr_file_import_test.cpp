// A folder imported into the embedded database: each record once however often its file (or
// another file with it) comes, only complete files, damaged ones set aside without stopping
// the others, newer fields added as columns, one import at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "cdr_file_import_fixture.h"
#include "cdr_file_writer.h"
#include "cdrfiles/cdr_folder.h"
#include "platform/db/cdr_schema.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

TEST_F(CdrFileImportTest, EachRecordOnceWhateverIsSentAgain) {
  Put("cdr_C_01_202611010000_1", Records(1, 5));
  EXPECT_EQ(Import().records, 5);
  EXPECT_TRUE(fs::exists(folder_ / "collected" / "cdr_C_01_202611010000_1"));
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
  EXPECT_EQ(Ask("SELECT COUNT(DISTINCT pkid) FROM CallDetailRecord WHERE pkid <> ''"), 8);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CdrFileImport"), 4);
  EXPECT_NE(log_.find("the file was sent again"), std::string::npos) << log_;
  // Kept for no days: removed once imported; collected/ holds the first file only.
  for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("cdr_")) << entry.path();
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "collected"), {}), 1);
}

// The keys of records are forgotten after a season, so that their table does not grow forever;
// a file the Repository sends again is still known by its note.
TEST_F(CdrFileImportTest, AResendIsKnownAfterTheKeysAreForgotten) {
  Put("cdr_C_01_202611010000_1", Records(1, 5));
  EXPECT_EQ(Import().records, 5);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CdrFileRecordKey"), 5);
  Put("cdr_C_01_202611010000_1", Records(1, 5));
  const CdrImportOutcome resent = Import(7, kCdrRecordKeyDays + 1);
  EXPECT_EQ(resent.records, 0);
  EXPECT_EQ(resent.files, 1);
  EXPECT_EQ(Rows(), 5);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CdrFileRecordKey"), 0);
  // Another file of the same name but other bytes is no resend.
  Put("cdr_C_01_202611010000_1", Records(6, 10));
  EXPECT_EQ(Import(7, kCdrRecordKeyDays + 2).records, 5);
  EXPECT_EQ(Rows(), 10);
}

TEST_F(CdrFileImportTest, DamagedFilesSetAsideTheOthersImported) {
  Put("cdr_C_01_202611010000_1", Records(1, 3) + "1,\"PK-9\",x,\"2001\"\n");
  Put("cdr_C_01_202611010001_2", Records(4, 6));
  Put("cdr_C_01_202611010002_3", Records(7, 7) + "1,\"PK-8\"\n");
  std::ofstream(folder_ / "cdr_C_01_202611010003_4", std::ios::binary)
      << std::string(kImportHead) << std::string("1,\"PK-10\",0,\"\0\"\n", 16);
  const CdrImportOutcome outcome = Import();
  EXPECT_TRUE(outcome.usable);
  EXPECT_EQ(outcome.files, 1);
  EXPECT_EQ(Rows(), 3);  // nothing of a damaged file, not even its good lines
  ASSERT_EQ(outcome.rejected.size(), 3u);
  EXPECT_NE(std::find_if(outcome.rejected.begin(), outcome.rejected.end(),
                         [](const std::string& line) {
                           return line.starts_with("cdr_C_01_202611010000_1 line 6: ");
                         }),
            outcome.rejected.end());
  EXPECT_NE(log_.find("cdr_C_01_202611010002_3 is damaged (line 4: a short line"),
            std::string::npos)
      << log_;
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "rejected"), {}), 3);
}

TEST_F(CdrFileImportTest, OnlyCompleteFilesAreTaken) {
  Put(".cdr_C_01_202611010000_1", Records(1, 1));  // an upload under a hidden name
  Put("_cdr_C_01_202611010000_2", Records(2, 2));
  // A last record without a line feed, as a current CallManager ends its files.
  Put("cdr_C_01_202611010000_3", Records(3, 3).substr(0, Records(3, 3).size() - 1));
  Put("cdr_C_01_202611010000_4", Records(4, 4));
  // Still being written: changed after the moment the import looks.
  ASSERT_TRUE(SetFileTimes(folder_ / "cdr_C_01_202611010000_4", std::time(nullptr) + 60));
  Put("cdr_C_01_202611010000_5", Records(5, 5));
  const CdrImportOutcome outcome = Import();
  EXPECT_EQ(outcome.files, 2);
  EXPECT_TRUE(outcome.rejected.empty());
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CallDetailRecord WHERE pkid IN ('PK-3', 'PK-5')"), 2);
  for (const char* left :
       {".cdr_C_01_202611010000_1", "_cdr_C_01_202611010000_2", "cdr_C_01_202611010000_4"}) {
    EXPECT_TRUE(fs::exists(folder_ / left)) << left;
  }
}

TEST_F(CdrFileImportTest, NewerReleasesAddTheirFields) {
  // The generator's files of an older and a newer release, and a call management record.
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
  EXPECT_EQ(Import().files, 4);  // release 15 writes a CMR file beside its CDR file
  EXPECT_EQ(Rows(), 2);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CallDetailRecord WHERE origDeviceType IS NULL"), 1);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CallDetailRecord WHERE ORIGDEVICETYPE = ''"), 1);
  EXPECT_EQ(Ask("SELECT numberPacketsLost FROM CallManagementRecord WHERE pkid = 'M1'"), 3);
}

// Another run importing into the same database, or another profile out of the same folder.
TEST_F(CdrFileImportTest, AnImportInProgressIsLeftAlone) {
  Put("cdr_C_01_202611010000_1", Records(1, 2));
  for (const fs::path& held : {home_ / "SITE.cdr.sqlite.lock", folder_ / kFolderLockName}) {
    const std::optional<LockFile> other = LockFile::TryTake(held);
    ASSERT_TRUE(other);
    const CdrImportOutcome outcome = Import();
    EXPECT_TRUE(outcome.usable);
    EXPECT_EQ(outcome.files, 0);
    EXPECT_TRUE(fs::exists(folder_ / "cdr_C_01_202611010000_1"));
    EXPECT_NE(log_.find("Another run is importing"), std::string::npos);
  }
}

TEST_F(CdrFileImportTest, AFolderThatCannotBeReadMakesTheImportUnusable) {
  fs::remove_all(folder_);
  const CdrImportOutcome outcome = Import();
  EXPECT_FALSE(outcome.usable);
  EXPECT_NE(outcome.error.find("cannot be read"), std::string::npos);
}

}  // namespace
}  // namespace remoteccm
