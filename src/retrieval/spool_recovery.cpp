#include "retrieval/spool_recovery.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "profile/profile_file.h"
#include "retrieval/late_arrivals.h"
#include "util/ini_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// Keys asked first; when they agree, the rest are taken to agree with them.
constexpr std::size_t kSampleKeys = 32;

std::string Count(std::uint64_t n, std::string_view thing) {
  return std::to_string(n) + " " + std::string(thing) + (n == 1 ? "" : "s");
}

// Spools can be gigabytes (a whole table in one pass): they are read a block at a time.
constexpr std::size_t kBlock = 1 << 16;

// What a spool holds: its CR LF ended lines and the CRC-32 of its bytes.
struct SpoolContent {
  std::uint64_t lines = 0;
  std::uint32_t crc = 0;
};

// Both in one reading (a spool can be gigabytes); nullopt when it cannot be read.
std::optional<SpoolContent> ReadSpoolContent(const std::filesystem::path& path) {
  SpoolContent content;
  uLong crc = crc32(0, nullptr, 0);
  bool after_cr = false;  // the block before ended in CR
  const bool read = ReadInBlocks(path, [&](std::string_view text) {
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(text.data()), text.size());
    if (after_cr && text.front() == '\n') ++content.lines;
    for (std::size_t at = text.find("\r\n"); at != std::string_view::npos;
         at = text.find("\r\n", at + 2)) {
      ++content.lines;
    }
    after_cr = text.back() == '\r';
    return true;
  });
  if (!read) return std::nullopt;
  content.crc = static_cast<std::uint32_t>(crc);
  return content;
}

// How many leading bytes of `spool` equal the destination's bytes from `offset` on, comparing
// at most `limit` bytes.
std::int64_t MatchingPrefix(const std::filesystem::path& destination, std::int64_t offset,
                            const std::filesystem::path& spool, std::int64_t limit) {
  FileDescriptor dest;
  FileDescriptor source;
  try {
    dest = OpenRegularFile(destination, O_RDONLY);
    source = OpenRegularFile(spool, O_RDONLY);
  } catch (const FileError&) {
    return 0;
  }
  const int dest_fd = dest.Get();
  const int spool_fd = source.Get();
  std::string a(1 << 16, '\0');
  std::string b(1 << 16, '\0');
  std::int64_t matched = 0;
  while (matched < limit) {
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(a.size()), limit - matched));
    const ssize_t got_a = ::pread(dest_fd, a.data(), want, offset + matched);
    const ssize_t got_b = ::pread(spool_fd, b.data(), want, matched);
    if (got_a <= 0 || got_b <= 0) break;
    const std::size_t n = static_cast<std::size_t>(std::min(got_a, got_b));
    const auto diff =
        std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin());
    const auto same = static_cast<std::int64_t>(diff.first - a.begin());
    matched += same;
    if (static_cast<std::size_t>(same) < n) break;
  }
  return matched;
}

// Writes the lines of the spool whose records are gone into a file beside it; returns its path.
std::filesystem::path KeepGoneLines(const DestinationFiles& files,
                                    const std::vector<SpoolKey>& keys,
                                    const std::vector<bool>& present) {
  const FileDescriptor in = OpenRegularFile(files.spool, O_RDONLY);
  std::filesystem::path path = files.spool.string() + "-gone";
  ::unlink(path.c_str());  // a new file, never a link left in its place
  const FileDescriptor out = OpenRegularFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::string block(kBlock, '\0');
  std::uint64_t at = 0;
  for (std::size_t i = 0; i < keys.size(); at += keys[i].bytes, ++i) {
    if (present[i]) continue;
    for (std::uint64_t done = 0; done < keys[i].bytes;) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), keys[i].bytes - done));
      const ssize_t got = ::pread(in.Get(), block.data(), want, static_cast<off_t>(at + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) ThrowFileError("Cannot read", files.spool, errno);
      if (got == 0) ThrowFileError("Cannot read", files.spool, EIO);  // shorter than its keys
      WriteAll(out.Get(), std::string_view(block.data(), static_cast<std::size_t>(got)), path);
      done += static_cast<std::uint64_t>(got);
    }
  }
  return path;
}

