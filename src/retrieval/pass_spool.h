// The lines of one pass on their way to the destination file. They are written to a spool file
// beside the destination and made durable before anything is deleted on the server; a "ready"
// note written next marks them as owed to the destination; they are appended to the
// destination only after the deletion succeeded. A run killed at any moment leaves either an
// unmarked spool (nothing was deleted: discard it, the records are still on the server) or a
// marked one (append it and store its start point), which the next run resolves first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "retrieval/buffered_file.h"

namespace remoteccm {

// The profile value a pass stores once its lines are in the destination.
struct PendingStart {
  std::string profile_path;
  std::string value;  // the new SQLNewRecDate, as written to the profile
};

class PassSpool {
 public:
  explicit PassSpool(std::filesystem::path destination);
  PassSpool(const PassSpool&) = delete;
  PassSpool& operator=(const PassSpool&) = delete;

  static std::filesystem::path SpoolPath(const std::filesystem::path& destination);
  static std::filesystem::path ReadyPath(const std::filesystem::path& destination);

  // Starts an empty spool. Throws FileError.
  void Open();
  // Adds a line (CR LF is appended); written in large blocks. Throws FileError.
  void AddLine(std::string_view line);
  // Flushes and syncs the spool to disk. Throws FileError.
  void MakeDurable();
  // Writes the ready note (atomically, synced): from now on the lines are owed to the
  // destination. Throws FileError.
  void MarkReady(const std::optional<PendingStart>& start);
  // Appends the spool to the destination and syncs it; on failure the destination is cut back
  // to its size before and FileError is thrown, the spool and note kept for the next run.
  void AppendToDestination();
  // Removes the spool and its note once the pass is complete.
  void Finish();
  // Drops an unmarked spool (the pass failed before anything was deleted).
  void Discard();

  std::uint64_t line_count() const { return line_count_; }

 private:
  std::filesystem::path destination_;
  BufferedAppendFile file_;
  std::uint64_t line_count_ = 0;
  std::uint64_t bytes_ = 0;
};

// What the start of a run found of an earlier run's spool.
struct SpoolRecovery {
  enum class Kind { kNone, kDiscarded, kAppended, kAlreadyAppended } kind = Kind::kNone;
  std::uint64_t line_count = 0;
  std::optional<PendingStart> start;  // stored by the recovery
};

// Resolves a spool left beside `destination` by a killed or failed run: an unmarked one is
// discarded; a marked one is appended (unless it verifiably already was) and its start point
// stored. `force_append` skips the size check (the destination was discarded meanwhile).
// Throws FileError when the destination cannot be written; the spool is then kept.
SpoolRecovery RecoverSpool(const std::filesystem::path& destination, bool force_append);

}  // namespace remoteccm
