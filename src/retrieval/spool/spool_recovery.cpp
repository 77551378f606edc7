// One piece: each way a spool can be left is judged against the same notes and the same
// reading of the destination's end; apart, the cases would read them each their own way.

#include "retrieval/spool/spool_recovery.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "profile/profile_file.h"
#include "retrieval/run/late_arrivals.h"
#include "util/ini_file.h"
#include "util/posix_file.h"
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

// What a spool holds: its CR LF ended lines and the fingerprint of its bytes.
struct SpoolContent {
  std::uint64_t lines = 0;
  std::string sha256;
};

// Both in one reading (a spool can be gigabytes); nullopt when it cannot be read.
std::optional<SpoolContent> ReadSpoolContent(const std::filesystem::path& path) {
  SpoolContent content;
  Sha256 digest;
  bool after_cr = false;  // the block before ended in CR
  const bool read = ReadInBlocks(path, [&](std::string_view text) {
    digest.Update(text);
    if (after_cr && text.front() == '\n') ++content.lines;
    for (std::size_t at = text.find("\r\n"); at != std::string_view::npos;
         at = text.find("\r\n", at + 2)) {
      ++content.lines;
    }
    after_cr = text.back() == '\r';
    return true;
  });
  if (!read) return std::nullopt;
  content.sha256 = digest.HexDigest();
  return content;
}

// The keys file and the fingerprint of its bytes, in one reading; nullopt when it is missing or
// damaged.
std::optional<std::vector<SpoolKey>> ReadKeysWithDigest(const std::filesystem::path& path,
                                                        std::string& sha256) {
  SpoolKeysParser parser;
  Sha256 digest;
  if (!ReadInBlocks(path, [&](std::string_view block) {
        digest.Update(block);
        return parser.Feed(block);
      })) {
    return std::nullopt;
  }
  sha256 = digest.HexDigest();
  return parser.Finish();
}

// The copy of a note beside a profile of the folder.
struct OwedNote {
  std::filesystem::path path;  // NAME.owed
  std::string text;
  ReadyNote note;
};

bool NamesDestination(const ReadyNote& note, const DestinationFiles& files) {
  if (note.destination == files.destination.string()) return true;
  // Another name of the same file (a hard link).
  const std::string identity = FileIdentity(files.destination);
  return !identity.empty() && identity == FileIdentity(note.destination);
}

