// Resolves the spool a killed or failed run left beside the destination, before a new run
// writes anything there: an unmarked spool is discarded (nothing was deleted); owed lines are
// appended exactly once: not when the database still holds their records (the deletion was
// never committed), not twice when an earlier append got through, never fused with a line
// cut in half. Whatever cannot be resolved safely is kept and reported, never guessed.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "retrieval/destination.h"
#include "retrieval/pass_spool.h"

namespace remoteccm {

// Which of `keys` are still in the table the note names (one flag per key). nullopt: the
// note's profile is gone and its database cannot be asked. Throws when it cannot be asked now.
using KeyLookup = std::function<std::optional<std::vector<bool>>(
    const ReadyNote& note, const std::vector<std::string>& keys)>;

struct SpoolRecovery {
  enum class Kind {
    kNone,          // nothing was left
    kDiscarded,     // an unmarked spool, or a deletion that was never committed
    kAppended,      // owed lines appended (all, or those whose records are gone)
    kAlreadyThere,  // the lines were appended before; only the start was stored
    kFailed,        // nothing could be resolved safely: everything kept, the run must stop
  } kind = Kind::kNone;
  std::vector<std::string> log_lines;       // what happened, to log in order
  std::string profile_path;                 // the profile that owed the lines
  std::optional<std::string> stored_start;  // the start stored in that profile
  std::uint64_t lines_appended = 0;
};

// Resolves what is left beside the destination. `destination_discarded`: the destination was
// just discarded on purpose (Overwrite), so owed lines go into the new file whole. Stores the
// owed start only in the profile that wrote the note, and only when its file still exists.
SpoolRecovery RecoverSpool(const DestinationFiles& files, bool destination_discarded,
                           const KeyLookup& lookup);

}  // namespace remoteccm
