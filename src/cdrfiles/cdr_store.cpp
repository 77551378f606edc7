#include "cdrfiles/cdr_store.h"

#include <ctime>

#include "platform/db/cdr_schema.h"
#include "util/sha256.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// Seconds a writer waits for another one (a run reading, another profile importing).
constexpr int kBusyMilliseconds = 60'000;

using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

Statement Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  return Statement(stmt, sqlite3_finalize);
}

std::string Quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

std::string ColumnType(const CdrFileField& field) {
  if (field.type == CdrFieldType::kInteger) return "INTEGER";
  return "VARCHAR(" + std::to_string(field.length > 0 ? field.length : 255) + ")";
}

// The key a record is known by: its pkid, or, without one, the whole line.
std::string RecordKey(int pkid, const std::vector<CdrFileValue>& values, const std::string& line) {
  if (pkid >= 0 && !TrimView(values[static_cast<std::size_t>(pkid)].text).empty()) {
    return UpperCase(std::string(TrimView(values[static_cast<std::size_t>(pkid)].text)));
  }
  Sha256 sha;
  sha.Update(line);
  return "row:" + sha.HexDigest();
}

// Binds a record's values to the row insert, integers as integers (empty: null).
void BindRecord(sqlite3_stmt* insert_row, const std::vector<CdrFileField>& fields,
                const std::vector<CdrFileValue>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const int position = static_cast<int>(i) + 1;
    const std::string& text = values[i].text;
    if (fields[i].type == CdrFieldType::kInteger) {
      if (text.empty()) {
        sqlite3_bind_null(insert_row, position);
      } else {
        sqlite3_bind_int64(insert_row, position, std::stoll(text));
      }
    } else {
      sqlite3_bind_text(insert_row, position, text.data(), static_cast<int>(text.size()),
                        SQLITE_STATIC);
    }
  }
}

// Inserts each record of the reader whose key the table has not seen, counting both kinds into
// `result`; false with `why` when the database refuses.
bool InsertRecords(sqlite3* db, const std::string& table_name, std::int64_t now,
                   CdrFileReader& reader, CdrFileImported& result, std::string& why) {
  const std::vector<CdrFileField>& fields = reader.fields();
  std::string insert = "INSERT INTO " + Quoted(table_name) + " (";
  std::string places;
  int pkid = -1;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    insert += (i == 0 ? "" : ", ") + Quoted(fields[i].name);
    places += i == 0 ? "?" : ", ?";
    if (SameText(fields[i].name, "pkid")) pkid = static_cast<int>(i);
  }
  const Statement insert_row = Prepare(db, insert + ") VALUES (" + places + ")");
  const Statement insert_key =
      Prepare(db,
              "INSERT OR IGNORE INTO CdrFileRecordKey (table_name, record_key, imported_at) "
              "VALUES (?1, ?2, ?3)");
  if (!insert_row || !insert_key) {
    why = sqlite3_errmsg(db);
    return false;
  }
  sqlite3_bind_text(insert_key.get(), 1, table_name.data(), static_cast<int>(table_name.size()),
                    SQLITE_STATIC);
  sqlite3_bind_int64(insert_key.get(), 3, now);
  std::vector<CdrFileValue> values;
  std::string line;
  while (reader.Next(values, line)) {
    const std::string key = RecordKey(pkid, values, line);
    sqlite3_bind_text(insert_key.get(), 2, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    if (sqlite3_step(insert_key.get()) != SQLITE_DONE) {
      why = sqlite3_errmsg(db);
      return false;
    }
    sqlite3_reset(insert_key.get());
    if (sqlite3_changes(db) == 0) {
      ++result.duplicates;
      continue;
    }
    BindRecord(insert_row.get(), fields, values);
    if (sqlite3_step(insert_row.get()) != SQLITE_DONE) {
      why = sqlite3_errmsg(db);
      return false;
    }
    sqlite3_reset(insert_row.get());
    ++result.records;
  }
  return true;
}

