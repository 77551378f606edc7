#include "retrieval/pass_spool.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <charconv>
#include <sstream>

#include "util/key_value_lines.h"

namespace remoteccm {
namespace {

constexpr std::size_t kCopyBlock = 1 << 20;
constexpr std::string_view kNoteHeader = "remoteccm spool 2";
// The note of the first version: no table, no deletion flag, no keys.
constexpr std::string_view kOldNoteHeader = "remoteccm spool 1";

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

std::string NoteText(const ReadyNote& note) {
  std::ostringstream out;
  out << kNoteHeader << '\n'
      << "profile " << EscapeLineValue(note.profile_path) << '\n'
      << "table " << EscapeLineValue(note.table) << '\n'
      << "deleted " << (note.deleted ? "yes" : "no") << '\n'
      << "keys " << (note.has_keys ? "yes" : "no") << '\n'
      << "destination-size " << note.destination_size << '\n'
      << "spool-bytes " << note.spool_bytes << '\n'
      << "spool-lines " << note.spool_lines << '\n';
  if (note.spool_crc) out << "spool-crc32 " << *note.spool_crc << '\n';
  if (note.start) out << "start " << *note.start << '\n';
  if (!note.late_memory.empty()) {
    out << "late-memory " << EscapeLineValue(note.late_memory) << '\n'
        << "late-look-back " << note.late_look_back << '\n'
        << "late-remember " << (note.late_remember ? "yes" : "no") << '\n';
  }
  out << "end\n";
  return out.str();
}

}  // namespace

NoteReading ReadReadyNote(const std::filesystem::path& path) {
  NoteReading reading;
  const std::optional<std::string> text = ReadWholeFile(path);
  if (!text) {
    if (FileSize(path) >= 0) reading.state = NoteReading::State::kDamaged;  // there, unreadable
    return reading;
  }
  reading.state = NoteReading::State::kDamaged;
  std::string_view body;
  const std::string_view header = HeaderLine(*text, body);
  const bool old = header == kOldNoteHeader;
  if (!old && header != kNoteHeader) return reading;
  ReadyNote& note = reading.note;
  // The first version deleted whenever it wrote a note, kept no keys and wrote no "end".
  note.deleted = old;
  bool sizes = false;
  const bool whole =
      ReadKeyValueLines(body, old, [&](std::string_view key, std::string_view value) {
        if (key == "profile") {
          note.profile_path = UnescapeLineValue(value);
        } else if (key == "table") {
          note.table = UnescapeLineValue(value);
        } else if (key == "deleted") {
          note.deleted = value == "yes";
        } else if (key == "keys") {
          note.has_keys = value == "yes";
        } else if (key == "destination-size") {
          return ParseNumber(value, note.destination_size);
        } else if (key == "spool-bytes") {
          sizes = ParseNumber(value, note.spool_bytes);
          return sizes;
        } else if (key == "spool-lines") {
          return ParseNumber(value, note.spool_lines);
        } else if (key == "spool-crc32") {
          std::uint32_t crc = 0;
          note.spool_crc = crc;
          return ParseNumber(value, *note.spool_crc);
        } else if (key == "start") {
          note.start = std::string(value);
        } else if (key == "late-memory") {
          note.late_memory = UnescapeLineValue(value);
        } else if (key == "late-look-back") {
          return ParseNumber(value, note.late_look_back);
        } else if (key == "late-remember") {
          note.late_remember = value == "yes";
        }
        return true;
      });
  if (whole && sizes) reading.state = NoteReading::State::kRead;
  return reading;
}

std::optional<std::vector<SpoolKey>> ReadSpoolKeys(const std::filesystem::path& path) {
  // Read a block at a time: the keys of a pass that read a whole table are many.
  std::vector<SpoolKey> keys;
  std::string text;  // the lines read and not yet taken
  const bool read = ReadInBlocks(path, [&](std::string_view block) {
    text.append(block);
    std::size_t at = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         at = end + 1, end = text.find('\n', at)) {
      const std::string_view line = std::string_view(text).substr(at, end - at);
      const std::size_t blank = line.find(' ');
      const std::size_t second =
          blank == std::string_view::npos ? blank : line.find(' ', blank + 1);
      SpoolKey key;
      if (second == std::string_view::npos || !ParseNumber(line.substr(0, blank), key.bytes) ||
          !ParseNumber(line.substr(blank + 1, second - blank - 1), key.date)) {
        return false;
      }
      std::string_view value = line.substr(second + 1);
      if (!value.empty() && value.back() == '\r') value.remove_suffix(1);
      key.key = std::string(value);
      keys.push_back(std::move(key));
    }
    text.erase(0, at);
    return true;
  });
  if (!read || !text.empty()) return std::nullopt;  // unreadable, damaged or cut off
  return keys;
}

