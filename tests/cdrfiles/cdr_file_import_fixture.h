// The CDR-file import's tests: a scratch home with an incoming folder, the import run on it
// with a log, and the embedded database it fills asked one number at a time.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "cdrfiles/cdr_file_import.h"
#include "support/scratch_dir.h"

namespace remoteccm {

inline constexpr std::string_view kImportHead =
    "\"cdrRecordType\",\"pkid\",\"dateTimeDisconnect\",\"callingPartyNumber\"\n"
    "INTEGER,UNIQUEIDENTIFIER,INTEGER,VARCHAR(50)\n";

inline std::string Record(int id) {
  return "1,\"PK-" + std::to_string(id) + "\"," + std::to_string(1793491200 + id) + ",\"2001\"\n";
}

inline std::string Records(int from, int to) {
  std::string text(kImportHead);
  for (int id = from; id <= to; ++id) text += Record(id);
  return text;
}

class CdrFileImportTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(folder_); }

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
  std::int64_t Rows(std::string_view table = "CallDetailRecord") {
    return Ask("SELECT COUNT(*) FROM " + std::string(table));
  }

  testing::ScratchDir home_;
  std::filesystem::path folder_ = home_ / "incoming";
  std::string log_;
};

}  // namespace remoteccm
