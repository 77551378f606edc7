// The CDR-file import's tests: a scratch home with an incoming folder, the import run on it
// with a log, and the embedded database it fills asked one number at a time.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>

#include "cdrfiles/cdr_file_import.h"
#include "support/scratch_dir.h"

namespace remoteccm {

inline constexpr std::string_view kImportHead =
    "\"cdrRecordType\",\"pkid\",\"dateTimeDisconnect\",\"callingPartyNumber\"\n"
    "INTEGER,UNIQUEIDENTIFIER,INTEGER,VARCHAR(50)\n";

inline std::string Record(int id, std::int64_t first = 1793491200) {
  return "1,\"PK-" + std::to_string(id) + "\"," + std::to_string(first + id) + ",\"2001\"\n";
}

inline std::string Records(int from, int to, std::int64_t first = 1793491200) {
  std::string text(kImportHead);
  for (int id = from; id <= to; ++id) text += Record(id, first);
  return text;
}

class CdrFileImportTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(folder_); }

  void Put(const std::string& name, const std::string& content) {
    testing::WriteFile(folder_ / name, content);
  }
  // The import of both kinds into SITE's database, `seconds_later` after now.
  CdrImportRequest Request(int keep_days = 7, double seconds_later = 0) {
    CdrImportRequest request;
    request.folder = folder_;
    request.database = home_ / "SITE.cdr.sqlite";
    request.note = home_ / "SITE.cdr.sqlite.note";
    request.collected = collected_;
    request.rejected = rejected_;
    request.profile = home_ / "SITE.CCM";
    request.kinds = {true, true};
    // The precise clock: a file's change time is precise too, and time() may still show the
    // second before it.
    request.now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() +
        1 + seconds_later;
    request.settle_seconds = 0;
    request.keep_days = keep_days;
    request.same_profile = [this](const std::filesystem::path& p) {
      return p == home_ / "SITE.CCM";
    };
    request.claimant = [](const std::filesystem::path&, CdrFileKind) { return Claimant::kStale; };
    request.log = [this](std::string_view line, ImportLogLevel level) {
      log_ += (level == ImportLogLevel::kWarning ? "W: " : "") + std::string(line) + "\n";
    };
    return request;
  }
  CdrImportOutcome Import(int keep_days = 7, double days_later = 0) {
    return ImportCdrFiles(Request(keep_days, days_later * 86400));
  }
  // One number the embedded database answers.
  std::int64_t Ask(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open((home_ / "SITE.cdr.sqlite").string().c_str(), &db);
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
  // Changes the embedded database as another program, or an earlier version, would.
  void Change(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open((home_ / "SITE.cdr.sqlite").string().c_str(), &db);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << error;
    sqlite3_free(error);
    sqlite3_close(db);
  }
  std::int64_t Rows(std::string_view table = "CallDetailRecord") {
    return Ask("SELECT COUNT(*) FROM " + std::string(table));
  }
  // The entries of a folder, hidden ones (the claims of the push folder) left out.
  static std::int64_t Entries(const std::filesystem::path& folder) {
    std::error_code error;
    std::int64_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      count += entry.path().filename().string().starts_with(".") ? 0 : 1;
    }
    return count;
  }

  testing::ScratchDir home_;
  std::filesystem::path folder_ = home_ / "incoming";
  std::filesystem::path collected_ = home_ / "SITE.collected";
  std::filesystem::path rejected_ = home_ / "SITE.rejected";
  std::string log_;
};

}  // namespace remoteccm
