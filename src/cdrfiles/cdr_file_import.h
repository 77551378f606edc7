// The import of a CDR file folder into the embedded CDR database, file by file and exactly
// once: a file's records and the note of the file are committed together, and the file leaves
// the folder only after that. A damaged file goes to rejected/, a file still being written is
// left for a later run. One import per database at a time (a lock file beside it).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace remoteccm {

// The points of a file's import where a run may be killed; tests stop a run at each.
enum class CdrImportPoint {
  kRowsWritten,  // the file's records are written, not committed
  kCommitted,    // committed, the file still in the folder
  kDisposed,     // the file has left the folder
};

// How long the keys of imported records, and the notes of imported files, are kept. The CDR
// Repository keeps a file at most 30 days and resends only what it keeps, and a resend is
// known by its note alone; the keys catch records that come again in another file.
inline constexpr std::int64_t kCdrRecordKeyDays = 90;
inline constexpr std::int64_t kCdrFileNoteDays = 400;

struct CdrImportRequest {
  std::filesystem::path folder;
  std::filesystem::path database;
  double now = 0;  // seconds since 1970
  int settle_seconds = 30;
  int keep_days = 7;
  std::function<void(CdrImportPoint)> at_point;
  std::function<void(std::string_view)> log;
};

struct CdrImportOutcome {
  bool usable = true;  // false: the folder or the database could not be used (see error)
  // What could not be used is the folder itself, the source of the records (as a database that
  // refuses the connection), not one of the collector's own files (a full disk, say).
  bool folder_unusable = false;
  std::string error;
  int files = 0;  // files imported
  std::int64_t records = 0;
  std::int64_t duplicates = 0;
  int incomplete = 0;                 // files left for a later run
  std::vector<std::string> rejected;  // "NAME line N: why", names escaped
  // Files in rejected/ after the import, this run's and earlier ones': records nobody has
  // collected until someone mends or removes them.
  int set_aside = 0;
};

CdrImportOutcome ImportCdrFiles(const CdrImportRequest& request);

}  // namespace remoteccm
