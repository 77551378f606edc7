// The embedded CDR database of a profile that collects from CDR files: a SQLite file with the
// tables CallDetailRecord and CallManagementRecord (the columns of the files' headers, in the
// order of the newest header that brought new fields), the key of every record imported, the
// files imported, and the imported files the collector still keeps. A file's records and the
// notes of it are committed together, in a batch with the files imported before it. Every
// call into SQLite is checked: an error is an error, never an answer.
//
// A file that ends badly once its records are being written (a damaged line, a stop) takes
// the whole batch back with it, unless the files are imported each alone: a savepoint a file
// would copy every page the file touches first, which costs more than importing again, now
// and then, the files of a batch that a damaged file took back.
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

// How long the keys of imported records, and the notes of imported files, are kept. The CDR
// Repository keeps a file at most 30 days and resends only what it keeps, and a resend is
// known by its note alone; the keys catch records that come again in another file. A key ages
// with its record's date (the import clock for a record without one), the notes with the
// import clock (see ImportClock), which a wrong system clock cannot move on.
inline constexpr std::int64_t kCdrRecordKeyDays = 90;
inline constexpr std::int64_t kCdrFileNoteDays = 400;

// The records a batch of files gathers before it is committed: one synced commit, and one
// pass over the pages of the indexes, for many files.
inline constexpr std::int64_t kCdrBatchRecords = 250'000;

// An imported file the collector keeps, in its own folder or, for a while, still in the push
// folder: what it held when it was imported, so that what is written to it later is found.
struct HeldCdrFile {
  std::string kept_name;  // its name where it is kept (collected folder), unique there
  std::string file_name;  // its name in the push folder
  std::string table;
  std::int64_t size = 0;         // the bytes imported
  double modified = 0;           // its modification time then
  std::string sha256;            // of the bytes imported
  std::string identity;          // device and inode then
  std::int64_t imported_at = 0;  // the system clock at the import, Unix time
};

// One file's import.
struct CdrFileImportJob {
  std::string_view table;
  std::string_view file_name;
  std::int64_t now = 0;  // the system clock, Unix time
  CdrFileReader* reader = nullptr;
  // Records whose line ends at or before this offset were imported from this file before.
  std::int64_t known_through = 0;
  // Records dated before this (the field named, CDR seconds) are counted as late, and apart
  // those dated look_back seconds before it.
  std::string late_field;
  std::optional<std::int64_t> late_before;
  std::int64_t look_back = 0;
  // Where the file is kept once imported; written with its records.
  std::optional<HeldCdrFile> held;
  // Asked now and then while records are read: true ends the import, nothing of it kept.
  std::function<bool()> stop;
  // Runs with everything of the file written into the batch, nothing of it committed.
  std::function<void()> before_commit;
};

// What one file brought.
struct CdrFileImported {
  std::int64_t records = 0;              // rows added
  std::int64_t duplicates = 0;           // rows whose key an earlier file already brought
  std::int64_t late = 0;                 // rows added dated before the job's late_before
  std::int64_t late_past_look_back = 0;  // and before its look-back too
  bool same_file_before = false;         // a file with the same content was imported before
  bool stopped = false;                  // the job's stop ended it: nothing of it was kept
};

// What the database says of its own history: which database it is and how many imports were
// committed into it, so that a note kept outside it tells when it was replaced or restored.
struct CdrStoreIdentity {
  std::string store_id;
  std::int64_t generation = 0;
};

class CdrStore {
 public:
  // Opens (creating when missing) the database; nullopt with why when it cannot be used.
  static std::optional<CdrStore> Open(const std::filesystem::path& path, std::string& why);
  // Opens an existing database to read; nullopt when there is none or it cannot be read.
  static std::optional<CdrStore> OpenToRead(const std::filesystem::path& path);
  CdrStore(CdrStore&&) noexcept = default;
  CdrStore& operator=(CdrStore&&) noexcept = default;

