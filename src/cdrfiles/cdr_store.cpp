// One piece: every statement on the embedded CDR database, so that its tables and the
// order of its commits are read in one place.

#include "cdrfiles/cdr_store.h"

#include <algorithm>
#include <charconv>
#include <random>

#include "platform/db/cdr_file_layout.h"
#include "platform/db/cdr_schema.h"
#include "platform/db/sqlite_library.h"
#include "util/sha256.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// Seconds a writer waits for another one (a run reading, another profile importing).
constexpr int kBusyMilliseconds = 60'000;
// Records read between two looks at a stop request.
constexpr std::int64_t kRecordsBetweenStopLooks = 1000;
// The page cache of the import's connection.
constexpr int kCacheKibibytes = 16 * 1024;
constexpr const char* kBatchLost = "the transaction was taken back after an error";
// The columns that date a record, in the order they are looked for: the newest date imported
// bounds the import clock.
constexpr std::string_view kDateFields[] = {"dateTimeDisconnect", "dateTimeStamp",
                                            "dateTimeOrigination"};
constexpr std::string_view kIndexedFields[] = {"pkid", "dateTimeDisconnect", "dateTimeOrigination",
                                               "dateTimeStamp"};

// A prepared statement whose every call is checked. The first failure is kept with the
// database's message and every call after it does nothing, so that a run of calls is checked
// once, at its end. Text is bound without a copy: it must live until the statement is stepped.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) {
    Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr));
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  Statement& Bind(int position, std::int64_t value) {
    if (ok()) Check(sqlite3_bind_int64(stmt_, position, value));
    return *this;
  }
  Statement& Bind(int position, double value) {
    if (ok()) Check(sqlite3_bind_double(stmt_, position, value));
    return *this;
  }
  Statement& Bind(int position, std::string_view text) {
    if (ok()) {
      Check(sqlite3_bind_text(stmt_, position, text.data(), static_cast<int>(text.size()),
                              SQLITE_STATIC));
    }
    return *this;
  }
  Statement& BindNull(int position) {
    if (ok()) Check(sqlite3_bind_null(stmt_, position));
    return *this;
  }
  // One step: true with a row; false at the end and after a failure (ok() tells which).
  bool Step() {
    if (!ok()) return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Check(rc);
    return false;
  }
  // Steps to the end, then makes the statement ready for the next use (its values kept).
  bool Run() {
    while (Step()) {
    }
    if (ok()) Check(sqlite3_reset(stmt_));
    return ok();
  }
  // The row's first step's answer as a yes or no: whether there was a row.
  std::optional<bool> Exists() {
    const bool row = Step();
    if (!ok()) return std::nullopt;
    Check(sqlite3_reset(stmt_));
    if (!ok()) return std::nullopt;
    return row;
  }
  std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  double Real(int column) const { return sqlite3_column_double(stmt_, column); }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    return text != nullptr ? reinterpret_cast<const char*>(text) : std::string();
  }

 private:
  void Check(int rc) {
    if (rc == SQLITE_OK || !error_.empty()) return;
    const char* message = sqlite3_errmsg(db_);
    error_ = message != nullptr && *message != '\0' ? message : sqlite3_errstr(rc);
  }

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  std::string error_;
};

std::string Quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

std::string ColumnType(const CdrFileField& field) {
  if (field.type == CdrFieldType::kInteger) return "INTEGER";
  return "VARCHAR(" + std::to_string(field.length > 0 ? field.length : 255) + ")";
}

struct TableColumn {
  std::string name;
  std::string type;
};

// The columns of a table in order; nullopt with why when the database cannot say.
std::optional<std::vector<TableColumn>> TableInfo(sqlite3* db, std::string_view table,
                                                  std::string& why) {
  Statement info(db, "PRAGMA table_info(" + Quoted(table) + ")");
  std::vector<TableColumn> columns;
  while (info.Step()) columns.push_back({info.Text(1), info.Text(2)});
  if (!info.ok()) {
    why = info.error();
    return std::nullopt;
  }
  return columns;
}