// The copies of notes in `folder` that name the destination of `files`; the names of copies
// that cannot be read go to `damaged`.
std::vector<OwedNote> OwedNotesFor(const std::filesystem::path& folder,
                                   const DestinationFiles& files,
                                   std::vector<std::string>& damaged) {
  std::vector<OwedNote> found;
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 5 && name.ends_with(".owed") && name.front() != '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    OwedNote owed;
    owed.path = folder / name;
    std::optional<std::string> text = ReadWholeFile(owed.path);
    NoteReading reading;
    if (text) reading = ParseReadyNote(*text);
    if (reading.state != NoteReading::State::kRead || reading.note.profile_name + ".owed" != name) {
      damaged.push_back(owed.path.string());
      continue;
    }
    if (!NamesDestination(reading.note, files)) continue;
    owed.text = std::move(*text);
    owed.note = std::move(reading.note);
    found.push_back(std::move(owed));
  }
  return found;
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
    const std::int64_t got_a = ReadAt(dest_fd, a.data(), want, offset + matched);
    const std::int64_t got_b = ReadAt(spool_fd, b.data(), want, matched);
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
  RemoveFile(path);  // a new file, never a link left in its place
  const FileDescriptor out = OpenRegularFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::string block(kBlock, '\0');
  std::uint64_t at = 0;
  for (std::size_t i = 0; i < keys.size(); at += keys[i].bytes, ++i) {
    if (present[i]) continue;
    for (std::uint64_t done = 0; done < keys[i].bytes;) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), keys[i].bytes - done));
      const std::int64_t got =
          ReadAt(in.Get(), block.data(), want, static_cast<std::int64_t>(at + done));
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
  explicit Recovery(const RecoveryRequest& request)
      : files_(request.files), request_(request), folder_(FolderOf(request.profile_path)) {}

  SpoolRecovery Run() {
    std::optional<OwedNote> owed;
    if (!FindOwedNote(owed)) return result_;
    if (!owed) return Unowned();
    TakeOwner(std::move(*owed));
    if (!ProfileFileExists(owner_path_) && !Renamed()) return result_;
    if (!CheckOwner()) return result_;
    CompareNoteBesideDestination();
    if (!CheckSpool()) return result_;
    return Deliver();
  }

 private:
  // The lines still owed once the deletion's records are looked up, and where they are.
  struct Owed {
    std::filesystem::path spool;
    std::uint64_t lines = 0;
    std::filesystem::path gone_file;  // the lines of the records gone, when only some are
  };

  // The one copy of a note beside a profile of the folder that names this destination (none
  // when no profile owes lines here); false when the copies cannot be trusted.
  bool FindOwedNote(std::optional<OwedNote>& found) {
    std::vector<std::string> damaged;
    std::vector<OwedNote> owed = OwedNotesFor(folder_, files_, damaged);
    const std::filesystem::path own_copy = OwedNotePath(request_.profile_path);
    for (const std::string& path : damaged) {
      if (path == own_copy.string()) {
        Fail("The note " + path + " of the lines this profile owes cannot be read. " +
             "Nothing was appended or discarded; it is kept, and so is what lies beside " +
             files_.destination.string() + ".");
        return false;
      }
      Log("The note " + path + " cannot be read; it is left alone.");
    }
    if (owed.size() > 1) {
      std::string names;
      for (const OwedNote& one : owed) names += (names.empty() ? "" : ", ") + one.path.string();
      Fail("Several profiles owe lines to " + files_.destination.string() + " (" + names +
           "): nothing was appended or discarded.");
      return false;
    }
    if (!owed.empty()) found = std::move(owed.front());
    return true;
  }

  // The profile the note names owes the lines.
  void TakeOwner(OwedNote owed) {
    owed_ = std::move(owed);
    note_ = owed_.note;
    owner_path_ = folder_ / (note_.profile_name + std::string(kProfileExtension));
    owner_ = "profile " + note_.profile_name;
    result_.profile_path = owner_path_.string();
  }

  // Appends what is owed once, then brings the owing profile up to date and forgets the spool.
  SpoolRecovery Deliver() {
    Owed owed{files_.spool, note_.spool_lines, {}};
    if (note_.deleted && !LeaveOutRecordsStillThere(owed)) return result_;
    if (!Append(owed.spool, owed.lines)) return result_;
    if (!owed.gone_file.empty()) RemoveFile(owed.gone_file);
    if (!UpdateLateArrivals()) return result_;
    if (!StoreStart()) return result_;
    if (!Unmark()) return result_;
    RemoveSpoolFiles(files_);
    return result_;
  }

  // The lines of records still in the table are not owed: their deletion was never committed.
  // False when the recovery ends here (every record is still there, or it cannot be told).
  bool LeaveOutRecordsStillThere(Owed& owed) {
    std::vector<SpoolKey> keys;
    std::optional<std::vector<bool>> present;
    if (note_.has_keys && !LookUpRecords(keys, present)) return false;
    if (!present) {
      Log("The records of the lines owed by an earlier run of " + owner_ +
          " cannot be looked up by key (pkid): they are appended, a duplicate is possible.");
      return true;
    }
    const auto still =
        static_cast<std::uint64_t>(std::count(present->begin(), present->end(), true));
    if (still == present->size()) {
      if (Unmark()) {
        RemoveSpoolFiles(files_);
        result_.kind = SpoolRecovery::Kind::kDiscarded;
        Log("An earlier run of " + owner_ + " stopped before its deletion was committed: its " +
            Count(still, "record") + " are still in the table, so its lines were discarded.");
      }
      return false;
    }
    if (still == 0) return true;
    try {
      owed.gone_file = KeepGoneLines(files_, keys, *present);
    } catch (const FileError& e) {
      Fail(std::string(e.what()) + ". The lines owed by an earlier run of " + owner_ +
           " are kept in " + files_.spool.string() + " for the next run.");
      return false;
    }
    owed.spool = owed.gone_file;
    owed.lines = present->size() - still;
    Log(Count(still, "record") + " of the lines owed by an earlier run of " + owner_ +
        " are still in the table: only the lines of the other " + std::to_string(owed.lines) +
        " are appended.");
    return true;
  }

  // The spool's keys, and whether each record is still in the table (nullopt when the owing
  // profile is gone and cannot be asked); false when the keys are damaged or cannot be asked
  // about.
  bool LookUpRecords(std::vector<SpoolKey>& keys, std::optional<std::vector<bool>>& present) {
    std::string sha256;
    std::optional<std::vector<SpoolKey>> read = ReadKeysWithDigest(files_.keys, sha256);
    if (!read || sha256 != note_.keys_sha256 || !KeysMatchSpool(*read)) {
      Fail("The keys " + files_.keys.string() + " of the lines owed to " +
           files_.destination.string() + " by an earlier run of " + owner_ +
           " are damaged or not the ones written. Nothing was appended; the spool " +
           files_.spool.string() + ", its keys and its note " + owed_.path.string() + " are kept.");
      return false;
    }
    keys = std::move(*read);
    if (!ProfileFileExists(owner_path_)) return true;
    try {
      present = AskPresence(keys);
    } catch (const std::exception& e) {
      Fail("Cannot tell whether the deletion of an earlier run of " + owner_ +
           " was committed: " + e.what() + " Nothing was appended; the spool " +
           files_.spool.string() + " and its note " + owed_.path.string() + " are kept.");
      return false;
    }
    return true;
  }

  void Log(std::string line) { result_.log_lines.push_back(std::move(line)); }

  SpoolRecovery& Fail(std::string line) {
    Log(std::move(line));
    result_.kind = SpoolRecovery::Kind::kFailed;
    return result_;
  }

  // No profile of the folder owes lines here: what lies beside the destination was never
  // marked (nothing was deleted), or was delivered before its files were removed. A note that
  // names a profile this folder does not hold is another program home's, or planted: kept.
  SpoolRecovery Unowned() {
    const NoteReading reading = ReadReadyNote(files_.note);
    const std::string kept = " Nothing was appended or discarded; the spool " +
                             files_.spool.string() + " and the note are kept.";
    switch (reading.state) {
      case NoteReading::State::kNone:
        break;
      case NoteReading::State::kDamaged:
        return Fail("The note " + files_.note.string() + " of an earlier run cannot be read." +
                    kept);
      case NoteReading::State::kOldVersion:
        return Fail("The note " + files_.note.string() +
                    " was written by an earlier version of this program, whose notes named "
                    "their profile by a path and cannot be checked." +
                    kept + " Deliver the lines by hand if they are owed, then remove the note.");
      case NoteReading::State::kRead: {
        const ReadyNote& note = reading.note;
        const std::filesystem::path named =
            folder_ / (note.profile_name + std::string(kProfileExtension));
        if (!ProfileFileExists(named)) {
          return Fail("The lines owed to " + files_.destination.string() +
                      " were written by profile " + note.profile_name + " for table " + note.table +
                      ", which is not in " + folder_.string() + "; this run's profile is " +
                      ProfileNameOf(request_.profile_path.string()) + "." + kept +
                      " If no profile of this program owes them (the note was not written "
                      "here), remove the note: the next run discards them.");
        }
        return WithoutCopy(reading.note);
      }
    }
    if (reading.state == NoteReading::State::kNone && FileSize(files_.spool) < 0 &&
        FileSize(files_.keys) < 0) {
      return result_;
    }
    RemoveSpoolFiles(files_);
    result_.kind = SpoolRecovery::Kind::kDiscarded;
    Log("Discarded the unfinished lines of an earlier run (nothing was deleted).");
    return result_;
  }

  // A pass finishes by removing the note beside the destination before the copy beside its
  // profile: a note that names a profile of this folder which keeps no copy of it lost that copy
  // to someone else (a clean-up of old files, a restore from a backup) while the lines may still
  // be owed. The note is then only a claim: the spool must be the one it describes, and the
  // table tells whether the records were deleted. Nothing it says is stored in the profile.
  SpoolRecovery WithoutCopy(const ReadyNote& note) {
    TakeOwner(OwedNote{files_.note, ReadWholeFile(files_.note).value_or(""), note});
    Log("The note " + OwedNotePath(owner_path_).string() + " of the lines owed to " +
        files_.destination.string() + " by an earlier run of " + owner_ +
        " is missing; the note beside them is checked against the spool and the table.");
    if (!CheckOwner() || !CheckSpool()) return result_;
    if (!note_.deleted) return NothingDeleted();
    if (!note_.has_keys) {
      return Fail(
          "The records of these lines cannot be looked up by key (pkid) to tell whether "
          "their deletion was committed. Nothing was appended or discarded; the spool " +
          files_.spool.string() + " and its note " + files_.note.string() +
          " are kept. If their records are gone from the table, append the spool to " +
          files_.destination.string() + " by hand; then remove both files.");
    }
    Owed owed{files_.spool, note_.spool_lines, {}};
    if (!LeaveOutRecordsStillThere(owed) || !Append(owed.spool, owed.lines)) return result_;
    if (!owed.gone_file.empty()) RemoveFile(owed.gone_file);
    if (!Unmark()) return result_;
    RemoveSpoolFiles(files_);
    if (note_.start) {
      Log("The start point of " + owner_ +
          " was not moved on: the next pass reads from its stored start again, where the "
          "deleted records are no longer found.");
    }
    return result_;
  }

  // Without a deletion the records are still in the table, and the next pass reads them again
  // from the start its profile has stored. The lines are in when that start is the one the pass
  // stored after it appended them; otherwise what an append of them left in the destination is
  // cut back, so that they are written once. A mode without a start reads everything again
  // anyway: its lines are delivered as the pass would have delivered them.
  SpoolRecovery NothingDeleted() {
    if (!note_.start) {
      if (!Append(files_.spool, note_.spool_lines) || !Unmark()) return result_;
      RemoveSpoolFiles(files_);
      return result_;
    }
    const bool start_stored =
        ReadProfileValue(owner_path_.string(), kProfileSection, kStartKey) == *note_.start;
    if (!start_stored && !CutBackAppend()) return result_;
    if (!Unmark()) return result_;
    RemoveSpoolFiles(files_);
    result_.kind = SpoolRecovery::Kind::kDiscarded;
    Log("Nothing was deleted for these " + Count(note_.spool_lines, "line") +
        (start_stored ? ": the start point after them is stored, so they are in " +
                            files_.destination.string() + " already; the spool was discarded."
                      : ": they were discarded, and the next pass reads their records again."));
    return result_;
  }

  // Takes out of the destination what an append of the spool left there, when the start that
  // would pass over those lines was never stored; false when the destination holds more than
  // that append (it was changed since), and nothing is taken.
  bool CutBackAppend() {
    const std::int64_t before = std::max<std::int64_t>(note_.destination_size, 0);
    const std::int64_t written = FileSize(files_.destination) - before;
    if (written <= 0) return true;
    if (written > static_cast<std::int64_t>(note_.spool_bytes) ||
        MatchingPrefix(files_.destination, before, files_.spool, written) < written) {
      Fail(files_.destination.string() + " was changed after the lines of an earlier run of " +
           owner_ + " were owed to it: nothing was cut back or discarded. The spool " +
           files_.spool.string() + " and its note " + owed_.path.string() + " are kept.");
      return false;
    }
    try {
      const FileDescriptor out = OpenRegularFile(files_.destination, O_WRONLY);
      if (!TruncateFile(out.Get(), before)) {
        ThrowFileError("Cannot cut back", files_.destination, errno);
      }
      SyncFile(out.Get(), files_.destination);
    } catch (const FileError& e) {
      Fail(std::string(e.what()) + ". The lines owed by an earlier run of " + owner_ +
           " are kept in " + files_.spool.string() + " for the next run.");
      return false;
    }
    Log(files_.destination.string() + " was cut back to " +
        Count(static_cast<std::uint64_t>(before), "byte") + ": an append of these lines was " +
        "interrupted before its start point was stored.");
    return true;
  }

  // The owing profile's file is gone. When it is this run's profile under a new name (the same
  // file, renamed), the lines and the memory of late arrivals become this profile's.
  bool Renamed() {
    const std::string identity = FileIdentity(request_.profile_path);
    if (identity.empty() || identity != note_.profile_file) {
      // Removed: the lines are still delivered (their records may be gone from the table), but
      // nothing can be asked of its database and no start is stored.
      Log("The profile " + note_.profile_name + " that owes lines to " +
          files_.destination.string() + " is no longer in " + folder_.string() + ".");
      return true;
    }
    const std::string name = request_.profile_path.stem().string();
    const std::filesystem::path copy = OwedNotePath(request_.profile_path);
    note_.profile_name = name;
    const std::string text = NoteText(note_);
    try {
      ReplaceFileContent(copy, text, 0600);
      if (FileSize(files_.note) >= 0) ReplaceFileContent(files_.note, text, 0600);
    } catch (const FileError& e) {
      Fail(std::string(e.what()) + ": the lines owed by profile " + owed_.note.profile_name +
           ", now named " + name + ", are kept for the next run.");
      return false;
    }
    RemoveOwedNote(owed_.path);
    MoveLateArrivals(owner_path_, request_.profile_path, note_.table);
    Log("The profile " + owed_.note.profile_name + " was renamed to " + name +
        ": the lines it owes to " + files_.destination.string() + " are now " + name + "'s.");
    owed_.path = copy;
    owed_.text = text;
    owner_path_ = request_.profile_path;
    owner_ = "profile " + name;
    result_.profile_path = owner_path_.string();
    return true;
  }

  // The owing profile still reads the table the lines came from.
  bool CheckOwner() {
    if (!ProfileFileExists(owner_path_)) return true;
    const std::optional<OwingProfile> owner = request_.read_profile(owner_path_);
    if (!owner) {
      Fail("The profile " + owner_path_.string() + " that owes lines to " +
           files_.destination.string() + " cannot be read. Nothing was appended or discarded.");
      return false;
    }
    if (Trim(owner->table) != Trim(note_.table)) {
      Fail("The lines owed to " + files_.destination.string() + " were written by profile " +
           note_.profile_name + " for table " + note_.table + "; that profile now reads table " +
           owner->table +
           ", so its records cannot be looked up. Nothing was appended or "
           "discarded; the spool " +
           files_.spool.string() + " and its note " + owed_.path.string() +
           " are kept. Run profile " + note_.profile_name + " with its table set back to " +
           note_.table + " once.");
      return false;
    }
    if (owner->destination != files_.destination.string() &&
        owner->destination != note_.destination) {
      Log("The lines owed to " + files_.destination.string() + " by profile " + note_.profile_name +
          " go there, although its destination is now " + owner->destination + ".");
    }
    return true;
  }

  // The note beside the destination is only a pointer to the profile; it should say what the
  // copy beside that profile says.
  void CompareNoteBesideDestination() {
    const std::optional<std::string> text = ReadWholeFile(files_.note);
    if (text && *text == owed_.text) return;
    Log("The note " + files_.note.string() + (text ? " is not" : " is missing, not") +
        " the one profile " + note_.profile_name + " keeps (" + owed_.path.string() +
        "), which is the one used.");
  }

  // The spool must be what the note says it is, byte for byte.
  bool CheckSpool() {
    const std::int64_t size = FileSize(files_.spool);
    const std::string owed = " owed to " + files_.destination.string() + " by an earlier run of " +
                             owner_ + " (" + Count(note_.spool_lines, "line") + ", " +
                             Count(note_.spool_bytes, "byte") + ")";
    if (size < 0) {
      Fail("The lines" + owed + " are lost: the spool " + files_.spool.string() +
           " is missing. Nothing was appended; the note " + owed_.path.string() + " is kept.");
      return false;
    }
    const std::optional<SpoolContent> content = ReadSpoolContent(files_.spool);
    const bool same_bytes = content && content->sha256 == note_.spool_sha256;
    if (static_cast<std::uint64_t>(size) != note_.spool_bytes || !same_bytes) {
      Fail("The lines" + owed + " cannot be appended: the spool " + files_.spool.string() +
           " holds " + Count(static_cast<std::uint64_t>(size), "byte") +
           (content ? " in " + Count(content->lines, "line") + ", not the bytes it was written with"
                    : std::string(" that cannot be read")) +
           ". Nothing was appended; the spool and its note " + owed_.path.string() + " are kept.");
      return false;
    }
    return true;
  }

  bool KeysMatchSpool(const std::vector<SpoolKey>& keys) const {
    std::uint64_t bytes = 0;
    for (const SpoolKey& key : keys) bytes += key.bytes;
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
    const std::vector<bool> found = request_.lookup(owner_path_, asked);
    const auto still = std::count(found.begin(), found.end(), true);
    if (still == 0) return std::vector<bool>(n, false);
    if (static_cast<std::size_t>(still) == found.size()) return std::vector<bool>(n, true);
    std::vector<std::string> all;
    all.reserve(n);
    for (const SpoolKey& key : keys) all.push_back(key.key);
    return request_.lookup(owner_path_, all);
  }

  // Appends `spool` once: cut back a torn earlier append, skip a complete one.
  bool Append(const std::filesystem::path& spool, std::uint64_t lines) {
    const std::string dest = files_.destination.string();
    const std::int64_t size = FileSize(spool);
    const std::int64_t current = std::max<std::int64_t>(FileSize(files_.destination), 0);
    const std::int64_t before = std::max<std::int64_t>(note_.destination_size, 0);
    std::int64_t cut_to = -1;
    if (current >= before) {
      const std::int64_t written = current - before;
      const std::int64_t compared = std::min(written, size);
      if (MatchingPrefix(files_.destination, before, spool, compared) < compared) {
        Fail(dest + " was changed after the lines of an earlier run of " + owner_ +
             " were owed to it: they are not appended. The spool " + files_.spool.string() +
             " and its note " + owed_.path.string() + " are kept.");
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
    } else {
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
    if (!note_.late_memory || !note_.start || !ProfileFileExists(owner_path_)) return true;
    const std::filesystem::path path = LateArrivalPath(owner_path_);
    LateArrivalReading reading = ReadLateArrivals(path, owner_path_.string(), note_.table);
    if (reading.state == LateArrivalReading::State::kMissing) {
      // The first pass of the profile was stopped before its memory was written: the memory
      // starts from the start the profile had, which the owed start is about to replace, so that
      // the look-back still reaches back to it.
      const std::string before = ReadProfileValue(owner_path_.string(), kProfileSection, kStartKey);
      reading.memory = FreshLateArrivals(owner_path_.string(), note_.table, ParseDecimal(before));
      reading.state = LateArrivalReading::State::kRead;
    }
    if (reading.state != LateArrivalReading::State::kRead) return true;
    std::vector<WrittenRecord> written;
    // An empty pass has nothing to remember; lines without their keys make the memory forget
    // everything rather than miss them.
    bool known = note_.spool_lines == 0;
    if (note_.has_keys) {
      const std::optional<std::vector<SpoolKey>> keys = ReadSpoolKeys(files_.keys);
      known = keys.has_value();
      for (const SpoolKey& key : keys.value_or(std::vector<SpoolKey>())) {
        written.push_back(WrittenRecord{key.key, static_cast<double>(key.date)});
      }
    }
    AfterLinesAreIn(reading.memory, written, ParseDecimal(*note_.start),
                    static_cast<double>(note_.late_look_back), known);
    try {
      WriteLateArrivals(path, reading.memory);
    } catch (const FileError& e) {
      Fail(std::string(e.what()) + ": the memory of late arrivals of " + owner_ +
           " could not be written. The spool " + files_.spool.string() + " and its note " +
           owed_.path.string() + " are kept; the next run writes it.");
      return false;
    }
    return true;
  }

  // The owed start goes to the profile that owes the lines, never to another one.
  bool StoreStart() {
    if (!note_.start) return true;
    if (!ProfileFileExists(owner_path_)) {
      Log("The start point of " + owner_ + " was not stored: its file " + owner_path_.string() +
          " no longer exists.");
      return true;
    }
    try {
      WriteProfileValue(owner_path_, kProfileSection, kStartKey, *note_.start);
    } catch (const IniWriteError& e) {
      Fail(std::string(e.what()) + ": the start point " + *note_.start + " of " + owner_ +
           " could not be stored. The spool " + files_.spool.string() + " and its note " +
           owed_.path.string() + " are kept; the next run stores it.");
      return false;
    }
    result_.stored_start = note_.start;
    Log("Stored the start point " + *note_.start + " in " + owner_ + ".");
    return true;
  }

  // The lines are no longer owed: the copy beside the profile goes first.
  bool Unmark() {
    if (RemoveOwedNote(owed_.path)) return true;
    Fail("Cannot remove " + owed_.path.string() + ": " + std::strerror(errno) +
         ". The lines it names are in " + files_.destination.string() +
         "; the next run finds them there.");
    return false;
  }

  const DestinationFiles& files_;
  const RecoveryRequest& request_;
  const std::filesystem::path folder_;
  OwedNote owed_;
  ReadyNote note_;
  std::filesystem::path owner_path_;
  std::string owner_;
  SpoolRecovery result_;
};

}  // namespace

SpoolRecovery RecoverSpool(const RecoveryRequest& request) { return Recovery(request).Run(); }

std::optional<std::string> OwedElsewhere(const std::filesystem::path& profile_path,
                                         const DestinationFiles& files) {
  const NoteReading reading = ReadReadyNote(OwedNotePath(profile_path));
  if (reading.state != NoteReading::State::kRead || NamesDestination(reading.note, files)) {
    return std::nullopt;
  }
  return reading.note.destination;
}

}  // namespace remoteccm