class Recovery {
 public:
  Recovery(const DestinationFiles& files, bool discarded, const KeyLookup& lookup)
      : files_(files), discarded_(discarded), lookup_(lookup) {}

  SpoolRecovery Run() {
    const NoteReading reading = ReadReadyNote(files_.note);
    const bool spool_there = FileSize(files_.spool) >= 0;
    if (reading.state == NoteReading::State::kNone) {
      if (!spool_there && FileSize(files_.keys) < 0) return result_;
      RemoveSpoolFiles(files_);
      result_.kind = SpoolRecovery::Kind::kDiscarded;
      Log("Discarded the unfinished lines of an earlier run (nothing was deleted).");
      return result_;
    }
    if (reading.state == NoteReading::State::kDamaged) {
      return Fail("The note " + files_.note.string() +
                  " of an earlier run cannot be read. Nothing was appended to " +
                  files_.destination.string() + "; the spool " + files_.spool.string() +
                  " and the note are kept.");
    }
    note_ = reading.note;
    result_.profile_path = note_.profile_path;
    owner_ = "profile " + ProfileNameOf(note_.profile_path);
    if (!CheckSpool()) return result_;

    std::filesystem::path to_append = files_.spool;
    std::uint64_t lines = note_.spool_lines;
    std::filesystem::path gone_file;
    if (note_.deleted) {
      std::optional<std::vector<bool>> present;
      std::vector<SpoolKey> keys;
      if (note_.has_keys) {
        std::optional<std::vector<SpoolKey>> read = ReadSpoolKeys(files_.keys);
        if (!read || !KeysMatchSpool(*read)) {
          return Fail("The keys " + files_.keys.string() + " of the lines owed to " +
                      files_.destination.string() + " by an earlier run of " + owner_ +
                      " are damaged. Nothing was appended; the spool " + files_.spool.string() +
                      ", its keys and its note " + files_.note.string() + " are kept.");
        }
        keys = std::move(*read);
        try {
          present = AskPresence(keys);
        } catch (const std::exception& e) {
          return Fail("Cannot tell whether the deletion of an earlier run of " + owner_ +
                      " was committed: " + e.what() + " Nothing was appended; the spool " +
                      files_.spool.string() + " and its note " + files_.note.string() +
                      " are kept.");
        }
      }
      if (!present) {
        Log("The records of the lines owed by an earlier run of " + owner_ +
            " cannot be looked up by key (pkid): they are appended, a duplicate is possible.");
      } else {
        const auto still =
            static_cast<std::uint64_t>(std::count(present->begin(), present->end(), true));
        if (still == present->size()) {
          RemoveSpoolFiles(files_);
          result_.kind = SpoolRecovery::Kind::kDiscarded;
          Log("An earlier run of " + owner_ + " stopped before its deletion was committed: its " +
              Count(still, "record") + " are still in the table, so its lines were discarded.");
          return result_;
        }
        if (still > 0) {
          try {
            gone_file = KeepGoneLines(files_, keys, *present);
          } catch (const FileError& e) {
            return Fail(std::string(e.what()) + ". The lines owed by an earlier run of " + owner_ +
                        " are kept in " + files_.spool.string() + " for the next run.");
          }
          to_append = gone_file;
          lines = present->size() - still;
          Log(Count(still, "record") + " of the lines owed by an earlier run of " + owner_ +
              " are still in the table: only the lines of the other " + std::to_string(lines) +
              " are appended.");
        }
      }
    }
    if (!Append(to_append, lines)) return result_;
    if (!gone_file.empty()) ::unlink(gone_file.c_str());
    if (!UpdateLateArrivals()) return result_;
    if (!StoreStart()) return result_;
    RemoveSpoolFiles(files_);
    return result_;
  }

 private:
  void Log(std::string line) { result_.log_lines.push_back(std::move(line)); }

  SpoolRecovery& Fail(std::string line) {
    Log(std::move(line));
    result_.kind = SpoolRecovery::Kind::kFailed;
    return result_;
  }