// Notes the file as imported, and whether a file of the same bytes was imported before; false
// with `why` when the database refuses.
bool NoteImport(sqlite3* db, const std::string& table_name, std::string_view file_name,
                std::int64_t now, const CdrFileReader& reader, CdrFileImported& result,
                std::string& why) {
  const std::string sha = reader.Sha256Hex();
  const Statement earlier = Prepare(db, "SELECT 1 FROM CdrFileImport WHERE sha256 = ?1");
  const Statement note =
      Prepare(db,
              "INSERT INTO CdrFileImport (file_name, file_size, sha256, table_name, imported_at, "
              "records, duplicates) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  if (!earlier || !note) {
    why = sqlite3_errmsg(db);
    return false;
  }
  sqlite3_bind_text(earlier.get(), 1, sha.c_str(), -1, SQLITE_STATIC);
  result.same_file_before = sqlite3_step(earlier.get()) == SQLITE_ROW;
  const std::string name(file_name);
  sqlite3_bind_text(note.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  sqlite3_bind_int64(note.get(), 2, reader.bytes_read());
  sqlite3_bind_text(note.get(), 3, sha.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_text(note.get(), 4, table_name.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_int64(note.get(), 5, now);
  sqlite3_bind_int64(note.get(), 6, result.records);
  sqlite3_bind_int64(note.get(), 7, result.duplicates);
  if (sqlite3_step(note.get()) != SQLITE_DONE) {
    why = sqlite3_errmsg(db);
    return false;
  }
  return true;
}

}  // namespace

std::optional<CdrStore> CdrStore::Open(const std::filesystem::path& path, std::string& why) {
  sqlite3* db = nullptr;
  const int opened =
      sqlite3_open_v2(reinterpret_cast<const char*>(path.u8string().c_str()), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
  CdrStore store(db);
  if (opened != SQLITE_OK) {
    why = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    return std::nullopt;
  }
  sqlite3_busy_timeout(db, kBusyMilliseconds);
  // The CDR table exists from the start, with the columns CallManager 4.x has, so that a run
  // before the first file finds it empty instead of missing.
  std::vector<CdrFileField> columns;
  for (const CdrColumn& column : CdrColumns()) {
    columns.push_back(
        {std::string(column.name), "",
         column.kind == CdrColumnKind::kInteger ? CdrFieldType::kInteger : CdrFieldType::kText,
         column.length});
  }
  // One sync a commit (the log), and readers never wait for the import.
  if (!store.Exec("PRAGMA journal_mode=WAL", why) || !store.Exec("PRAGMA synchronous=FULL", why) ||
      !store.Exec("CREATE TABLE IF NOT EXISTS CdrFileImport (file_name TEXT NOT NULL, "
                  "file_size INTEGER NOT NULL, sha256 TEXT NOT NULL, table_name TEXT NOT NULL, "
                  "imported_at INTEGER NOT NULL, records INTEGER NOT NULL, "
                  "duplicates INTEGER NOT NULL)",
                  why) ||
      !store.Exec("CREATE INDEX IF NOT EXISTS CdrFileImport_sha256 ON CdrFileImport (sha256)",
                  why) ||
      !store.Exec("CREATE TABLE IF NOT EXISTS CdrFileRecordKey (table_name TEXT NOT NULL, "
                  "record_key TEXT NOT NULL, imported_at INTEGER NOT NULL, "
                  "PRIMARY KEY (table_name, record_key)) WITHOUT ROWID",
                  why) ||
      !store.EnsureColumns(kCdrFileTable, columns, why)) {
    return std::nullopt;
  }
  if (!store.Exec("CREATE INDEX IF NOT EXISTS CdrFileImport_name ON CdrFileImport (file_name)",
                  why) ||
      !store.Exec("CREATE INDEX IF NOT EXISTS CdrFileRecordKey_imported ON CdrFileRecordKey "
                  "(imported_at)",
                  why)) {
    return std::nullopt;
  }
  std::vector<std::string> indexes = CdrCreateIndexStatements(kCdrFileTable);
  // The key the engine asks for when it resolves what a killed run left.
  indexes.push_back("CREATE INDEX ix_CallDetailRecord_pkid ON CallDetailRecord (pkid)");
  for (std::string& statement : indexes) {
    statement.insert(std::string_view("CREATE INDEX ").size(), "IF NOT EXISTS ");
    if (!store.Exec(statement, why)) return std::nullopt;
  }
  return store;
}

bool CdrStore::Exec(const std::string& sql, std::string& why) {
  char* message = nullptr;
  if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  why = message != nullptr ? message : sqlite3_errmsg(db_.get());
  sqlite3_free(message);
  return false;
}

bool CdrStore::KnowsFile(std::string_view file_name, std::int64_t size) {
  const Statement known =
      Prepare(db_.get(), "SELECT 1 FROM CdrFileImport WHERE file_name = ?1 AND file_size = ?2");
  if (!known) return false;
  sqlite3_bind_text(known.get(), 1, file_name.data(), static_cast<int>(file_name.size()),
                    SQLITE_STATIC);
  sqlite3_bind_int64(known.get(), 2, size);
  return sqlite3_step(known.get()) == SQLITE_ROW;
}

bool CdrStore::KnowsContent(std::string_view sha256) {
  const Statement known = Prepare(db_.get(), "SELECT 1 FROM CdrFileImport WHERE sha256 = ?1");
  if (!known) return false;
  sqlite3_bind_text(known.get(), 1, sha256.data(), static_cast<int>(sha256.size()), SQLITE_STATIC);
  return sqlite3_step(known.get()) == SQLITE_ROW;
}

bool CdrStore::ForgetImportsBefore(std::int64_t keys_before, std::int64_t notes_before,
                                   std::string& why) {
  return Exec("DELETE FROM CdrFileRecordKey WHERE imported_at < " + std::to_string(keys_before),
              why) &&
         Exec("DELETE FROM CdrFileImport WHERE imported_at < " + std::to_string(notes_before), why);
}

std::vector<std::string> CdrStore::Columns(std::string_view table) {
  std::vector<std::string> columns;
  const Statement info = Prepare(db_.get(), "PRAGMA table_info(" + Quoted(table) + ")");
  while (info && sqlite3_step(info.get()) == SQLITE_ROW) {
    columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1)));
  }
  return columns;
}