int FieldIndex(const std::vector<CdrFileField>& fields, std::string_view name) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (SameText(fields[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

bool HasColumn(const std::vector<TableColumn>& columns, std::string_view name) {
  return std::any_of(columns.begin(), columns.end(),
                     [&](const TableColumn& column) { return SameText(column.name, name); });
}

std::optional<std::int64_t> WholeNumber(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The key a record is known by: its pkid, or, without one, the digest of the whole line, which
// then also stands in its pkid so that the engine can ask for it after a stop.
std::string RecordKey(int pkid, const std::vector<CdrFileValue>& values, const std::string& line) {
  if (pkid >= 0) {
    const std::string_view text = TrimView(values[static_cast<std::size_t>(pkid)].text);
    if (!text.empty()) return UpperCase(std::string(text));
  }
  Sha256 sha;
  sha.Update(line);
  return "row:" + sha.HexDigest();
}

std::string NewStoreId() {
  std::random_device random;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 32; ++i) id.push_back(kHex[random() % 16]);
  return id;
}

// The rows of one file: each whose key the table has not seen, counted into `result`. A key is
// kept under its record's date, so that the keys of a batch of files land together at the end
// of their index instead of all over it; a record that comes again is the same record, with
// the same date. A record without a date is kept under 0 and ages by its import.
class RecordInserter {
 public:
  RecordInserter(sqlite3* db, const CdrFileImportJob& job, std::int64_t clock, bool earlier_keys)
      : job_(job), reader_(*job.reader), clock_(clock) {
    const std::vector<CdrFileField>& fields = reader_.fields();
    pkid_ = FieldIndex(fields, "pkid");
    for (const std::string_view name : kDateFields) {
      const int at = FieldIndex(fields, name);
      if (at >= 0 && fields[static_cast<std::size_t>(at)].type == CdrFieldType::kInteger) {
        date_ = at;
        break;
      }
    }
    if (job.late_before) late_ = FieldIndex(fields, job.late_field);
    std::string insert = "INSERT INTO " + Quoted(job.table) + " (";
    std::string places;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      insert += (i == 0 ? "" : ", ") + Quoted(fields[i].name);
      places += i == 0 ? "?" : ", ?";
    }
    if (pkid_ < 0) {
      // A file without the field: the record's key stands in the table's pkid.
      insert += ", \"pkid\"";
      places += ", ?";
    }
    insert_row_.emplace(db, insert + ") VALUES (" + places + ")");
    insert_key_.emplace(db,
                        "INSERT OR IGNORE INTO CdrFileDatedKey (dated, record_key, table_name, "
                        "imported_at) VALUES (?1, ?2, ?3, ?4)");
    insert_key_->Bind(3, job.table);
    if (earlier_keys) {
      earlier_key_.emplace(
          db, "SELECT 1 FROM CdrFileRecordKey WHERE table_name = ?1 AND record_key = ?2");
      earlier_key_->Bind(1, job.table);
    }
    db_ = db;
  }

  // False with why when the database refused.
  bool Run(CdrFileImported& result, std::int64_t& newest_date, std::string& why) {
    std::vector<CdrFileValue> values;
    std::string line;
    std::string key;
    for (std::int64_t read = 1;; ++read) {
      if (read % kRecordsBetweenStopLooks == 0 && job_.stop && job_.stop()) {
        result.stopped = true;
        return true;
      }
      if (!reader_.Next(values, line)) break;
      if (reader_.line_end() <= job_.known_through) continue;
      key = RecordKey(pkid_, values, line);
      const std::int64_t date = DateOf(values);
      const std::optional<bool> is_new = KeyIsNew(key, date, why);
      if (!is_new) return false;
      if (!*is_new) {
        ++result.duplicates;
        continue;
      }
      if (!InsertRow(values, key)) {
        why = insert_row_->error();
        return false;
      }
      ++result.records;
      newest_date = std::max(newest_date, date);
      if (late_ >= 0) CountLate(values, result);
    }
    if (!insert_row_->ok()) why = insert_row_->error();
    if (!insert_key_->ok()) why = insert_key_->error();
    return why.empty();
  }

 private:
  // Whether the record's key is new (it is kept from now on): not known before in either table
  // of keys. Nothing, with why, when the database refused.
  std::optional<bool> KeyIsNew(const std::string& key, std::int64_t date, std::string& why) {
    insert_key_->Bind(1, std::max<std::int64_t>(date, 0)).Bind(2, key);
    if (date > 0) {
      insert_key_->BindNull(4);
    } else {
      insert_key_->Bind(4, clock_);
    }
    if (!insert_key_->Run()) {
      why = insert_key_->error();
      return std::nullopt;
    }
    if (sqlite3_changes(db_) == 0) return false;
    if (!earlier_key_) return true;
    const std::optional<bool> known = earlier_key_->Bind(2, key).Exists();
    if (!known) {
      why = earlier_key_->error();
      return std::nullopt;
    }
    return !*known;
  }
  // A record dated before what New Records Only still selects, or before its look-back.
  void CountLate(const std::vector<CdrFileValue>& values, CdrFileImported& result) const {
    const std::optional<std::int64_t> at =
        WholeNumber(values[static_cast<std::size_t>(late_)].text);
    if (at && *at < *job_.late_before) ++result.late;
    if (at && *at < *job_.late_before - job_.look_back) ++result.late_past_look_back;
  }
  // The record's date (the first dating field the header has), 0 when it has none.
  std::int64_t DateOf(const std::vector<CdrFileValue>& values) const {
    return date_ < 0 ? 0 : values[static_cast<std::size_t>(date_)].number;
  }
  // Integers as integers (empty: null), texts as they are.
  bool InsertRow(const std::vector<CdrFileValue>& values, const std::string& key) {
    const std::vector<CdrFileField>& fields = reader_.fields();
    Statement& row = *insert_row_;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const int position = static_cast<int>(i) + 1;
      const std::string& text = values[i].text;
      if (static_cast<int>(i) == pkid_ && TrimView(text).empty()) {
        row.Bind(position, std::string_view(key));
      } else if (fields[i].type != CdrFieldType::kInteger) {
        row.Bind(position, std::string_view(text));
      } else if (!text.empty()) {
        row.Bind(position, values[i].number);  // the reader checked it is one
      } else {
        row.BindNull(position);
      }
    }
    if (pkid_ < 0) row.Bind(static_cast<int>(values.size()) + 1, std::string_view(key));
    return row.Run();
  }

  const CdrFileImportJob& job_;
  CdrFileReader& reader_;
  std::int64_t clock_;
  sqlite3* db_ = nullptr;
  int pkid_ = -1;
  int date_ = -1;
  int late_ = -1;
  std::optional<Statement> insert_row_;
  std::optional<Statement> insert_key_;
  std::optional<Statement> earlier_key_;
};

}  // namespace

