#include "retrieval/spool/pass_spool.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <sstream>

#include "util/key_value_lines.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

constexpr std::size_t kCopyBlock = 1 << 20;
constexpr std::string_view kNoteHeader = "remoteccm spool 3";
// The notes of earlier versions named the profile by its path, which anyone who may write the
// destination's folder could point elsewhere: they are recognised, never believed.
constexpr std::string_view kOldNoteHeaders[] = {"remoteccm spool 1", "remoteccm spool 2"};
constexpr std::size_t kSha256HexDigits = 64;

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  });
}

// A profile's file name without its extension: no folder, nothing that leaves the folder.
bool IsProfileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(kFolderSeparators) == std::string_view::npos &&
         !HasControlCharacter(name);
}

bool IsSha256(std::string_view text) {
  return text.size() == kSha256HexDigits && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// A start point as the program stores it: a whole number of seconds.
bool IsWholeNumber(std::string_view text) {
  std::int64_t value = 0;
  return ParseNumber(text, value);
}

bool ParseYesNo(std::string_view text, bool& value) {
  value = text == "yes";
  return value || text == "no";
}

// What a note must hold besides its names: the spool's size and its fingerprint.
struct NoteSeen {
  bool sizes = false;
  bool digest = false;
};

// One line of a note's body into `note`; false for a value this version never writes, or a key.
bool ReadNoteLine(std::string_view key, std::string_view value, ReadyNote& note, NoteSeen& seen) {
  if (key == "profile") {
    note.profile_name = UnescapeLineValue(value);
    return IsProfileName(note.profile_name);
  }
  if (key == "profile-file") {
    note.profile_file = std::string(value);
    return !HasControlCharacter(value);
  }
  if (key == "table") {
    note.table = UnescapeLineValue(value);
    return !note.table.empty() && !HasControlCharacter(note.table);
  }
  if (key == "destination") {
    note.destination = UnescapeLineValue(value);
    // An absolute path on the system's own terms (C:\... on Windows).
    return std::filesystem::path(note.destination).is_absolute() &&
           !HasControlCharacter(note.destination);
  }
  if (key == "deleted") return ParseYesNo(value, note.deleted);
  if (key == "keys") return ParseYesNo(value, note.has_keys);
  if (key == "destination-size") {
    return ParseNumber(value, note.destination_size) && note.destination_size >= -1;
  }
  if (key == "spool-bytes") return seen.sizes = ParseNumber(value, note.spool_bytes);
  if (key == "spool-lines") return ParseNumber(value, note.spool_lines);
  if (key == "spool-sha256") {
    note.spool_sha256 = std::string(value);
    return seen.digest = IsSha256(value);
  }
  if (key == "keys-sha256") {
    note.keys_sha256 = std::string(value);
    return IsSha256(value);
  }
  if (key == "start") {
    note.start = std::string(value);
    return IsWholeNumber(value);
  }
  if (key == "late-look-back") {
    note.late_memory = true;
    return ParseNumber(value, note.late_look_back) && note.late_look_back >= 0;
  }
  return false;  // a key this version never writes
}

}  // namespace

std::string NoteText(const ReadyNote& note) {
  std::ostringstream out;
  out << kNoteHeader << '\n'
      << "profile " << EscapeLineValue(note.profile_name) << '\n'
      << "profile-file " << note.profile_file << '\n'
      << "table " << EscapeLineValue(note.table) << '\n'
      << "destination " << EscapeLineValue(note.destination) << '\n'
      << "deleted " << (note.deleted ? "yes" : "no") << '\n'
      << "keys " << (note.has_keys ? "yes" : "no") << '\n'
      << "destination-size " << note.destination_size << '\n'
      << "spool-bytes " << note.spool_bytes << '\n'
      << "spool-lines " << note.spool_lines << '\n'
      << "spool-sha256 " << note.spool_sha256 << '\n';
  if (note.has_keys) out << "keys-sha256 " << note.keys_sha256 << '\n';
  if (note.start) out << "start " << *note.start << '\n';
  if (note.late_memory) out << "late-look-back " << note.late_look_back << '\n';
  out << "end\n";
  return out.str();
}