  // The spool must be what the note says it is, byte for byte in size and line for line.
  bool CheckSpool() {
    const std::int64_t size = FileSize(files_.spool);
    const std::string owed = " owed to " + files_.destination.string() + " by an earlier run of " +
                             owner_ + " (" + Count(note_.spool_lines, "line") + ", " +
                             Count(note_.spool_bytes, "byte") + ")";
    if (size < 0) {
      Fail("The lines" + owed + " are lost: the spool " + files_.spool.string() +
           " is missing. Nothing was appended; the note " + files_.note.string() + " is kept.");
      return false;
    }
    const std::optional<SpoolContent> content = ReadSpoolContent(files_.spool);
    const std::optional<std::uint64_t> lines =
        content ? std::optional(content->lines) : std::nullopt;
    const bool same_bytes = !note_.spool_crc || (content && content->crc == *note_.spool_crc);
    // A value holding CR LF makes one line of the spool look like two; where the note has the
    // spool's checksum, that proves the bytes, and the count only has to be readable.
    const bool same_lines = lines && (note_.spool_crc || *lines == note_.spool_lines);
    if (static_cast<std::uint64_t>(size) != note_.spool_bytes || !same_lines || !same_bytes) {
      Fail("The lines" + owed + " cannot be appended: the spool " + files_.spool.string() +
           " holds " + Count(static_cast<std::uint64_t>(size), "byte") +
           (lines ? " in " + Count(*lines, "line") : std::string(" that cannot be read")) +
           (same_bytes ? "" : ", not the bytes it was written with") +
           ". Nothing was appended; the spool and its note " + files_.note.string() + " are kept.");
      return false;
    }
    return true;
  }

  bool KeysMatchSpool(const std::vector<SpoolKey>& keys) const {
    std::uint64_t bytes = 0;
    for (const SpoolKey& key : keys) {
      if (key.key.empty()) return false;
      bytes += key.bytes;
    }
    return keys.size() == note_.spool_lines && bytes == note_.spool_bytes;
  }

  // Whether each record is still in the table: a sample first, every key when it disagrees.
  std::optional<std::vector<bool>> AskPresence(const std::vector<SpoolKey>& keys) {
    if (keys.empty()) return std::vector<bool>();
    std::vector<std::size_t> sample;
    const std::size_t n = keys.size();
    const std::size_t step = std::max<std::size_t>(1, n / kSampleKeys);
    for (std::size_t i = 0; i < n; i += step) sample.push_back(i);
    if (sample.back() != n - 1) sample.push_back(n - 1);
    std::vector<std::string> asked;
    asked.reserve(sample.size());
    for (const std::size_t i : sample) asked.push_back(keys[i].key);
    const std::optional<std::vector<bool>> found = lookup_(note_, asked);
    if (!found) return std::nullopt;
    const auto still = std::count(found->begin(), found->end(), true);
    if (still == 0) return std::vector<bool>(n, false);
    if (static_cast<std::size_t>(still) == found->size()) return std::vector<bool>(n, true);
    std::vector<std::string> all;
    all.reserve(n);
    for (const SpoolKey& key : keys) all.push_back(key.key);
    return lookup_(note_, all);
  }

