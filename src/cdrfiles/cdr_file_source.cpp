#include "cdrfiles/cdr_file_source.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "cdrfiles/cdr_file_reader.h"
#include "cdrfiles/cdr_folder.h"
#include "cdrfiles/cdr_store.h"
#include "platform/db/driver_file_path.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

using ReadOnlyDatabase = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;

// The profile's embedded database as it stands, to read from; none when it is not there (it is
// not made), nor for a profile without a file, whose database would be nobody's.
ReadOnlyDatabase OpenToRead(const ProfileSettings& settings) {
  const std::filesystem::path path = CdrDatabasePath(settings);
  std::error_code error;
  if (TrimView(settings.profile_path).empty() || !std::filesystem::is_regular_file(path, error)) {
    return {nullptr, sqlite3_close};
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(reinterpret_cast<const char*>(path.u8string().c_str()), &db,
                      SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return {nullptr, sqlite3_close};
  }
  return {db, sqlite3_close};
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

}  // namespace

bool UsesCdrFiles(const ProfileSettings& settings) {
  return !TrimView(settings.cdr_file_folder).empty();
}

std::filesystem::path CdrDatabasePath(const ProfileSettings& settings) {
  std::filesystem::path path = settings.profile_path;
  path.replace_extension();
  path += std::string(kCdrDatabaseExtension);
  return path;
}

void UseCdrDatabase(ProfileSettings& settings) {
  if (!UsesCdrFiles(settings)) return;
  const std::string database = DriverFilePath(CdrDatabasePath(settings));
  const bool plain = database.find_first_of(";{}") == std::string::npos;
  settings.sql_connection_string =
      "Provider=MSDASQL;Driver=SQLite3;Database=" + (plain ? database : "{" + database + "}");
  settings.login.clear();
  settings.password.clear();
}

CdrImportOutcome ImportProfileCdrFiles(const ProfileSettings& settings, double now,
                                       const std::function<void(CdrImportPoint)>& at_point,
                                       const std::function<void(std::string_view)>& log) {
  CdrImportRequest request;
  request.folder = std::string(TrimView(settings.cdr_file_folder));
  request.database = CdrDatabasePath(settings);
  request.now = now;
  request.settle_seconds = settings.cdr_file_settle_seconds;
  request.keep_days = settings.cdr_file_keep_days;
  request.at_point = at_point;
  request.log = log;
  return ImportCdrFiles(request);
}

CdrFolderSummary SummarizeCdrFolder(const ProfileSettings& settings, double now) {
  CdrFolderSummary summary;
  const auto files = CompleteCdrFiles(std::string(TrimView(settings.cdr_file_folder)), now,
                                      settings.cdr_file_settle_seconds, summary.error);
  if (!files) return summary;
  summary.complete_files = static_cast<int>(files->size());
  if (!files->empty()) summary.newest = files->back().modified;
  // Every CDR file of the folder, settled or not: seen from a moment after any change.
  std::string why;
  const auto all = CompleteCdrFiles(std::string(TrimView(settings.cdr_file_folder)),
                                    std::numeric_limits<double>::infinity(), 0, why);
  for (const CdrFolderFile& file : all.value_or(std::vector<CdrFolderFile>())) {
    if (file.modified <= now - settings.cdr_file_settle_seconds) continue;
    ++summary.settling_files;
    summary.newest_settling =
        std::max(summary.newest_settling.value_or(file.modified), file.modified);
  }
  // A profile without a file, or whose database is not made yet, has imported nothing.
  std::error_code error;
  if (TrimView(settings.profile_path).empty() ||
      (!std::filesystem::exists(CdrDatabasePath(settings), error) && !error)) {
    summary.imported_files = 0;
    return summary;
  }
  const ReadOnlyDatabase db = OpenToRead(settings);
  sqlite3_stmt* raw = nullptr;
  if (!db || sqlite3_prepare_v2(db.get(), "SELECT COUNT(*) FROM CdrFileImport", -1, &raw,
                                nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return summary;  // a database that cannot be read tells nothing
  }
  const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> count(raw, sqlite3_finalize);
  if (sqlite3_step(count.get()) == SQLITE_ROW) {
    summary.imported_files = sqlite3_column_int(count.get(), 0);
  }
  return summary;
}

std::vector<CdrFileField> CdrFileFields(const ProfileSettings& settings, double now) {
  std::string why;
  const auto files = CompleteCdrFiles(std::string(TrimView(settings.cdr_file_folder)), now,
                                      settings.cdr_file_settle_seconds, why);
  if (files) {
    for (auto file = files->rbegin(); file != files->rend(); ++file) {
      if (file->management) continue;
      const CdrFileReader reader(file->path);
      if (reader.state() == CdrFileReader::State::kReading) return reader.fields();
    }
  }
  std::vector<CdrFileField> fields;
  const ReadOnlyDatabase db = OpenToRead(settings);
  if (!db) return fields;
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v2(db.get(),
                     ("PRAGMA table_info(\"" + std::string(kCdrFileTable) + "\")").c_str(), -1,
                     &raw, nullptr);
  const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> columns(raw, sqlite3_finalize);
  while (columns && sqlite3_step(columns.get()) == SQLITE_ROW) {
    CdrFileField field;
    field.name = ColumnText(columns.get(), 1);
    // The table's columns are declared with the types of the files that brought them.
    if (!ParseCdrFieldType(ColumnText(columns.get(), 2), field)) field.length = 0;
    fields.push_back(std::move(field));
  }
  return fields;
}

}  // namespace remoteccm