NoteReading ParseReadyNote(std::string_view text) {
  NoteReading reading;
  reading.state = NoteReading::State::kDamaged;
  std::string_view body;
  const std::string_view header = HeaderLine(text, body);
  if (std::find(std::begin(kOldNoteHeaders), std::end(kOldNoteHeaders), header) !=
      std::end(kOldNoteHeaders)) {
    reading.state = NoteReading::State::kOldVersion;
    return reading;
  }
  if (header != kNoteHeader) return reading;
  ReadyNote& note = reading.note;
  NoteSeen seen;
  const bool whole =
      ReadKeyValueLines(body, false, [&](std::string_view key, std::string_view value) {
        return ReadNoteLine(key, value, note, seen);
      });
  const bool complete = seen.sizes && seen.digest && !note.profile_name.empty() &&
                        !note.table.empty() && !note.destination.empty() &&
                        (!note.has_keys || !note.keys_sha256.empty());
  if (whole && complete) reading.state = NoteReading::State::kRead;
  return reading;
}

NoteReading ReadReadyNote(const std::filesystem::path& path) {
  const std::optional<std::string> text = ReadWholeFile(path);
  if (!text) {
    NoteReading reading;
    if (FileSize(path) >= 0) reading.state = NoteReading::State::kDamaged;  // there, unreadable
    return reading;
  }
  return ParseReadyNote(*text);
}

std::filesystem::path OwedNotePath(const std::filesystem::path& profile_path) {
  std::filesystem::path path = profile_path;
  path.replace_extension(".owed");
  return path;
}

std::string FileIdentity(const std::filesystem::path& path) { return FileIdentityOf(path); }

bool SpoolKeysParser::Feed(std::string_view block) {
  if (damaged_) return false;
  pending_.append(block);
  std::size_t at = 0;
  for (std::size_t end = pending_.find('\n'); end != std::string::npos;
       at = end + 1, end = pending_.find('\n', at)) {
    std::string_view line = std::string_view(pending_).substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t blank = line.find(' ');
    const std::size_t second = blank == std::string_view::npos ? blank : line.find(' ', blank + 1);
    SpoolKey key;
    if (second == std::string_view::npos || !ParseNumber(line.substr(0, blank), key.bytes) ||
        !ParseNumber(line.substr(blank + 1, second - blank - 1), key.date)) {
      damaged_ = true;
      return false;
    }
    const std::string_view value = line.substr(second + 1);
    if (value.empty() || value.size() > kMaxSpoolKeyLength || HasControlCharacter(value)) {
      damaged_ = true;
      return false;
    }
    key.key = std::string(value);
    keys_.push_back(std::move(key));
  }
  pending_.erase(0, at);
  // A line longer than any the program writes is not waited for to its end.
  if (pending_.size() > 3 * kMaxSpoolKeyLength) damaged_ = true;
  return !damaged_;
}

std::optional<std::vector<SpoolKey>> SpoolKeysParser::Finish() {
  if (damaged_ || !pending_.empty()) return std::nullopt;  // damaged or cut off
  return std::move(keys_);
}

std::optional<std::vector<SpoolKey>> ReadSpoolKeys(const std::filesystem::path& path) {
  // Read a block at a time: the keys of a pass that read a whole table are many.
  SpoolKeysParser parser;
  if (!ReadInBlocks(path, [&](std::string_view block) { return parser.Feed(block); })) {
    return std::nullopt;
  }
  return parser.Finish();
}

void PassSpool::Open(bool with_keys) {
  // New files, whatever had their names: a link left there would send the lines elsewhere.
  // Nothing beside the destination is owed when a pass starts (the run resolved it first).
  RemoveFile(files_.spool);
  RemoveFile(files_.keys);
  spool_.Open(files_.spool, true, true);
  keys_usable_ = with_keys;
  if (with_keys) keys_.Open(files_.keys, true, true);
  line_count_ = 0;
  bytes_ = 0;
  spool_digest_.Reset();
  keys_digest_.Reset();
}

