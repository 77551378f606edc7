// One retrieval pass, in named phases: select the records of the pass's window, spool their
// lines (and write their backup lines), delete them on the server when the profile says so,
// owe the lines to the destination, commit, append, move the start on. Each phase can end the
// pass; the outcome says how, and what is left for the next run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

#include "platform/db/database.h"
#include "profile/profile_settings.h"
#include "retrieval/run/late_arrivals.h"
#include "retrieval/run/run_services.h"
#include "retrieval/spool/destination.h"

namespace remoteccm {

enum class PassOutcome {
  kCompleted,   // the lines are in the destination (or there were none); the start moved on
  kFailed,      // nothing was deleted or written: the records stay for another pass
  kAborted,     // stopped on request, as kFailed
  kRunMustEnd,  // a file could not be written, or a commit or a stored start is not sure:
                // what is owed stays beside the destination for the next run
};

struct PassResult {
  PassOutcome outcome = PassOutcome::kFailed;
  std::int64_t records = 0;  // records read
  std::int64_t lines = 0;    // lines appended to the destination
  bool deleted = false;      // the records read were deleted (committed)
  bool passes_done = false;  // the windowed modes want no further pass
};

// By Date: the stretch of the profile's dates that the passes select, in CDR seconds; each
// completed pass moves the start on.
struct DateRange {
  double start = 0;
  double end = 0;  // exclusive
};

// New Records Only: the memory of what was written, where it is kept, and how far back the
// look-back for late arrivals reaches (0: none).
struct LateArrivals {
  LateArrivalMemory memory;
  std::filesystem::path path;
  double look_back_seconds = 0;
};

// What a pass works with; the run owns it for its length.
struct PassContext {
  const RunServices& services;  // the environment, observer, clock, hooks, abort and log
  // A line that tells of a failure: the run keeps the last one for its summary.
  std::function<void(std::string_view)> log_error;
  ProfileSettings& settings;  // the start (sql_new_rec_date) moves on
  DbConnection& database;
  const DestinationFiles& files;
  // Seconds the collector's clock is ahead of the database server's (0 when it is not, or the
  // server cannot tell): windows never reach past the server's own time.
  double clock_ahead = 0;
  DateRange& range;
  LateArrivals* late = nullptr;  // nullptr: the pass keeps no memory of what it wrote
};

PassResult TransferPass(PassContext& context);

}  // namespace remoteccm
