// A folder imported into the embedded database: each record once however often its file (or
// another file with it) comes, only complete files, damaged ones set aside without stopping
// the others, newer fields added as columns, one import at a time.
#include "cdrfiles/cdr_file_import.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "cdr_file_writer.h"
#include "cdrfiles/cdr_folder.h"
#include "platform/db/cdr_schema.h"
#include "support/scratch_dir.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kImportHead =
    "\"cdrRecordType\",\"pkid\",\"dateTimeDisconnect\",\"callingPartyNumber\"\n"
    "INTEGER,UNIQUEIDENTIFIER,INTEGER,VARCHAR(50)\n";

std::string Record(int id) {
  return "1,\"PK-" + std::to_string(id) + "\"," + std::to_string(1793491200 + id) + ",\"2001\"\n";
}

std::string Records(int from, int to) {
  std::string text(kImportHead);
  for (int id = from; id <= to; ++id) text += Record(id);
  return text;
}

class CdrFileImportTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(folder_); }

  void Put(const std::string& name, const std::string& content) {
    testing::WriteFile(folder_ / name, content);
  }
  CdrImportOutcome Import(int keep_days = 7, double days_later = 0) {
    CdrImportRequest request;
    request.folder = folder_;
    request.database = home_ / "SITE.cdr.sqlite";
    request.now = static_cast<double>(std::time(nullptr)) + 1 + days_later * 86400;
    request.settle_seconds = 0;
    request.keep_days = keep_days;
    request.log = [this](std::string_view line) { log_ += std::string(line) + "\n"; };
    return ImportCdrFiles(request);
  }
  // One number the embedded database answers.
  std::int64_t Ask(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open((home_ / "SITE.cdr.sqlite").c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    std::int64_t value = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      value = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
  }
  std::int64_t Rows(std::string_view table = "CallDetailRecord") {
    return Ask("SELECT COUNT(*) FROM " + std::string(table));
  }

  testing::ScratchDir home_;
  fs::path folder_ = home_ / "incoming";
  std::string log_;
};

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
  Put(std::string("cdr_C_01_2026\n\x1b[2J_3"), Records(7, 7) + "1,\"PK-8\"\n");
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
  for (const std::string& line : outcome.rejected) {
    EXPECT_EQ(line.find_first_of("\n\x1b"), std::string::npos) << line;
  }
  EXPECT_NE(log_.find("cdr_C_01_2026\\x0a\\x1b[2J_3 is damaged (line 4: a short line"),
            std::string::npos)
      << log_;
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "rejected"), {}), 3);
}

TEST_F(CdrFileImportTest, OnlyCompleteFilesAreTaken) {
  Put(".cdr_C_01_202611010000_1", Records(1, 1));  // an upload under a hidden name
  Put("_cdr_C_01_202611010000_2", Records(2, 2));
  Put("cdr_C_01_202611010000_3",
      Records(3, 3).substr(0, Records(3, 3).size() - 1));  // last line not ended
  Put("cdr_C_01_202611010000_4", Records(4, 4));
  // Still being written: changed after the moment the import looks.
  const struct timespec later[2] = {{std::time(nullptr) + 60, 0}, {std::time(nullptr) + 60, 0}};
  ::utimensat(AT_FDCWD, (folder_ / "cdr_C_01_202611010000_4").c_str(), later, 0);
  Put("cdr_C_01_202611010000_5", Records(5, 5));
  const CdrImportOutcome outcome = Import();
  EXPECT_EQ(outcome.files, 1);
  EXPECT_EQ(outcome.incomplete, 1);
  EXPECT_TRUE(outcome.rejected.empty());
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CallDetailRecord WHERE pkid = 'PK-5'"), 1);
  for (const char* left : {".cdr_C_01_202611010000_1", "_cdr_C_01_202611010000_2",
                           "cdr_C_01_202611010000_3", "cdr_C_01_202611010000_4"}) {
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
  EXPECT_EQ(Import().files, 3);
  EXPECT_EQ(Rows(), 2);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CallDetailRecord WHERE origDeviceType IS NULL"), 1);
  EXPECT_EQ(Ask("SELECT COUNT(*) FROM CallDetailRecord WHERE ORIGDEVICETYPE = ''"), 1);
  EXPECT_EQ(Ask("SELECT numberPacketsLost FROM CallManagementRecord"), 3);
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