bool CdrStore::EnsureColumns(std::string_view table, const std::vector<CdrFileField>& fields,
                             std::string& why) {
  const std::vector<std::string> columns = Columns(table);
  if (columns.empty()) {
    std::string create = "CREATE TABLE " + Quoted(table) + " (";
    for (std::size_t i = 0; i < fields.size(); ++i) {
      create += (i == 0 ? "" : ", ") + Quoted(fields[i].name) + " " + ColumnType(fields[i]);
    }
    return Exec(create + ")", why);
  }
  for (const CdrFileField& field : fields) {
    bool known = false;
    for (const std::string& column : columns) known = known || SameText(column, field.name);
    if (known) continue;
    // A newer release's field: the rows before it read empty.
    if (!Exec("ALTER TABLE " + Quoted(table) + " ADD COLUMN " + Quoted(field.name) + " " +
                  ColumnType(field),
              why)) {
      return false;
    }
  }
  return true;
}

std::optional<CdrFileImported> CdrStore::ImportFile(std::string_view table,
                                                    std::string_view file_name, std::int64_t now,
                                                    CdrFileReader& reader,
                                                    const std::function<void()>& before_commit,
                                                    std::string& why) {
  sqlite3* db = db_.get();
  if (!Exec("BEGIN IMMEDIATE", why)) return std::nullopt;
  struct Rollback {
    CdrStore* store;
    bool done = false;
    ~Rollback() {
      std::string ignored;
      if (!done) store->Exec("ROLLBACK", ignored);
    }
  } rollback{this};

  if (!EnsureColumns(table, reader.fields(), why)) return std::nullopt;
  const std::string table_name(table);
  CdrFileImported result;
  if (!InsertRecords(db, table_name, now, reader, result, why)) return std::nullopt;
  if (reader.state() != CdrFileReader::State::kEnd) return std::nullopt;
  if (!NoteImport(db, table_name, file_name, now, reader, result, why)) return std::nullopt;
  if (before_commit) before_commit();
  if (!Exec("COMMIT", why)) return std::nullopt;
  rollback.done = true;
  return result;
}

}  // namespace remoteccm