  // Reads the rest of the job's reader into its table with the notes of the file (name, size,
  // SHA-256; where it is kept), into the open batch (one is begun when none is open): kept
  // only when the whole file was read without a fault, else nothing of it stays, and, unless
  // files are imported alone, nothing of the batch (BatchOpen() is false then). Nothing of a
  // batch is durable before CommitBatch. nullopt when the file was not (fully) read (see the
  // reader's state) or the database failed (why says how).
  std::optional<CdrFileImported> ImportFile(const CdrFileImportJob& job, std::string& why);
  // Begins a batch when none is open, for the notes of files whose records are known (a
  // resend) to join; ImportFile begins one itself.
  bool BeginBatch(std::string& why);
  // Whether a file that ends badly takes back only itself from now on.
  void ImportFilesAlone(bool alone) { files_alone_ = alone; }
  // Commits the open batch and syncs it (true when none is open); false with why when the
  // database refused or had given the batch up: then nothing of it stays.
  bool CommitBatch(std::string& why);
  bool BatchOpen() const { return batch_.open; }
  // The records the open batch holds.
  std::int64_t BatchRecords() const { return batch_.records; }

  // Whether a file of this name and size was imported (a resend keeps both); nullopt with why
  // when the database cannot tell.
  std::optional<bool> KnowsFile(std::string_view file_name, std::int64_t size, std::string& why);
  // Whether a file with these bytes was imported.
  std::optional<bool> KnowsContent(std::string_view sha256, std::string& why);
  // Forgets the keys of records and the notes of files older than their days on the import
  // clock: the key table would otherwise grow by every record ever imported.
  bool ForgetOldImports(std::int64_t now, std::string& why);

  // The files kept; nullopt with why when they cannot be read.
  std::optional<std::vector<HeldCdrFile>> HeldFiles(std::string& why);
  // Forgets a kept file (it was removed, or is gone); in the open batch, if there is one.
  bool ForgetHeld(std::string_view kept_name, std::string& why);
  // Notes where a kept file now lies and what it is (after a copy across file systems, or of
  // a resend); in the open batch, if there is one.
  bool UpdateHeld(const HeldCdrFile& held, std::string& why);

  CdrStoreIdentity Identity() const { return identity_; }
  // Whether the database was made by this open (it had none of the program's tables).
  bool IsNew() const { return new_; }

  // The columns of a table in order, with their types (empty when it does not exist or cannot
  // be read).
  std::vector<CdrFileField> Fields(std::string_view table);
  // How many imported files the database notes; nullopt with why when it cannot say.
  std::optional<std::int64_t> ImportedFiles(std::string& why);

  // The moment the keys and notes age by: the system clock, but never beyond the newest
  // record date imported (a clock far ahead must not make every key old), and never back.
  std::int64_t ImportClock(std::int64_t now) const;

 private:
  explicit CdrStore(sqlite3* db) : db_(db, sqlite3_close) {}
  bool Exec(const std::string& sql, std::string& why);
  bool Prepare(std::string& why);
  bool EnsureTable(std::string_view table, const std::vector<CdrFileField>& fields,
                   std::string& why);
  bool Reorder(std::string_view table, const std::vector<CdrFileField>& fields, std::string& why);
  bool CreateIndexes(std::string_view table, std::string& why);
  bool ReadState(std::string& why);
  bool FindEarlierKeys(std::string& why);
  bool BatchLost();
  void TakeBackFile();

  // The files imported since the batch began, not committed yet.
  struct Batch {
    bool open = false;
    bool lost = false;  // SQLite rolled the transaction back after an error
    std::int64_t files = 0;
    std::int64_t records = 0;
    std::int64_t newest_record = 0;
  };

  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db_;
  CdrStoreIdentity identity_;
  std::int64_t newest_record_ = 0;  // the newest record date committed
  Batch batch_;
  bool files_alone_ = false;
  // The keys of a database made before keys were kept by date, asked until they age out.
  bool earlier_keys_ = false;
  bool new_ = false;
};

}  // namespace remoteccm
