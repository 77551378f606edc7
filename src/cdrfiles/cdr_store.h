// The embedded CDR database of a profile that collects from CDR files: a SQLite file with the
// tables CallDetailRecord and CallManagementRecord (the columns of the files' headers, added as
// newer files bring them), the key of every record ever imported, and the files imported.
// A file's records and the note that it was imported are committed together.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cdrfiles/cdr_file_reader.h"

namespace remoteccm {

inline constexpr std::string_view kCdrFileTable = "CallDetailRecord";
inline constexpr std::string_view kCmrFileTable = "CallManagementRecord";

// What one file brought.
struct CdrFileImported {
  std::int64_t records = 0;       // rows added
  std::int64_t duplicates = 0;    // rows whose key an earlier file already brought
  bool same_file_before = false;  // a file with the same content was imported before
};

class CdrStore {
 public:
  // Opens (creating when missing) the database; nullopt with why when it cannot be used.
  static std::optional<CdrStore> Open(const std::filesystem::path& path, std::string& why);
  CdrStore(CdrStore&&) noexcept = default;
  CdrStore& operator=(CdrStore&&) noexcept = default;

  // Reads the rest of `reader` into `table` in one transaction with the note of the file
  // (name, size, SHA-256): committed only when the whole file was read without a fault, else
  // nothing of it stays. before_commit runs with everything written but not committed.
  // nullopt when the file was not (fully) read: see reader.state(); why tells a database error.
  // `now` (seconds since 1970) is kept as the moment of the import.
  std::optional<CdrFileImported> ImportFile(std::string_view table, std::string_view file_name,
                                            std::int64_t now, CdrFileReader& reader,
                                            const std::function<void()>& before_commit,
                                            std::string& why);

  // Whether a file of this name and size was imported: a resend keeps both.
  bool KnowsFile(std::string_view file_name, std::int64_t size);
  // Whether a file with these bytes was imported.
  bool KnowsContent(std::string_view sha256);
  // Forgets the keys of records imported before keys_before and the notes of files imported
  // before notes_before: the key table would otherwise grow by every record ever imported.
  bool ForgetImportsBefore(std::int64_t keys_before, std::int64_t notes_before, std::string& why);

  // The columns of a table in order (empty when it does not exist).
  std::vector<std::string> Columns(std::string_view table);

 private:
  explicit CdrStore(sqlite3* db) : db_(db, sqlite3_close) {}
  bool Exec(const std::string& sql, std::string& why);
  bool EnsureColumns(std::string_view table, const std::vector<CdrFileField>& fields,
                     std::string& why);

  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db_;
};

}  // namespace remoteccm