void PassSpool::AddLine(std::string_view line, std::string_view key, double date) {
  spool_.WriteLine(line);
  spool_digest_.Update(line);
  spool_digest_.Update("\r\n");
  const std::uint64_t bytes = line.size() + 2;
  bytes_ += bytes;
  ++line_count_;
  if (!keys_usable_) return;
  if (key.empty() || key.size() > kMaxSpoolKeyLength || HasControlCharacter(key)) {
    keys_usable_ = false;
    keys_.Close();
    RemoveFile(files_.keys);
    return;
  }
  std::string entry = std::to_string(bytes);
  entry.append(" ").append(std::to_string(static_cast<std::int64_t>(date))).append(" ").append(key);
  keys_.WriteLine(entry);  // CR LF ended, as every file of the program
  keys_digest_.Update(entry);
  keys_digest_.Update("\r\n");
}

void PassSpool::MakeDurable() {
  spool_.Sync();
  spool_.Close();
  if (keys_usable_) {
    keys_.Sync();
    keys_.Close();
  }
  SyncFolderOf(files_.spool);
}

void PassSpool::MarkReady(ReadyNote note, const std::function<void()>& between) {
  note.destination = files_.destination.string();
  note.destination_size = FileSize(files_.destination);
  note.spool_bytes = bytes_;
  note.spool_lines = line_count_;
  note.spool_sha256 = spool_digest_.HexDigest();
  note.has_keys = keys_usable_;
  note.keys_sha256 = keys_usable_ ? keys_digest_.HexDigest() : std::string();
  const std::string text = NoteText(note);
  // Beside the profile first: that copy is the one believed, so a note beside the destination
  // never stands without it.
  ReplaceFileContent(owed_note_, text, 0600);
  if (between) between();
  ReplaceFileContent(files_.note, text, 0600);
}

void PassSpool::AppendToDestination(const std::function<void()>& midway) {
  AppendSpool(files_.spool, files_.destination, -1, midway);
}

void PassSpool::Finish(const std::function<void()>& unmarked) {
  // The note beside the destination goes before its copy: a note there without the copy is
  // then never one a pass left behind, and the next run asks the table about its lines.
  RemoveFile(files_.note);
  if (!RemoveOwedNote(owed_note_)) {
    ThrowFileError("Cannot remove", owed_note_, errno);
  }
  if (unmarked) unmarked();
  RemoveSpoolFiles(files_);
}

void PassSpool::Discard() {
  try {
    spool_.Close();
    keys_.Close();
  } catch (const FileError&) {
    // The spool is dropped anyway.
  }
  RemoveSpoolFiles(files_);
}

void AppendSpool(const std::filesystem::path& spool, const std::filesystem::path& destination,
                 std::int64_t cut_to, const std::function<void()>& midway) {
  FileDescriptor in = OpenRegularFile(spool, O_RDONLY);
  FileDescriptor out = OpenRegularFile(destination, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (cut_to >= 0 && FileSize(destination) > cut_to && !TruncateFile(out.Get(), cut_to)) {
    ThrowFileError("Cannot cut back", destination, errno);
  }
  const std::int64_t before = FileSize(destination);
  std::string block(kCopyBlock, '\0');
  bool first = true;
  try {
    for (;;) {
      const std::int64_t n = ReadSome(in.Get(), block.data(), block.size());
      if (n < 0) ThrowFileError("Cannot read", spool, errno);
      if (n == 0) break;
      std::string_view data(block.data(), static_cast<std::size_t>(n));
      if (first && midway) {
        WriteAll(out.Get(), data.substr(0, data.size() / 2), destination);
        midway();
        data.remove_prefix(data.size() / 2);
      }
      first = false;
      WriteAll(out.Get(), data, destination);
    }
    SyncFile(out.Get(), destination);
    out.Close(destination);
  } catch (...) {
    if (out.IsOpen() && before >= 0 && TruncateFile(out.Get(), before)) TrySyncFile(out.Get());
    throw;
  }
  SyncFolderOf(destination);
}

void RemoveSpoolFiles(const DestinationFiles& files) {
  // The note goes first: without it, what is left is an unmarked spool, never owed lines.
  RemoveFile(files.note);
  RemoveFile(files.keys);
  RemoveFile(files.spool);
  SyncFolderOf(files.spool);
}

bool RemoveOwedNote(const std::filesystem::path& owed_note) {
  if (const int error = RemoveFile(owed_note); error != 0 && error != ENOENT) return false;
  SyncFolderOf(owed_note);
  return true;
}

}  // namespace remoteccm