std::optional<CdrStore> CdrStore::Open(const std::filesystem::path& path, std::string& why) {
  // The import opens the run's first SQLite connection: the library's mode is set before it,
  // once for the process, or the ODBC driver's reads after it would take a lock a call.
  PrepareSqliteLibrary();
  sqlite3* db = nullptr;
  // One thread uses the connection: no lock around each of its calls.
  const int opened = sqlite3_open_v2(
      reinterpret_cast<const char*>(path.u8string().c_str()), &db,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
      nullptr);
  CdrStore store(db);
  if (opened != SQLITE_OK) {
    why = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    return std::nullopt;
  }
  sqlite3_busy_timeout(db, kBusyMilliseconds);
  // One sync a commit (the log), and readers never wait for the import. The cache holds the
  // pages a batch touches most (the ends of the indexes it appends to), not the whole batch:
  // the rest goes to the log as it spills, memory stays flat.
  if (!store.Exec("PRAGMA journal_mode=WAL", why) || !store.Exec("PRAGMA synchronous=FULL", why) ||
      !store.Exec("PRAGMA cache_size=-" + std::to_string(kCacheKibibytes), why) ||
      !store.Prepare(why)) {
    return std::nullopt;
  }
  return store;
}

std::optional<CdrStore> CdrStore::OpenToRead(const std::filesystem::path& path) {
  PrepareSqliteLibrary();
  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(reinterpret_cast<const char*>(path.u8string().c_str()), &db,
                                     SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr);
  CdrStore store(db);
  if (opened != SQLITE_OK) return std::nullopt;
  sqlite3_busy_timeout(db, kBusyMilliseconds);
  return store;
}

