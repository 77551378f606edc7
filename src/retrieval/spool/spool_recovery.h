// Resolves the spool a killed or failed run left beside the destination, before a new run
// writes anything there: an unmarked spool is discarded (nothing was deleted); owed lines are
// appended exactly once: not when the database still holds their records (the deletion was
// never committed), not twice when an earlier append got through, never fused with a line
// cut in half. Whatever cannot be resolved safely is kept and reported, never guessed.
//
// What is owed is believed only from the copy of the ready note beside the profile that owes
// it (NAME.owed): the note beside the destination only says which profile to look at. When
// that profile has lost its copy, the note is a claim that the spool and the table must bear
// out: its lines go in only when their records are gone from the table, and its start is never
// stored. Nothing in a file beside the destination reaches a statement, names a path to write,
// or chooses the connection the database is asked over: those come from the owing profile's
// own file.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "retrieval/spool/destination.h"
#include "retrieval/spool/pass_spool.h"

namespace remoteccm {

// What recovery needs to know of the profile that owes lines.
struct OwingProfile {
  std::string table;        // its SQLTableName as it loads
  std::string destination;  // its destination, resolved (empty when it cannot be)
};

// The profile file at path as it loads; nullopt when there is none.
using OwingProfileReader =
    std::function<std::optional<OwingProfile>(const std::filesystem::path& profile_path)>;

// Which of `keys` are still in the table of the profile at profile_path, asked over that
// profile's own connection (one flag per key). Throws when it cannot be asked now.
using KeyLookup = std::function<std::vector<bool>(const std::filesystem::path& profile_path,
                                                  const std::vector<std::string>& keys)>;

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

struct RecoveryRequest {
  const DestinationFiles& files;
  // This run's profile: its folder holds the notes' copies of the profiles that may owe lines.
  std::filesystem::path profile_path;
  OwingProfileReader read_profile;
  KeyLookup lookup;
};

// Resolves what is left beside the destination. Stores the owed start only in the profile that
// owes the lines, and only when its file still exists.
SpoolRecovery RecoverSpool(const RecoveryRequest& request);

// The destination this profile owes lines to by the copy of the note beside it, when that is
// another destination than `files` (its destination was changed while lines were owed).
std::optional<std::string> OwedElsewhere(const std::filesystem::path& profile_path,
                                         const DestinationFiles& files);

}  // namespace remoteccm
