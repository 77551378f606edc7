// One retrieval pass, in named phases: select the records of the pass's window, spool their
// lines (and write their backup lines), delete them on the server when the profile says so,
// owe the lines to the destination, commit, append, move the start on. Each phase can end the
// pass; the outcome says how, and what is left for the next run.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "cdrfiles/cdr_file_import.h"
#include "platform/db/database.h"
#include "profile/profile_file.h"
#include "retrieval/destination.h"
#include "retrieval/engine_observer.h"
#include "retrieval/late_arrivals.h"
#include "util/clock.h"

namespace remoteccm {

enum class PassOutcome {
  kCompleted,   // the lines are in the destination (or there were none); the start moved on
  kFailed,      // nothing was deleted or written: the records stay for another pass
  kAborted,     // stopped on request, as kFailed
  kRunMustEnd,  // a file could not be written, or a commit or a stored start is not sure:
                // what is owed stays beside the destination for the next run
};

// The points between the phases where a run may be killed; tests stop a run at each.
enum class PassPoint {
  kSpoolDurable,  // the lines are on disk, nothing deleted yet
  kDeleted,       // the deletion ran, not committed
  kOwedNoted,     // the lines are owed (noted beside the profile, not yet beside the destination)
  kReadyNoted,    // the lines are owed to the destination, the deletion not committed
  kCommitted,     // the deletion is committed, nothing appended
  kMidAppend,     // part of the lines are appended
  kAppended,      // all lines are appended, the start not stored
  kStartStored,   // the start is stored, the spool not yet removed
  kUnmarked,      // the lines are no longer owed, the spool not yet removed
};

struct EngineHooks {
  // Called between a pass's selection and its deletion (tests insert a row here).
  std::function<void(DbConnection&)> before_deletion;
  // Called once the run's connection to the CDR database is open (tests watch its calls).
  std::function<void(DbConnection&)> connected;
  // Called at each point of a pass.
  std::function<void(PassPoint)> at_point;
  // Called at each point of a CDR file's import.
  std::function<void(CdrImportPoint)> at_import_point;
  // Every column read as text, integers too (tests compare the lines of both ways).
  bool integers_as_text = false;
};

struct PassResult {
  PassOutcome outcome = PassOutcome::kFailed;
  std::int64_t records = 0;  // records read
  std::int64_t lines = 0;    // lines appended to the destination
  bool deleted = false;      // the records read were deleted (committed)
  bool passes_done = false;  // the windowed modes want no further pass
};

// What a pass works with; the engine owns it for the run.
struct PassContext {
  const ProfileEnvironment& env;
  ProfileSettings& settings;  // the start (sql_new_rec_date) moves on
  DbConnection& database;
  const DestinationFiles& files;
  EngineObserver& observer;
  Clock& clock;
  // Seconds the collector's clock is ahead of the database server's (0 when it is not, or the
  // server cannot tell): windows never reach past the server's own time.
  double clock_ahead = 0;
  const EngineHooks& hooks;
  std::function<bool()> aborted;
  std::function<void(std::string_view)> log;                  // a line of the log
  std::function<void(std::string_view)> log_error;            // a line that tells of a failure
  std::function<void(LogPriority, std::string_view)> log_at;  // a record's line, a warning
  double& range_start;  // By Date: moved on by a completed pass
  double range_end;
  // New Records Only: the memory of what was written (nullptr: none), where it is kept, and
  // how far back the look-back for late arrivals reaches (0: none).
  LateArrivalMemory* late = nullptr;
  std::filesystem::path late_path;
  double look_back_seconds = 0;
};

PassResult TransferPass(PassContext& context);

}  // namespace remoteccm