// The program's tables, and both record tables from the start, so that a run before the first
// file finds its table empty instead of missing: the CDR table with the columns CallManager
// 4.x has, the CMR table with those of a current release's CMR files.
bool CdrStore::Prepare(std::string& why) {
  Statement known(db_.get(),
                  "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'CdrFileStore'");
  const std::optional<bool> had_state = known.Exists();
  if (!had_state) {
    why = known.error();
    return false;
  }
  new_ = !*had_state;
  if (!Exec("CREATE TABLE IF NOT EXISTS CdrFileImport (file_name TEXT NOT NULL, "
            "file_size INTEGER NOT NULL, sha256 TEXT NOT NULL, table_name TEXT NOT NULL, "
            "imported_at INTEGER NOT NULL, records INTEGER NOT NULL, "
            "duplicates INTEGER NOT NULL)",
            why) ||
      !Exec("CREATE INDEX IF NOT EXISTS CdrFileImport_sha256 ON CdrFileImport (sha256)", why) ||
      !Exec("CREATE INDEX IF NOT EXISTS CdrFileImport_name ON CdrFileImport (file_name)", why) ||
      // dated: the record's date, 0 for a record without one, which ages by imported_at (the
      // import clock then; null for a record with a date).
      !Exec("CREATE TABLE IF NOT EXISTS CdrFileDatedKey (dated INTEGER NOT NULL, "
            "record_key TEXT NOT NULL, table_name TEXT NOT NULL, imported_at INTEGER, "
            "PRIMARY KEY (dated, record_key, table_name)) WITHOUT ROWID",
            why) ||
      !Exec("CREATE TABLE IF NOT EXISTS CdrFileHeld (kept_name TEXT PRIMARY KEY, "
            "file_name TEXT NOT NULL, table_name TEXT NOT NULL, size INTEGER NOT NULL, "
            "modified REAL NOT NULL, sha256 TEXT NOT NULL, identity TEXT NOT NULL, "
            "imported_at INTEGER NOT NULL)",
            why) ||
      !Exec("CREATE TABLE IF NOT EXISTS CdrFileStore (id INTEGER PRIMARY KEY CHECK (id = 1), "
            "store_id TEXT NOT NULL, generation INTEGER NOT NULL, "
            "newest_record INTEGER NOT NULL)",
            why)) {
    return false;
  }
  std::vector<CdrFileField> cdr;
  for (const CdrColumn& column : CdrColumns()) {
    cdr.push_back(
        {std::string(column.name), "",
         column.kind == CdrColumnKind::kInteger ? CdrFieldType::kInteger : CdrFieldType::kText,
         column.length});
  }
  std::vector<CdrFileField> cmr;
  for (const CdrFileLayoutField& field : CurrentCmrFileFields()) {
    CdrFileField parsed{std::string(field.name), "", CdrFieldType::kText, 0};
    ParseCdrFieldType(field.type, parsed);
    cmr.push_back(parsed);
  }
  for (const auto& [table, fields] :
       {std::pair{kCdrFileTable, &cdr}, std::pair{kCmrFileTable, &cmr}}) {
    const std::optional<std::vector<TableColumn>> columns = TableInfo(db_.get(), table, why);
    if (!columns) return false;
    if (columns->empty() && !EnsureTable(table, *fields, why)) return false;
    if (!CreateIndexes(table, why)) return false;
  }
  return FindEarlierKeys(why) && ReadState(why);
}

// A database made before keys were kept by date has them in CdrFileRecordKey (table_name,
// record_key, imported_at): asked beside the new ones until the last of them ages out, then
// dropped.
bool CdrStore::FindEarlierKeys(std::string& why) {
  Statement table(db_.get(),
                  "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'CdrFileRecordKey'");
  const std::optional<bool> exists = table.Exists();
  if (!exists) {
    why = table.error();
    return false;
  }
  earlier_keys_ = false;
  if (!*exists) return true;
  Statement any(db_.get(), "SELECT 1 FROM CdrFileRecordKey LIMIT 1");
  const std::optional<bool> held = any.Exists();
  if (!held) {
    why = any.error();
    return false;
  }
  if (*held) {
    earlier_keys_ = true;
    return true;
  }
  return Exec("DROP TABLE CdrFileRecordKey", why);
}

bool CdrStore::ReadState(std::string& why) {
  Statement state(db_.get(),
                  "SELECT store_id, generation, newest_record FROM CdrFileStore WHERE id = 1");
  if (state.Step()) {
    identity_ = {state.Text(0), state.Int(1)};
    newest_record_ = state.Int(2);
    return true;
  }
  if (!state.ok()) {
    why = state.error();
    return false;
  }
  identity_ = {NewStoreId(), 0};
  Statement insert(db_.get(),
                   "INSERT INTO CdrFileStore (id, store_id, generation, newest_record) "
                   "VALUES (1, ?1, 0, 0)");
  if (!insert.Bind(1, std::string_view(identity_.store_id)).Run()) {
    why = insert.error();
    return false;
  }
  return true;
}