void PassSpool::Open(bool with_keys) {
  // New files, whatever had their names: a link left there would send the lines elsewhere.
  // Nothing beside the destination is owed when a pass starts (the run resolved it first).
  ::unlink(files_.spool.c_str());
  ::unlink(files_.keys.c_str());
  spool_.Open(files_.spool, true, true);
  keys_usable_ = with_keys;
  if (with_keys) keys_.Open(files_.keys, true, true);
  line_count_ = 0;
  bytes_ = 0;
  crc_ = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
}

void PassSpool::AddLine(std::string_view line, std::string_view key, double date) {
  spool_.WriteLine(line);
  crc_ = static_cast<std::uint32_t>(
      crc32_z(crc_, reinterpret_cast<const Bytef*>(line.data()), line.size()));
  crc_ = static_cast<std::uint32_t>(crc32_z(crc_, reinterpret_cast<const Bytef*>("\r\n"), 2));
  const std::uint64_t bytes = line.size() + 2;
  bytes_ += bytes;
  ++line_count_;
  if (!keys_usable_) return;
  if (key.empty() || key.find_first_of("\r\n") != std::string_view::npos) {
    keys_usable_ = false;
    keys_.Close();
    ::unlink(files_.keys.c_str());
    return;
  }
  std::string entry = std::to_string(bytes);
  entry.append(" ").append(std::to_string(static_cast<std::int64_t>(date))).append(" ").append(key);
  keys_.WriteLine(entry);  // CR LF ended, as every file of the program
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

void PassSpool::MarkReady(ReadyNote note) {
  note.destination_size = FileSize(files_.destination);
  note.spool_bytes = bytes_;
  note.spool_lines = line_count_;
  note.spool_crc = crc_;
  note.has_keys = keys_usable_;
  note_ = note;
  ReplaceFileContent(files_.note, NoteText(note), 0600);
}

void PassSpool::AppendToDestination(const std::function<void()>& midway) {
  AppendSpool(files_.spool, files_.destination, -1, midway);
}

void PassSpool::Finish() { RemoveSpoolFiles(files_); }

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
  if (cut_to >= 0 && FileSize(destination) > cut_to && ::ftruncate(out.Get(), cut_to) != 0) {
    ThrowFileError("Cannot cut back", destination, errno);
  }
  const std::int64_t before = FileSize(destination);
  std::string block(kCopyBlock, '\0');
  bool first = true;
  try {
    for (;;) {
      const ssize_t n = ::read(in.Get(), block.data(), block.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowFileError("Cannot read", spool, errno);
      }
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
    if (out.IsOpen() && before >= 0 && ::ftruncate(out.Get(), before) == 0) ::fsync(out.Get());
    throw;
  }
  SyncFolderOf(destination);
}

void RemoveSpoolFiles(const DestinationFiles& files) {
  // The note goes first: without it, what is left is an unmarked spool, never owed lines.
  ::unlink(files.note.c_str());
  ::unlink(files.keys.c_str());
  ::unlink(files.spool.c_str());
  SyncFolderOf(files.spool);
}

}  // namespace remoteccm
