// Where a run's output goes: the destination file named by the profile, resolved once to the
// file it really is (links followed, relative paths made absolute) so that every path that
// names the same file shares one lock and one spool; the files that live beside it; the lock
// that lets one run at a time write there; and the check that the file can be appended to.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "util/posix_file.h"

namespace remoteccm {

struct DestinationFiles {
  std::filesystem::path destination;  // resolved
  std::filesystem::path spool;        // DEST.spool: the lines of the pass in progress
  std::filesystem::path keys;         // DEST.spool-keys: the key of each spooled line
  std::filesystem::path note;         // DEST.spool-ready: the lines are owed to the destination
  std::filesystem::path lock;         // DEST.lock: held by the run writing here
  std::filesystem::path backup;       // the destination with its extension replaced by ".BAK"
};

// The files of the destination named `configured` (a profile's DestinationFile). nullopt and
// `error` set when it cannot be a destination: empty, holding a NUL byte, a link to nothing,
// in a folder that does not exist, or named like the files beside a destination.
std::optional<DestinationFiles> ResolveDestination(std::string_view configured, std::string& error);

// Takes the run lock of the destination (by its name, and by the file's identity when it
// exists) without waiting: nullopt when another run holds it.
// Throws FileError when the lock file cannot be created.
std::optional<LockFile> TakeDestinationLock(const DestinationFiles& files);

// Whether the destination can be appended to: it exists (or is created now, empty) as a
// regular file and opens for writing. Empty when it can, else why not.
std::string CheckAppendable(const std::filesystem::path& destination);

}  // namespace remoteccm