bool CdrStore::Exec(const std::string& sql, std::string& why) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return true;
  why = message != nullptr ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  return false;
}

std::int64_t CdrStore::ImportClock(std::int64_t now) const {
  const std::int64_t newest = batch_.open ? batch_.newest_record : newest_record_;
  return newest > 0 ? std::min(now, newest) : now;
}

std::optional<bool> CdrStore::KnowsFile(std::string_view file_name, std::int64_t size,
                                        std::string& why) {
  Statement known(db_.get(), "SELECT 1 FROM CdrFileImport WHERE file_name = ?1 AND file_size = ?2");
  const std::optional<bool> answer = known.Bind(1, file_name).Bind(2, size).Exists();
  if (!answer) why = known.error();
  return answer;
}

std::optional<bool> CdrStore::KnowsContent(std::string_view sha256, std::string& why) {
  Statement known(db_.get(), "SELECT 1 FROM CdrFileImport WHERE sha256 = ?1");
  const std::optional<bool> answer = known.Bind(1, sha256).Exists();
  if (!answer) why = known.error();
  return answer;
}

bool CdrStore::ForgetOldImports(std::int64_t now, std::string& why) {
  const std::int64_t clock = ImportClock(now);
  const std::int64_t keys_before = clock - kCdrRecordKeyDays * 86400;
  // The dated keys go from the start of their index, the undated ones are few.
  Statement dated(db_.get(), "DELETE FROM CdrFileDatedKey WHERE dated > 0 AND dated < ?1");
  Statement undated(db_.get(), "DELETE FROM CdrFileDatedKey WHERE dated = 0 AND imported_at < ?1");
  Statement notes(db_.get(), "DELETE FROM CdrFileImport WHERE imported_at < ?1");
  for (Statement* forget : {&dated, &undated}) {
    if (!forget->Bind(1, keys_before).Run()) {
      why = forget->error();
      return false;
    }
  }
  if (!notes.Bind(1, clock - kCdrFileNoteDays * 86400).Run()) {
    why = notes.error();
    return false;
  }
  if (!earlier_keys_) return true;
  Statement earlier(db_.get(), "DELETE FROM CdrFileRecordKey WHERE imported_at < ?1");
  if (!earlier.Bind(1, keys_before).Run()) {
    why = earlier.error();
    return false;
  }
  return FindEarlierKeys(why);
}

std::optional<std::vector<HeldCdrFile>> CdrStore::HeldFiles(std::string& why) {
  Statement held(db_.get(),
                 "SELECT kept_name, file_name, table_name, size, modified, sha256, identity, "
                 "imported_at FROM CdrFileHeld ORDER BY imported_at, kept_name");
  std::vector<HeldCdrFile> files;
  while (held.Step()) {
    files.push_back({held.Text(0), held.Text(1), held.Text(2), held.Int(3), held.Real(4),
                     held.Text(5), held.Text(6), held.Int(7)});
  }
  if (!held.ok()) {
    why = held.error();
    return std::nullopt;
  }
  return files;
}

bool CdrStore::ForgetHeld(std::string_view kept_name, std::string& why) {
  Statement forget(db_.get(), "DELETE FROM CdrFileHeld WHERE kept_name = ?1");
  if (!forget.Bind(1, kept_name).Run()) {
    why = forget.error();
    return false;
  }
  return true;
}

bool CdrStore::UpdateHeld(const HeldCdrFile& held, std::string& why) {
  Statement update(db_.get(),
                   "INSERT OR REPLACE INTO CdrFileHeld (kept_name, file_name, table_name, size, "
                   "modified, sha256, identity, imported_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, "
                   "?7, ?8)");
  update.Bind(1, std::string_view(held.kept_name))
      .Bind(2, std::string_view(held.file_name))
      .Bind(3, std::string_view(held.table))
      .Bind(4, held.size)
      .Bind(5, held.modified)
      .Bind(6, std::string_view(held.sha256))
      .Bind(7, std::string_view(held.identity))
      .Bind(8, held.imported_at);
  if (!update.Run()) {
    why = update.error();
    return false;
  }
  return true;
}

