// The lines of one pass on their way to the destination file. They are written to a spool file
// beside the destination (with the key of each line's record beside it, when the records have
// one) and made durable before anything is deleted on the server; a ready note written next
// marks them as owed to the destination and says what the pass did; they are appended to the
// destination only after the deletion was committed. A run killed at any moment leaves an
// unmarked spool (nothing was deleted) or a marked one, which the next run resolves first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "retrieval/buffered_file.h"
#include "retrieval/destination.h"

namespace remoteccm {

// What the ready note says of the lines it marks as owed.
struct ReadyNote {
  std::string profile_path;            // the profile whose pass wrote them
  std::string table;                   // the CDR table the pass read
  bool deleted = false;                // the pass deleted their records before committing
  bool has_keys = false;               // the keys file names the record of each line
  std::int64_t destination_size = -1;  // the destination's size before the append (-1: none)
  std::uint64_t spool_bytes = 0;
  std::uint64_t spool_lines = 0;
  std::optional<std::uint32_t> spool_crc;  // CRC-32 of the spool's bytes
  std::optional<std::string> start;        // the SQLNewRecDate the profile stores once they are in
  // The late-arrival memory of the profile, brought up to date with the lines' keys once they
  // are in (empty: none).
  std::string late_memory;
  std::int64_t late_look_back = 0;  // seconds
  bool late_remember = false;       // the keys go into the memory (deletion off)
};

struct NoteReading {
  enum class State { kNone, kRead, kDamaged } state = State::kNone;
  ReadyNote note;
};

NoteReading ReadReadyNote(const std::filesystem::path& path);

// One line of the keys file: the bytes of its spool line (CR LF included), its record's date
// (the column the windows compare) and its key.
struct SpoolKey {
  std::uint64_t bytes = 0;
  std::int64_t date = 0;
  std::string key;
};

// Reads the keys file; nullopt when it is missing or damaged.
std::optional<std::vector<SpoolKey>> ReadSpoolKeys(const std::filesystem::path& path);

class PassSpool {
 public:
  explicit PassSpool(const DestinationFiles& files) : files_(files) {}
  PassSpool(const PassSpool&) = delete;
  PassSpool& operator=(const PassSpool&) = delete;

  // Starts an empty spool; with_keys also an empty keys file. Throws FileError.
  void Open(bool with_keys);
  // Adds a line (CR LF is appended) and, with keys, the key of its record. A key that is
  // empty or holds a line break cannot name its record: the spool then has no usable keys.
  void AddLine(std::string_view line, std::string_view key, double date = 0);
  // Flushes and syncs the spool (and keys) to disk. Throws FileError.
  void MakeDurable();
  // Writes the ready note (atomically, synced): from now on the lines are owed to the
  // destination. Fills in the sizes and the key flag. Throws FileError.
  void MarkReady(ReadyNote note);
  // Appends the spool to the destination and syncs it; on failure the destination is cut back
  // to its size before and FileError is thrown, spool and note kept for the next run.
  // `midway` runs after part of the lines are written (a fault point for tests).
  void AppendToDestination(const std::function<void()>& midway);
  // Removes the spool, its keys and its note once the pass is complete.
  void Finish();
  // Drops an unmarked spool (the pass failed before anything was deleted).
  void Discard();

  std::uint64_t line_count() const { return line_count_; }
  bool keys_usable() const { return keys_usable_; }

 private:
  const DestinationFiles& files_;
  BufferedAppendFile spool_;
  BufferedAppendFile keys_;
  ReadyNote note_;
  std::uint64_t line_count_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint32_t crc_ = 0;
  bool keys_usable_ = false;
};

// Appends the file `spool` to `destination`, creating it when missing, after cutting the
// destination back to `cut_to` bytes when that is not negative; syncs it. On failure the
// destination is cut back to its size before the append and FileError is thrown.
void AppendSpool(const std::filesystem::path& spool, const std::filesystem::path& destination,
                 std::int64_t cut_to, const std::function<void()>& midway = nullptr);

// Removes the spool, keys and note of the destination (whatever of them exists).
void RemoveSpoolFiles(const DestinationFiles& files);

}  // namespace remoteccm
