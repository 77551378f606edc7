// The lines of one pass on their way to the destination file. They are written to a spool file
// beside the destination (with the key of each line's record beside it, when the records have
// one) and made durable before anything is deleted on the server; a ready note written next
// (beside the profile, then beside the destination) marks them as owed to the destination and
// says what the pass did; they are appended to the destination only after the deletion was
// committed. A run killed at any moment leaves an unmarked spool (nothing was deleted) or a
// marked one, which the next run resolves first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "retrieval/spool/buffered_file.h"
#include "retrieval/spool/destination.h"
#include "util/sha256.h"

namespace remoteccm {

// What the ready note says of the lines it marks as owed. The note is kept twice: beside the
// destination, where every run writing there sees it, and beside the profile that owes the lines
// (NAME.owed), where only the administrator writes. The copy beside the profile is the one
// believed: the folder of the destination is often writable by the call-accounting side too.
struct ReadyNote {
  std::string profile_name;  // the profile file NAME.CCM beside the copy NAME.owed
  std::string profile_file;  // that file's identity ("device:inode") when the note was written
  std::string table;         // the CDR table the pass read
  std::string destination;   // the destination the lines are owed to (resolved)
  bool deleted = false;      // the pass deleted their records before committing
  bool has_keys = false;     // the keys file names the record of each line
  std::int64_t destination_size = -1;  // the destination's size before the append (-1: none)
  std::uint64_t spool_bytes = 0;
  std::uint64_t spool_lines = 0;
  std::string spool_sha256;          // of the spool's bytes
  std::string keys_sha256;           // of the keys file's bytes (with keys)
  std::optional<std::string> start;  // the SQLNewRecDate the profile stores once they are in
  // The profile's memory of late arrivals learns the lines' keys once they are in, and how far
  // back it looks (seconds).
  bool late_memory = false;
  std::int64_t late_look_back = 0;
};

struct NoteReading {
  enum class State {
    kNone,        // there is no note
    kRead,        // a note of this version, whole and well formed
    kOldVersion,  // a note of an earlier version (which named the profile by its path)
    kDamaged,     // there, but unreadable, cut short or not well formed
  } state = State::kNone;
  ReadyNote note;
};

// The text of a note, as written to both places.
std::string NoteText(const ReadyNote& note);
// Reads a note's text; every value is checked (names without folders or control characters,
// numbers that are numbers, fingerprints of 64 hex digits).
NoteReading ParseReadyNote(std::string_view text);
NoteReading ReadReadyNote(const std::filesystem::path& path);

// NAME.owed beside NAME.CCM: the copy of the note of the lines that profile owes.
std::filesystem::path OwedNotePath(const std::filesystem::path& profile_path);

// "device:inode" of the file at path (links followed), empty when there is none.
std::string FileIdentity(const std::filesystem::path& path);

// One line of the keys file: the bytes of its spool line (CR LF included), its record's date
// (the column the windows compare) and its key.
struct SpoolKey {
  std::uint64_t bytes = 0;
  std::int64_t date = 0;
  std::string key;
};

// The longest key a keys file may hold (a pkid is 36 characters).
inline constexpr std::size_t kMaxSpoolKeyLength = 255;

// Reads a keys file handed over a block at a time. A line that is not "bytes date key", a key
// that is empty, longer than kMaxSpoolKeyLength or holds a control character, or a last line
// without its end makes the whole file damaged.
class SpoolKeysParser {
 public:
  // False once the file is known to be damaged.
  bool Feed(std::string_view block);
  // The keys, or nullopt when the file is damaged or cut off.
  std::optional<std::vector<SpoolKey>> Finish();

 private:
  std::string pending_;  // the start of a line whose end has not come yet
  std::vector<SpoolKey> keys_;
  bool damaged_ = false;
};

// Reads the keys file; nullopt when it is missing or damaged.
std::optional<std::vector<SpoolKey>> ReadSpoolKeys(const std::filesystem::path& path);

class PassSpool {
 public:
  // `owed_note`: the copy of the ready note beside the profile (OwedNotePath).
  PassSpool(const DestinationFiles& files, std::filesystem::path owed_note)
      : files_(files), owed_note_(std::move(owed_note)) {}
  PassSpool(const PassSpool&) = delete;
  PassSpool& operator=(const PassSpool&) = delete;

  // Starts an empty spool; with_keys also an empty keys file. Throws FileError.
  void Open(bool with_keys);
  // Adds a line (CR LF is appended) and, with keys, the key of its record. A key that is
  // empty or holds a line break cannot name its record: the spool then has no usable keys.
  void AddLine(std::string_view line, std::string_view key, double date = 0);
  // Flushes and syncs the spool (and keys) to disk. Throws FileError.
  void MakeDurable();
  // Writes the ready note (atomically, synced), first beside the profile, then beside the
  // destination: from the first on the lines are owed to the destination. Fills in the sizes,
  // the fingerprints and the key flag. `between` runs between the two (a fault point for
  // tests). Throws FileError.
  void MarkReady(ReadyNote note, const std::function<void()>& between = nullptr);
  // Appends the spool to the destination and syncs it; on failure the destination is cut back
  // to its size before and FileError is thrown, spool and note kept for the next run.
  // `midway` runs after part of the lines are written (a fault point for tests).
  void AppendToDestination(const std::function<void()>& midway);
  // Once the pass is complete: the note beside the destination and then its copy beside the
  // profile go (the lines are no longer owed), then the spool and its keys. `unmarked` runs
  // once both notes are gone.
  void Finish(const std::function<void()>& unmarked = nullptr);
  // Drops an unmarked spool (the pass failed before anything was deleted).
  void Discard();

  std::uint64_t line_count() const { return line_count_; }
  bool keys_usable() const { return keys_usable_; }

 private:
  const DestinationFiles& files_;
  const std::filesystem::path owed_note_;
  BufferedAppendFile spool_;
  BufferedAppendFile keys_;
  std::uint64_t line_count_ = 0;
  std::uint64_t bytes_ = 0;
  Sha256 spool_digest_;
  Sha256 keys_digest_;
  bool keys_usable_ = false;
};

// Appends the file `spool` to `destination`, creating it when missing, after cutting the
// destination back to `cut_to` bytes when that is not negative; syncs it. On failure the
// destination is cut back to its size before the append and FileError is thrown.
void AppendSpool(const std::filesystem::path& spool, const std::filesystem::path& destination,
                 std::int64_t cut_to, const std::function<void()>& midway = nullptr);

// Removes the spool, keys and note of the destination (whatever of them exists).
void RemoveSpoolFiles(const DestinationFiles& files);

// Removes the copy of a note beside its profile, durably; false when it could not be removed.
bool RemoveOwedNote(const std::filesystem::path& owed_note);

}  // namespace remoteccm