std::vector<CdrFileField> CdrStore::Fields(std::string_view table) {
  std::string why;
  std::vector<CdrFileField> fields;
  if (const auto columns = TableInfo(db_.get(), table, why)) {
    for (const TableColumn& column : *columns) {
      CdrFileField field{column.name, "", CdrFieldType::kText, 0};
      // The columns are declared with the types of the files that brought them.
      if (!ParseCdrFieldType(column.type, field)) field.length = 0;
      fields.push_back(std::move(field));
    }
  }
  return fields;
}

std::optional<std::int64_t> CdrStore::ImportedFiles(std::string& why) {
  Statement count(db_.get(), "SELECT COUNT(*) FROM CdrFileImport");
  if (!count.Step()) {
    why = count.ok() ? "no count" : count.error();
    return std::nullopt;
  }
  return count.Int(0);
}

bool CdrStore::CreateIndexes(std::string_view table, std::string& why) {
  const std::optional<std::vector<TableColumn>> columns = TableInfo(db_.get(), table, why);
  if (!columns) return false;
  for (const std::string_view field : kIndexedFields) {
    if (!HasColumn(*columns, field)) continue;
    // The pkid is what the engine asks for when it resolves what a killed run left.
    const std::string name = "ix_" + std::string(table) + "_" + std::string(field);
    if (!Exec("CREATE INDEX IF NOT EXISTS " + Quoted(name) + " ON " + Quoted(table) + " (" +
                  Quoted(field) + ")",
              why)) {
      return false;
    }
  }
  return true;
}

bool CdrStore::EnsureTable(std::string_view table, const std::vector<CdrFileField>& fields,
                           std::string& why) {
  const std::optional<std::vector<TableColumn>> columns = TableInfo(db_.get(), table, why);
  if (!columns) return false;
  if (columns->empty()) {
    std::string create = "CREATE TABLE " + Quoted(table) + " (";
    for (std::size_t i = 0; i < fields.size(); ++i) {
      create += (i == 0 ? "" : ", ") + Quoted(fields[i].name) + " " + ColumnType(fields[i]);
    }
    // Every record has a key the engine can ask for, whether the files have a pkid or not.
    if (FieldIndex(fields, "pkid") < 0) create += ", \"pkid\" VARCHAR(68)";
    return Exec(create + ")", why) && CreateIndexes(table, why);
  }
  const bool all_known = std::all_of(fields.begin(), fields.end(), [&](const CdrFileField& f) {
    return HasColumn(*columns, f.name);
  });
  if (all_known) return true;
  return Reorder(table, fields, why);
}

// A header with fields the table lacks (a newer release) gives the table its order: its fields
// first, in its order, then the table's other columns that hold a value (rows of an earlier
// release) and pkid; columns that never held one (the 4.x columns the table started with) go.
bool CdrStore::Reorder(std::string_view table, const std::vector<CdrFileField>& fields,
                       std::string& why) {
  const std::optional<std::vector<TableColumn>> info = TableInfo(db_.get(), table, why);
  if (!info) return false;
  std::vector<std::string> create;
  std::vector<std::string> carried;
  for (const CdrFileField& field : fields) {
    create.push_back(Quoted(field.name) + " " + ColumnType(field));
    if (HasColumn(*info, field.name)) carried.push_back(Quoted(field.name));
  }
  for (const TableColumn& column : *info) {
    if (FieldIndex(fields, column.name) >= 0) continue;
    Statement holds(db_.get(), "SELECT 1 FROM " + Quoted(table) + " WHERE " + Quoted(column.name) +
                                   " IS NOT NULL LIMIT 1");
    const std::optional<bool> any = holds.Exists();
    if (!any) {
      why = holds.error();
      return false;
    }
    if (!*any && !SameText(column.name, "pkid")) continue;
    create.push_back(Quoted(column.name) + " " + column.type);
    carried.push_back(Quoted(column.name));
  }
  const std::string reordered = std::string(table) + "__reordered";
  std::string create_sql = "CREATE TABLE " + Quoted(reordered) + " (";
  std::string carried_list;
  for (std::size_t i = 0; i < create.size(); ++i) create_sql += (i == 0 ? "" : ", ") + create[i];
  for (std::size_t i = 0; i < carried.size(); ++i) {
    carried_list += (i == 0 ? "" : ", ") + carried[i];
  }
  return Exec("DROP TABLE IF EXISTS " + Quoted(reordered), why) && Exec(create_sql + ")", why) &&
         (carried.empty() || Exec("INSERT INTO " + Quoted(reordered) + " (" + carried_list +
                                      ") SELECT " + carried_list + " FROM " + Quoted(table),
                                  why)) &&
         Exec("DROP TABLE " + Quoted(table), why) &&
         Exec("ALTER TABLE " + Quoted(reordered) + " RENAME TO " + Quoted(table), why) &&
         CreateIndexes(table, why);
}

