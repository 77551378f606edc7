// The import of a CDR file folder into the embedded CDR database, file by file and exactly
// once: a file's records and the note of the file are committed together, and the file leaves
// the folder only after that, for the collector's own folder of imported files, where it is
// still watched: what its writer adds later is imported too, and it is removed only once it
// has not changed for a while. A damaged file goes to the collector's folder of rejected
// files; a file that cannot be imported yet waits, and is said once it has waited too long.
// Only the kinds of file the profile reads are touched, and each kind by one profile (the
// claims). One import per database at a time (a lock file beside it).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cdrfiles/cdr_claims.h"

namespace remoteccm {

// The points of a file's import where a run may be killed; tests stop a run at each.
enum class CdrImportPoint {
  kRowsWritten,  // the file's records are written, not committed
  kCommitted,    // committed, the file still in the folder
  kDisposed,     // the file has left the folder
};

// An imported file stays where its writer may still reach it (on one file system a move keeps
// the file its writer holds open) until it has not changed for this long: only then is it
// removed, or copied out of a folder on another file system.
inline constexpr int kCdrHoldSeconds = 3600;
// A file that cannot be imported is said as a warning once it has waited this many settle
// times since it last changed.
inline constexpr int kCdrWaitSettleTimes = 10;

enum class ImportLogLevel { kInfo, kWarning };

struct CdrImportRequest {
  std::filesystem::path folder;     // the push folder
  std::filesystem::path database;   // NAME.cdr.sqlite
  std::filesystem::path note;       // NAME.cdr.sqlite.note
  std::filesystem::path collected;  // NAME.collected: the files imported
  std::filesystem::path rejected;   // NAME.rejected: the damaged files
  std::filesystem::path profile;    // the profile file, as its claims name it
  CdrKinds kinds;
  double now = 0;  // seconds since 1970
  int settle_seconds = 30;
  int keep_days = 7;
  // Records dated (this field, CDR seconds) before late_before are counted as late (nothing
  // selects them unless the look-back reaches them), and apart those before the look-back.
  std::string late_field;
  std::optional<std::int64_t> late_before;
  std::int64_t look_back = 0;
  std::function<bool(const std::filesystem::path&)> same_profile;
  ClaimantCheck claimant;
  std::function<bool()> stop;  // true: the run was asked to stop
  std::function<void(CdrImportPoint)> at_point;
  std::function<void(std::string_view, ImportLogLevel)> log;
};

struct CdrImportOutcome {
  bool usable = true;  // false: the folder or the database could not be used (see error)
  // What could not be used is the folder itself, the source of the records (as a database that
  // refuses the connection), not one of the collector's own files (a full disk, say).
  bool folder_unusable = false;
  bool refused = false;  // a kind is read by another profile (see error): the settings' fault
  bool stopped = false;  // the run was asked to stop; what was not imported stays
  std::string error;
  int files = 0;  // files imported
  std::int64_t records = 0;
  std::int64_t duplicates = 0;
  std::int64_t late = 0;                 // records dated before late_before
  std::int64_t late_past_look_back = 0;  // and before its look-back too
  int incomplete = 0;                    // files left for a later run
  std::vector<std::string> rejected;     // "NAME line N: why", names escaped
  // Files that cannot be imported and have waited too long, or cannot leave the folder:
  // "NAME: why", names escaped.
  std::vector<std::string> waiting;
  // Files in the rejected folder after the import, this run's and earlier ones': records
  // nobody has collected until someone mends or removes them.
  int set_aside = 0;
};

CdrImportOutcome ImportCdrFiles(const CdrImportRequest& request);

}  // namespace remoteccm