  // Appends `spool` once: cut back a torn earlier append, skip a complete one.
  bool Append(const std::filesystem::path& spool, std::uint64_t lines) {
    const std::string dest = files_.destination.string();
    const std::int64_t size = FileSize(spool);
    const std::int64_t current = std::max<std::int64_t>(FileSize(files_.destination), 0);
    const std::int64_t before = std::max<std::int64_t>(note_.destination_size, 0);
    // Overwrite: the old content goes, the owed lines start the new file.
    std::int64_t cut_to = discarded_ ? 0 : -1;
    if (!discarded_ && current >= before) {
      const std::int64_t written = current - before;
      const std::int64_t compared = std::min(written, size);
      if (MatchingPrefix(files_.destination, before, spool, compared) < compared) {
        Fail(dest + " was changed after the lines of an earlier run of " + owner_ +
             " were owed to it: they are not appended. The spool " + files_.spool.string() +
             " and its note " + files_.note.string() + " are kept.");
        return false;
      }
      if (written >= size) {
        result_.kind = SpoolRecovery::Kind::kAlreadyThere;
        Log("The " + Count(lines, "line") + " left by an earlier run of " + owner_ +
            " were already in " + dest + ".");
        return true;
      }
      if (written > 0) {
        cut_to = before;
        Log(dest + " was cut back to " + Count(static_cast<std::uint64_t>(before), "byte") +
            ": an earlier append of these lines was interrupted.");
      }
    } else if (!discarded_) {
      Log(dest +
          " is shorter than when the lines of an earlier run were owed to it (it was "
          "emptied or replaced meanwhile): they are appended, a duplicate is possible.");
    }
    try {
      AppendSpool(spool, files_.destination, cut_to);
    } catch (const FileError& e) {
      Fail(std::string(e.what()) + ". The lines owed by an earlier run of " + owner_ +
           " are kept in " + files_.spool.string() + " for the next run.");
      return false;
    }
    result_.kind = SpoolRecovery::Kind::kAppended;
    result_.lines_appended = lines;
    Log("Appended " + Count(lines, "line") + " left by an earlier run of " + owner_ + " to " +
        dest + ".");
    return true;
  }

  // The lines are in: the profile's memory of late arrivals learns their keys, as the pass
  // would have done. A memory that cannot be read is left alone: its profile's next run then
  // looks back nothing, which can miss a late record but never write one twice.
  bool UpdateLateArrivals() {
    if (note_.late_memory.empty() || !note_.start) return true;
    LateArrivalReading reading =
        ReadLateArrivals(note_.late_memory, note_.profile_path, note_.table);
    if (reading.state != LateArrivalReading::State::kRead) return true;
    std::vector<WrittenRecord> written;
    // Without the keys of the lines the memory forgets everything rather than miss them.
    bool remember = note_.late_remember && note_.has_keys;
    if (remember) {
      const std::optional<std::vector<SpoolKey>> keys = ReadSpoolKeys(files_.keys);
      remember = keys.has_value();
      for (const SpoolKey& key : keys.value_or(std::vector<SpoolKey>())) {
        written.push_back(WrittenRecord{key.key, static_cast<double>(key.date)});
      }
    }
    AfterLinesAreIn(reading.memory, written, ParseDecimal(*note_.start),
                    static_cast<double>(note_.late_look_back), remember);
    try {
      WriteLateArrivals(note_.late_memory, reading.memory);
    } catch (const FileError& e) {
      Fail(std::string(e.what()) + ": the memory of late arrivals of " + owner_ +
           " could not be written. The spool " + files_.spool.string() + " and its note " +
           files_.note.string() + " are kept; the next run writes it.");
      return false;
    }
    return true;
  }

  // The owed start goes to the profile that wrote the note, never to another one.
  bool StoreStart() {
    if (!note_.start) return true;
    if (!ProfileFileExists(note_.profile_path)) {
      Log("The start point of " + owner_ + " was not stored: its file " + note_.profile_path +
          " no longer exists.");
      return true;
    }
    try {
      WriteProfileValue(note_.profile_path, "Options", "SQLNewRecDate", *note_.start);
    } catch (const IniWriteError& e) {
      Fail(std::string(e.what()) + ": the start point " + *note_.start + " of " + owner_ +
           " could not be stored. The spool " + files_.spool.string() + " and its note " +
           files_.note.string() + " are kept; the next run stores it.");
      return false;
    }
    result_.stored_start = note_.start;
    Log("Stored the start point " + *note_.start + " in " + owner_ + ".");
    return true;
  }

  const DestinationFiles& files_;
  bool discarded_;
  const KeyLookup& lookup_;
  ReadyNote note_;
  std::string owner_;
  SpoolRecovery result_;
};

}  // namespace

SpoolRecovery RecoverSpool(const DestinationFiles& files, bool destination_discarded,
                           const KeyLookup& lookup) {
  return Recovery(files, destination_discarded, lookup).Run();
}

}  // namespace remoteccm
