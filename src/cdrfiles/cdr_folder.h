// The CDR file folder: which files in it are complete (the Repository may be writing one while
// a run looks), and where a file goes once it is done with: collected/ (kept some days, then
// removed) or away at once, rejected/ when it is damaged.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace remoteccm {

inline constexpr std::string_view kCollectedFolder = "collected";
inline constexpr std::string_view kRejectedFolder = "rejected";
// Held while a run imports from the folder; hidden, so never taken for a CDR file.
inline constexpr std::string_view kFolderLockName = ".remoteccm-import.lock";

struct CdrFolderFile {
  std::filesystem::path path;
  std::string name;
  std::int64_t size = 0;
  double modified = 0;      // seconds since 1970
  bool management = false;  // a cmr_ file (call management records)
};

// The files of the folder that look complete at `now`: named cdr_... or cmr_..., not hidden
// (. or _ first), regular files, unchanged for settle_seconds; oldest first. nullopt with why
// when the folder cannot be read.
std::optional<std::vector<CdrFolderFile>> CompleteCdrFiles(const std::filesystem::path& folder,
                                                           double now, int settle_seconds,
                                                           std::string& why);

// Done with an imported file: moved to collected/ when keep_days > 0, else removed. Empty, or
// why it could not be done.
std::string DisposeImported(const CdrFolderFile& file, int keep_days);

// Moves a damaged file to rejected/ (a name taken there gets a number added). Empty, or why not.
std::string MoveToRejected(const CdrFolderFile& file);

// Removes the files of collected/ older than keep_days at `now`.
void PruneCollected(const std::filesystem::path& folder, double now, int keep_days);

}  // namespace remoteccm