std::optional<CdrFileImported> CdrStore::ImportFile(const CdrFileImportJob& job, std::string& why) {
  CdrFileReader& reader = *job.reader;
  if (!BeginBatch(why)) return std::nullopt;
  if (BatchLost()) {
    why = kBatchLost;
    return std::nullopt;
  }
  if (files_alone_ && !Exec("SAVEPOINT cdr_file", why)) return std::nullopt;
  // Whatever ends the file before it is kept takes back what it wrote.
  struct TakeBack {
    CdrStore* store;
    bool done = false;
    ~TakeBack() {
      if (!done) store->TakeBackFile();
    }
  } take_back{this};

  if (!EnsureTable(job.table, reader.fields(), why)) return std::nullopt;
  CdrFileImported result;
  std::int64_t newest = batch_.newest_record;
  const std::int64_t clock = ImportClock(job.now);
  RecordInserter inserter(db_.get(), job, clock, earlier_keys_);
  if (!inserter.Run(result, newest, why)) return std::nullopt;
  if (result.stopped) return result;
  if (reader.state() != CdrFileReader::State::kEnd) return std::nullopt;

  const std::string sha = reader.Sha256Hex();
  Statement earlier(db_.get(), "SELECT 1 FROM CdrFileImport WHERE sha256 = ?1");
  const std::optional<bool> same = earlier.Bind(1, std::string_view(sha)).Exists();
  if (!same) {
    why = earlier.error();
    return std::nullopt;
  }
  result.same_file_before = *same;
  Statement note(db_.get(),
                 "INSERT INTO CdrFileImport (file_name, file_size, sha256, table_name, "
                 "imported_at, records, duplicates) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  note.Bind(1, job.file_name)
      .Bind(2, reader.bytes_read())
      .Bind(3, std::string_view(sha))
      .Bind(4, job.table)
      .Bind(5, clock)
      .Bind(6, result.records)
      .Bind(7, result.duplicates);
  Statement state(db_.get(),
                  "UPDATE CdrFileStore SET generation = generation + 1, newest_record = ?1 "
                  "WHERE id = 1");
  if (!note.Run() || !state.Bind(1, newest).Run()) {
    why = note.ok() ? state.error() : note.error();
    return std::nullopt;
  }
  if (job.held) {
    HeldCdrFile held = *job.held;
    held.size = reader.bytes_read();
    held.sha256 = sha;
    if (!UpdateHeld(held, why)) return std::nullopt;
  }
  if (job.before_commit) job.before_commit();
  if (files_alone_ && !Exec("RELEASE cdr_file", why)) return std::nullopt;
  take_back.done = true;
  ++batch_.files;
  batch_.records += result.records;
  batch_.newest_record = newest;
  return result;
}

bool CdrStore::BeginBatch(std::string& why) {
  if (batch_.open) return true;
  if (!Exec("BEGIN IMMEDIATE", why)) return false;
  batch_ = {true, false, 0, 0, newest_record_};
  return true;
}

bool CdrStore::CommitBatch(std::string& why) {
  if (!batch_.open) return true;
  const bool lost = BatchLost();
  if (lost || !Exec("COMMIT", why)) {
    if (lost) why = kBatchLost;
    std::string ignored;
    if (!lost) Exec("ROLLBACK", ignored);
    batch_ = {};
    return false;
  }
  identity_.generation += batch_.files;
  newest_record_ = batch_.newest_record;
  batch_ = {};
  return true;
}

void CdrStore::TakeBackFile() {
  std::string ignored;
  if (files_alone_ && !BatchLost()) {
    Exec("ROLLBACK TO cdr_file", ignored);
    Exec("RELEASE cdr_file", ignored);
    return;
  }
  if (!BatchLost()) Exec("ROLLBACK", ignored);
  batch_ = {};
}

// Some failures (a full disk, an I/O error) make SQLite roll the whole transaction back: then
// nothing of the batch may be taken as committed.
bool CdrStore::BatchLost() {
  if (batch_.open && !batch_.lost && sqlite3_get_autocommit(db_.get()) != 0) batch_.lost = true;
  return batch_.lost;
}

}  // namespace remoteccm
