// One piece: the import of a folder, whose steps (settling, reading, the batch, the moves out,
// the files kept and watched) share one request, one store and the folder's handles.

#include "cdrfiles/cdr_file_import.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <set>

#include "cdrfiles/cdr_file_reader.h"
#include "cdrfiles/cdr_store.h"
#include "cdrfiles/cdr_store_note.h"
#include "util/sha256.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// Files a batch gathers at most, whatever they hold: what is kept of each until the commit,
// and what a damaged file makes the import read again, stay small.
constexpr std::size_t kBatchFiles = 1000;

using ImportLog = std::function<void(const std::string&, ImportLogLevel)>;

std::string Count(std::int64_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

std::string ShownName(std::string_view name) { return EscapedForLog(name); }

std::string Duration(double seconds) {
  const auto whole = static_cast<std::int64_t>(std::max(0.0, std::floor(seconds)));
  if (whole < 120) return Count(whole, "second", "seconds");
  if (whole < 3600) return Count(whole / 60, "minute", "minutes");
  if (whole < std::int64_t{2} * 86400) return Count(whole / 3600, "hour", "hours");
  return Count(whole / 86400, "day", "days");
}

// The SHA-256 of the first `size` bytes of the open file; empty when they cannot all be read.
std::string PrefixSha256(int fd, std::int64_t size) {
  Sha256 sha;
  std::string block(std::size_t{64} * 1024, '\0');
  for (std::int64_t at = 0; at < size;) {
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(size - at, static_cast<std::int64_t>(block.size())));
    const std::int64_t got = ReadAt(fd, block.data(), want, at);
    if (got <= 0) return {};
    sha.Update(std::string_view(block.data(), static_cast<std::size_t>(got)));
    at += got;
  }
  return sha.HexDigest();
}

std::string_view TableOf(CdrFileKind kind) {
  return kind == CdrFileKind::kCdr ? kCdrFileTable : kCmrFileTable;
}

class FolderImport {
 public:
  FolderImport(const CdrImportRequest& request, CdrStore& store, const FolderHandle& folder,
               const FolderHandle& collected, const FolderHandle& rejected,
               CdrImportOutcome& outcome)
      : request_(request),
        store_(store),
        folder_(folder),
        collected_(collected),
        rejected_(rejected),
        outcome_(outcome),
        now_(static_cast<std::int64_t>(request.now)),
        hold_(std::max<std::int64_t>(kCdrHoldSeconds, std::int64_t{10} * request.settle_seconds)) {}

  // The imported files the collector keeps: what was added to them imported, the ones no
  // longer needed removed, the ones still in the folder moved out. False when the database
  // failed or the run was asked to stop.
  bool LookAfterHeldFiles() {
    std::string why;
    const std::optional<std::vector<HeldCdrFile>> held = store_.HeldFiles(why);
    if (!held) return DatabaseFailed("", why);
    for (const HeldCdrFile& file : *held) {
      if (Stopping()) return false;
      int error = 0;
      if (const std::optional<EntryFacts> kept = collected_.Look(file.kept_name, error)) {
        if (!KeptFile(file, *kept)) return false;
        continue;
      }
      const std::optional<EntryFacts> left = folder_.Look(file.file_name, error);
      if (left && left->kind == EntryKind::kRegular && left->identity == file.identity) {
        held_in_folder_.insert(file.file_name);
        if (!LeftInFolder(file, *left)) return false;
        continue;
      }
      // Removed by someone, or replaced by another file under its name.
      if (!store_.ForgetHeld(file.kept_name, why)) return DatabaseFailed("", why);
    }
    return true;
  }

  bool IsHeldInFolder(const std::string& name) const { return held_in_folder_.count(name) > 0; }

  // A file of the push folder that was not imported before (or is sent again). False when the
  // database failed or the run was asked to stop: the files after it stay for the next run.
  // Whether the entry is left as it stands for now: no plain file, or still being written.
  bool LeftForNow(const CdrFolderEntry& entry) {
    if (const std::string refusal = RefusalOf(entry.facts); !refusal.empty()) {
      Waits(entry, refusal + "; it is left alone, never followed", true);
      return true;
    }
    if (Settled(entry.facts, request_.now, request_.settle_seconds)) return false;
    if (entry.facts.changed > request_.now + 60) {
      Waits(entry, "the system says it changed in the future (was the clock set back?)", true);
    } else {
      ++outcome_.incomplete;
      Log("The CDR file " + ShownName(entry.name) + " is still being written (it changed " +
          Duration(request_.now - entry.facts.changed) + " ago): it stays for a later run.");
    }
    return true;
  }

  // A file the reader found incomplete or damaged: it waits, or is set aside. False when the
  // batch cannot be taken back to before it.
  bool NotImported(const CdrFolderEntry& entry, int descriptor, const EntryFacts& facts,
                   const CdrFileReader& reader) {
    if (!ImportTakenBackAgain()) return false;
    if (MayStillGrow(reader, facts)) {
      Waits(entry, CutShortWhy(reader), false);
    } else if (reader.state() == CdrFileReader::State::kDamaged) {
      Reject(entry.name, descriptor, facts, folder_, reader, "");
    } else {
      Waits(entry, "it is not complete: " + reader.problem(), false);
    }
    return true;
  }

  bool Import(const CdrFolderEntry& entry) {
    if (Stopping()) return false;
    if (LeftForNow(entry)) return true;
    const std::string shown = ShownName(entry.name);
    EntryFacts facts;
    int error = 0;
    FileDescriptor file = folder_.OpenToRead(entry.name, facts, error);
    if (!file.IsOpen()) {
      if (error == ENOENT) return true;  // gone since the listing
      Waits(entry, error == EINVAL ? RefusalOf(facts) : "it cannot be opened (" + Why(error) + ")",
            error == EINVAL);
      return true;
    }
    if (const std::string refusal = RefusalOf(facts); !refusal.empty()) {
      Waits(entry, refusal + "; it is left alone", true);
      return true;
    }
    std::string why;
    const std::optional<bool> sent_again = SentAgain(entry.name, file.Get(), facts, why);
    if (!sent_again) return DatabaseFailed(shown, why);
    if (*sent_again) return KeepResent(entry, file.Get(), facts);
    const int descriptor = file.Get();
    CdrFileReader reader(std::move(file));
    const std::string kept = FreeName(collected_, entry.name);
    CdrFileImportJob job = Job(entry.kind, entry.name, reader);
    job.held = HeldCdrFile{
        kept,           entry.name, std::string(TableOf(entry.kind)), 0, facts.modified, "",
        facts.identity, now_};
    std::optional<CdrFileImported> imported;
    if (reader.state() == CdrFileReader::State::kReading) imported = store_.ImportFile(job, why);
    if (!imported) {
      if (!why.empty()) return ImportFailed(shown, why);
      return NotImported(entry, descriptor, facts, reader);
    }
    if (imported->stopped) {
      // The batch went with the file: its files stay for the next run.
      if (!store_.BatchOpen()) batch_.clear();
      return Stopped();
    }
    batch_.push_back({entry, facts, kept, *imported});
    const bool full = store_.BatchRecords() >= kCdrBatchRecords || batch_.size() >= kBatchFiles;
    return !full || CommitBatch();
  }

  // Commits the batch of files imported, then moves them out of the folder one after another;
  // a stop asked for meanwhile ends it after the file it is on: a file whose records are
  // committed may stay, the next run moves it out as any imported file left in the folder.
  // False when the commit failed (the batch's files stay, nothing of them imported) or the run
  // was asked to stop.
  bool CommitBatch() {
    std::string why;
    if (!store_.CommitBatch(why)) {
      const std::size_t files = batch_.size();
      const std::string first = batch_.empty() ? "" : ShownName(batch_.front().entry.name);
      batch_.clear();
      if (files <= 1) return DatabaseFailed(first, why);
      return Failed("The CDR file " + first + " and the " +
                    Count(static_cast<std::int64_t>(files) - 1, "file", "files") +
                    " imported after it in the same transaction could not be imported: " + why +
                    ". They stay for the next run.");
    }
    for (const BatchFile& file : batch_) {
      const std::string shown = ShownName(file.entry.name);
      if (!file.imported) {
        ++outcome_.files;
        Log("The CDR file " + shown +
            " was imported before: the file was sent again, and nothing of it is imported "
            "again.");
        continue;
      }
      Counted(*file.imported);
      const CdrFileImported& imported = *file.imported;
      std::string line =
          "Imported the CDR file " + shown + ": " + Count(imported.records, "record", "records");
      if (imported.duplicates > 0) {
        line += " (" + Count(imported.duplicates, "record was", "records were") +
                " imported before" +
                (imported.same_file_before ? ": the file was sent again" : "") + ")";
      }
      Log(line + ".");
    }
    std::vector<BatchFile> committed;
    committed.swap(batch_);
    for (const BatchFile& file : committed) {
      if (&file != &committed.front() && Stopping()) return false;
      if (file.imported) At(CdrImportPoint::kCommitted);
      // A move within the file system, never a copy: no open file needed.
      Dispose(file.entry.name, -1, file.facts, file.kept, false);
      At(CdrImportPoint::kDisposed);
    }
    return true;
  }

 private:
  // A file of the open batch: imported (or a resend noted) but not committed yet, still in the
  // folder.
  struct BatchFile {
    CdrFolderEntry entry;                     // as the folder listed it
    EntryFacts facts;                         // as it was read
    std::string kept;                         // its name in the collected folder
    std::optional<CdrFileImported> imported;  // none for a resend
  };

  // A file that ended badly took the batch back with it: the batch's files are imported
  // again, each alone this time (a file that has changed since takes back only itself), and
  // committed. False when the database failed or the run was asked to stop.
  bool ImportTakenBackAgain() {
    if (store_.BatchOpen() || batch_.empty()) return true;
    std::vector<BatchFile> again;
    again.swap(batch_);
    store_.ImportFilesAlone(true);
    bool done = true;
    for (const BatchFile& file : again) {
      if (!Import(file.entry)) {
        done = false;
        break;
      }
    }
    done = done && CommitBatch();
    store_.ImportFilesAlone(false);
    return done;
  }

  // The database failed on a file: it stays, and so does what the batch held if it went too.
  bool ImportFailed(const std::string& shown, const std::string& why) {
    const std::size_t taken_back = store_.BatchOpen() ? 0 : batch_.size();
    if (taken_back > 0) batch_.clear();
    return Failed(
        "The CDR file " + shown + " could not be imported: " + why + ". It stays for the next run" +
        (taken_back > 0 ? ", as does what was imported before it in the same "
                          "transaction (" +
                              Count(static_cast<std::int64_t>(taken_back), "file", "files") + ")"
                        : std::string()) +
        ".");
  }

  CdrFileImportJob Job(CdrFileKind kind, std::string_view name, CdrFileReader& reader) {
    CdrFileImportJob job;
    job.table = TableOf(kind);
    job.file_name = name;
    job.now = now_;
    job.reader = &reader;
    job.late_field = request_.late_field;
    job.late_before = request_.late_before;
    job.look_back = request_.look_back;
    job.stop = request_.stop;
    job.before_commit = [this] { At(CdrImportPoint::kRowsWritten); };
    return job;
  }

  void Counted(const CdrFileImported& imported) {
    ++outcome_.files;
    outcome_.records += imported.records;
    outcome_.duplicates += imported.duplicates;
    outcome_.late += imported.late;
    outcome_.late_past_look_back += imported.late_past_look_back;
  }

  // A file whose name, size and bytes an earlier import had: the Repository's resend. Known by
  // its note, so that it is known after the keys of its records are forgotten.
  std::optional<bool> SentAgain(const std::string& name, int file, const EntryFacts& facts,
                                std::string& why) {
    const std::optional<bool> known = store_.KnowsFile(name, facts.size, why);
    if (!known || !*known) return known;
    const std::string sha = PrefixSha256(file, facts.size);
    if (sha.empty()) return false;
    return store_.KnowsContent(sha, why);
  }

  // A resend is kept as an imported file is, and watched as one.
  bool KeepResent(const CdrFolderEntry& entry, int file, const EntryFacts& facts) {
    const std::string kept = FreeName(collected_, entry.name);
    std::string why;
    const HeldCdrFile held{kept,
                           entry.name,
                           std::string(TableOf(entry.kind)),
                           facts.size,
                           facts.modified,
                           PrefixSha256(file, facts.size),
                           facts.identity,
                           now_};
    if (!store_.BeginBatch(why) || !store_.UpdateHeld(held, why)) {
      return ImportFailed(ShownName(entry.name), why);
    }
    // It leaves the folder once its note is committed, with the batch.
    batch_.push_back({entry, facts, kept, std::nullopt});
    return batch_.size() < kBatchFiles || CommitBatch();
  }

  // An imported file leaves the push folder for the collector's own. Across file systems it
  // stays until it has not changed for a while (copy_allowed), so that a writer that still
  // holds it cannot lose what it writes.
  void Dispose(const std::string& name, int file, const EntryFacts& facts, const std::string& kept,
               bool copy_allowed) {
    const std::string shown = ShownName(name);
    const int moved = MoveOut(folder_, name, file, facts, collected_, kept, copy_allowed);
    if (moved == 0 || moved == kCdrFileReplaced) return;
    if (moved == EXDEV) {
      if (!copy_allowed) {
        Log("The CDR file " + shown + " stays in the folder until it has not changed for " +
            Duration(static_cast<double>(hold_)) + ": " + ShownName(collected_.path().string()) +
            " lies on another file system, and a writer that still holds it would lose what it "
            "adds.");
      }
      return;
    }
    const std::string why = "imported, but it cannot leave the folder (" + Why(moved) + ")";
    outcome_.waiting.push_back(shown + ": " + why);
    Log("The CDR file " + shown + " is " + why + ". Its records are not imported again.",
        ImportLogLevel::kWarning);
  }

  // A kept file in the collector's folder: imported again where it grew, removed once kept
  // long enough and unchanged for the hold.
  bool KeptFile(const HeldCdrFile& held, const EntryFacts& facts) {
    if (facts.size != held.size || facts.modified != held.modified) {
      if (!Settled(facts, request_.now, request_.settle_seconds)) return true;
      return ImportAgain(collected_, held.kept_name, held, false);
    }
    const std::int64_t keep =
        std::max<std::int64_t>(hold_, std::int64_t{request_.keep_days} * 86400);
    if (now_ - held.imported_at < keep ||
        request_.now - facts.changed < static_cast<double>(hold_)) {
      return true;
    }
    std::string why;
    const int removed = collected_.Remove(held.kept_name);
    if (removed != 0 && removed != ENOENT) return true;
    return store_.ForgetHeld(held.kept_name, why) || DatabaseFailed("", why);
  }

  // An imported file still in the push folder (its move failed, or waits for the copy across
  // file systems).
  bool LeftInFolder(const HeldCdrFile& held, const EntryFacts& facts) {
    if (facts.size != held.size || facts.modified != held.modified) {
      if (!Settled(facts, request_.now, request_.settle_seconds)) return true;
      return ImportAgain(folder_, held.file_name, held, true);
    }
    const bool unchanged_long = now_ - held.imported_at >= hold_ &&
                                request_.now - facts.changed >= static_cast<double>(hold_);
    std::string why;
    if (request_.keep_days <= 0 && unchanged_long) {
      // Not kept: removed where it is, if it is still the file imported.
      int error = 0;
      const std::optional<EntryFacts> now = folder_.Look(held.file_name, error);
      if (now && now->identity == held.identity) folder_.Remove(held.file_name);
      return store_.ForgetHeld(held.kept_name, why) || DatabaseFailed("", why);
    }
    EntryFacts opened;
    int error = 0;
    const FileDescriptor file = folder_.OpenToRead(held.file_name, opened, error);
    if (!file.IsOpen()) return true;
    std::string kept = held.kept_name;
    int taken = 0;
    if (collected_.Look(kept, taken)) kept = FreeName(collected_, held.file_name);
    if (kept != held.kept_name) {
      HeldCdrFile renamed = held;
      renamed.kept_name = kept;
      if (!store_.ForgetHeld(held.kept_name, why) || !store_.UpdateHeld(renamed, why)) {
        return DatabaseFailed("", why);
      }
    }
    Dispose(held.file_name, file.Get(), opened, kept, unchanged_long);
    return true;
  }

  // A kept file that changed since its import, and no longer changes: what its writer added is
  // imported (the part imported before is checked against its digest and skipped); a file
  // written anew is read again, its known records recognised.
  bool ImportAgain(const FolderHandle& where, const std::string& name, const HeldCdrFile& held,
                   bool in_push_folder) {
    const std::string shown = ShownName(held.file_name);
    EntryFacts facts;
    int error = 0;
    FileDescriptor file = where.OpenToRead(name, facts, error);
    if (!file.IsOpen()) return true;
    const bool grew = facts.size > held.size && PrefixSha256(file.Get(), held.size) == held.sha256;
    const int descriptor = file.Get();
    CdrFileReader reader(std::move(file));
    CdrFileImportJob job = Job(held.table == kCmrFileTable ? CdrFileKind::kCmr : CdrFileKind::kCdr,
                               held.file_name, reader);
    job.known_through = grew ? held.size : 0;
    HeldCdrFile now_held = held;
    now_held.modified = facts.modified;
    now_held.identity = facts.identity;
    now_held.imported_at = now_;
    job.held = now_held;
    std::string why;
    std::optional<CdrFileImported> imported;
    if (reader.state() == CdrFileReader::State::kReading) imported = store_.ImportFile(job, why);
    if (!imported) {
      if (!why.empty()) return DatabaseFailed(shown, why);
      if (MayStillGrow(reader, facts)) {
        Log("The CDR file " + shown + " grew after its import, " + CutShortWhy(reader) +
            ": it stays for a later run.");
      } else if (reader.state() == CdrFileReader::State::kDamaged) {
        Reject(name, descriptor, facts, where, reader, held.kept_name);
      }
      return true;
    }
    if (imported->stopped) return Stopped();
    // Watched files are few: each is committed at once, alone.
    if (!store_.CommitBatch(why)) return DatabaseFailed(shown, why);
    Counted(*imported);
    Log("The CDR file " + shown +
        (grew ? " grew after its import: " : " was written anew after its import: ") +
        Count(imported->records, "more record", "more records") + " imported" +
        (imported->duplicates > 0
             ? " (" + Count(imported->duplicates, "record was", "records were") +
                   " imported before)"
             : std::string()) +
        ".");
    if (in_push_folder) Dispose(name, descriptor, facts, held.kept_name, false);
    return true;
  }

  // A last line cut short may be an upload that pauses there: the file is damaged only once it
  // has not changed for the hold, when no writer holds it any more.
  bool MayStillGrow(const CdrFileReader& reader, const EntryFacts& facts) const {
    return reader.state() == CdrFileReader::State::kDamaged && reader.cut_short() &&
           request_.now - facts.changed < static_cast<double>(hold_);
  }
  std::string CutShortWhy(const CdrFileReader& reader) const {
    return "its last line is cut short (line " + std::to_string(reader.problem_line()) + ": " +
           reader.problem() + "); it is set aside as damaged if it has not changed for " +
           Duration(static_cast<double>(hold_));
  }

  // A damaged file goes to the collector's folder of rejected files. What was imported of a
  // kept file before it changed stays imported.
  void Reject(const std::string& name, int file, const EntryFacts& facts, const FolderHandle& from,
              const CdrFileReader& reader, const std::string& held_name) {
    const std::string shown = ShownName(name);
    const std::string where =
        "line " + std::to_string(reader.problem_line()) + ": " + reader.problem();
    outcome_.rejected.push_back(shown + " " + where);
    const std::string target = FreeName(rejected_, name);
    const int moved =
        target.empty() ? EEXIST : MoveOut(from, name, file, facts, rejected_, target, true);
    const std::string rejected_shown = ShownName(rejected_.path().string());
    const std::string imported = held_name.empty()
                                     ? "nothing of it was imported"
                                     : "what was imported of it before it changed stays imported";
    Log("The CDR file " + shown + " is damaged (" + where + "); " + imported + ". " +
            (moved == 0 ? "It was moved to " + rejected_shown + "."
                        : "It could not be moved to " + rejected_shown + ": " + Why(moved) + "."),
        ImportLogLevel::kWarning);
    std::string why;
    if (!held_name.empty() && moved == 0) store_.ForgetHeld(held_name, why);
  }

  // A file that cannot be imported now: said at once when it never will be as it is, else as
  // a warning once it has waited long.
  void Waits(const CdrFolderEntry& entry, const std::string& why, bool at_once) {
    ++outcome_.incomplete;
    const std::string shown = ShownName(entry.name);
    const double waited = request_.now - entry.facts.changed;
    const double bound = static_cast<double>(kCdrWaitSettleTimes) * request_.settle_seconds;
    if (at_once || waited >= bound) {
      outcome_.waiting.push_back(shown + ": " + why);
      Log("The CDR file " + shown + " cannot be imported: " + why +
              (at_once || waited < 1 ? "" : " (for " + Duration(waited) + ")") + ".",
          ImportLogLevel::kWarning);
      return;
    }
    Log("The CDR file " + shown + " is not complete yet (" + why + "): it stays for a later run.");
  }

  bool Stopping() {
    if (!request_.stop || !request_.stop()) return false;
    Stopped();
    return true;
  }
  bool Stopped() {
    outcome_.stopped = true;
    return false;
  }
  bool DatabaseFailed(const std::string& shown, const std::string& why) {
    return Failed(shown.empty() ? "The CDR database cannot be used: " + why + "."
                                : "The CDR file " + shown + " could not be imported: " + why +
                                      ". It stays for the next run.");
  }
  // The import cannot go on; the first fault is the one the run reports (a batch that fails
  // to commit after it is its consequence).
  bool Failed(const std::string& line) {
    outcome_.usable = false;
    if (outcome_.error.empty()) outcome_.error = line;
    Log(line, ImportLogLevel::kWarning);
    return false;
  }
  static std::string Why(int error) {
    return error == kCdrFileReplaced ? "another file stands under its name now"
                                     : std::strerror(error);
  }
  void At(CdrImportPoint point) {
    if (request_.at_point) request_.at_point(point);
  }
  void Log(const std::string& line, ImportLogLevel level = ImportLogLevel::kInfo) {
    if (request_.log) request_.log(line, level);
  }

  const CdrImportRequest& request_;
  CdrStore& store_;
  const FolderHandle& folder_;
  const FolderHandle& collected_;
  const FolderHandle& rejected_;
  CdrImportOutcome& outcome_;
  const std::int64_t now_;
  const std::int64_t hold_;
  std::set<std::string> held_in_folder_;
  std::vector<BatchFile> batch_;
};

int CountEntries(const FolderHandle& folder) {
  int error = 0;
  const std::optional<std::vector<std::string>> names = folder.Names(error);
  if (!names) return 0;
  return static_cast<int>(std::count_if(names->begin(), names->end(), [](const std::string& name) {
    return !name.starts_with(".");
  }));
}

std::string ImportSummary(const CdrImportOutcome& outcome) {
  std::string line = "CDR files: " + Count(outcome.files, "file", "files") + " imported with " +
                     Count(outcome.records, "new record", "new records");
  if (!outcome.rejected.empty()) {
    line += ", " + std::to_string(outcome.rejected.size()) + " rejected";
  }
  if (outcome.incomplete > 0) line += ", " + std::to_string(outcome.incomplete) + " left";
  return line + ".";
}

// Opens the database, refusing one that does not match its note: a new, emptied or older
// database would import every resend again.
std::optional<CdrStore> OpenStore(const CdrImportRequest& request, std::string& why) {
  const bool existed = FileSize(request.database) >= 0;
  const StoreNoteReading note = ReadStoreNote(request.note);
  if (!existed && note.state == StoreNoteReading::State::kRead) {
    why = StoreNoteMismatch(note, false, true, {});
    return std::nullopt;
  }
  std::optional<CdrStore> store = CdrStore::Open(request.database, why);
  if (!store) return std::nullopt;
  why = StoreNoteMismatch(note, existed, store->IsNew(), store->Identity());
  if (!why.empty()) return std::nullopt;
  return store;
}

// The import's lock beside the database, dated when taken; none when another run holds it (a
// warning once it has held it for long). Throws FileError.
std::optional<LockFile> TakeImportLock(const CdrImportRequest& request,
                                       const std::string& folder_shown, CdrImportOutcome& outcome,
                                       const ImportLog& log) {
  const std::filesystem::path lock_path = request.database.string() + ".lock";
  std::optional<LockFile> lock = LockFile::TryTake(lock_path);
  if (lock) {
    SetFileTimes(lock_path, static_cast<std::int64_t>(request.now));
    return lock;
  }
  // The holder dates the lock when it takes it: one held for long is a run that hangs.
  const std::optional<RegularFileFacts> held = RegularFileFactsOf(lock_path);
  const double since = held ? request.now - held->modified : 0;
  if (since >= kCdrHoldSeconds) {
    const std::string why = "another run has held " + ShownName(lock_path.string()) + " for " +
                            Duration(since) + ": no file is imported while it holds it";
    outcome.waiting.push_back(folder_shown + ": " + why);
    log("The CDR files of " + folder_shown + " cannot be imported: " + why + ".",
        ImportLogLevel::kWarning);
  } else {
    log("Another run is importing the CDR files of " + folder_shown +
            ": this run leaves them to it.",
        ImportLogLevel::kInfo);
  }
  return std::nullopt;
}

// One of the collector's own folders, where `what`; closed, with why, when it cannot be used.
FolderHandle OpenOwnFolder(const std::filesystem::path& path, const char* what, std::string& why) {
  std::string problem;
  FolderHandle folder = FolderHandle::OpenOwn(path, problem);
  if (!folder.IsOpen()) {
    why = "The folder " + ShownName(path.string()) + ", where " + what +
          ", cannot be used: " + problem + ".";
  }
  return folder;
}

// The files listed, one after another, until one ends the import.
void ImportEach(FolderImport& import, const std::optional<std::vector<CdrFolderEntry>>& files) {
  if (!files) return;
  for (const CdrFolderEntry& file : *files) {
    if (import.IsHeldInFolder(file.name)) continue;
    if (!import.Import(file)) break;
  }
}

// The note beside the database, written anew when its imports changed or it is missing.
void NoteTheStore(const CdrImportRequest& request, const CdrStore& store,
                  const CdrStoreIdentity& before, const ImportLog& log) {
  if (store.Identity().generation == before.generation &&
      ReadStoreNote(request.note).state == StoreNoteReading::State::kRead) {
    return;
  }
  try {
    WriteStoreNote(request.note, store.Identity());
  } catch (const FileError& e) {
    log(std::string(e.what()) + ": a database put back from an older copy would go unnoticed.",
        ImportLogLevel::kWarning);
  }
}

}  // namespace

CdrImportOutcome ImportCdrFiles(const CdrImportRequest& request) {
  CdrImportOutcome outcome;
  const ImportLog log = [&](const std::string& line, ImportLogLevel level) {
    if (request.log) request.log(line, level);
  };
  const auto fail = [&](std::string line) {
    outcome.usable = false;
    outcome.error = std::move(line);
    log(outcome.error, ImportLogLevel::kWarning);
    return outcome;
  };
  const auto fail_folder = [&](std::string line) {
    outcome.folder_unusable = true;
    return fail(std::move(line));
  };
  const std::string folder_shown = ShownName(request.folder.string());
  int error = 0;
  const FolderHandle folder = FolderHandle::Open(request.folder, error);
  if (!folder.IsOpen()) {
    return fail_folder("The CDR file folder " + folder_shown +
                       " cannot be read: " + std::strerror(error) + ".");
  }
  std::optional<LockFile> lock;
  try {
    lock = TakeImportLock(request, folder_shown, outcome, log);
  } catch (const FileError& e) {
    return fail(e.what());
  }
  if (!lock) return outcome;
  const ClaimOutcome claims =
      ClaimKinds(folder, request.kinds, request.profile, request.same_profile, request.claimant);
  for (const std::string& note : claims.notes) log(note, ImportLogLevel::kInfo);
  if (claims.refused) {
    outcome.refused = true;
    return fail(claims.error);
  }
  std::string why;
  const FolderHandle collected =
      OpenOwnFolder(request.collected, "imported CDR files are kept", why);
  if (!collected.IsOpen()) return fail(why);
  const FolderHandle rejected =
      OpenOwnFolder(request.rejected, "damaged CDR files are set aside", why);
  if (!rejected.IsOpen()) return fail(why);
  const std::string database_shown = ShownName(request.database.string());
  std::optional<CdrStore> store = OpenStore(request, why);
  if (!store) {
    return fail("The CDR database " + database_shown + " cannot be used: " + why +
                ". Nothing is imported: a new or older database would import again every file "
                "sent again. Put the newest copy back, or remove " +
                ShownName(request.note.string()) + " to go on with this one.");
  }
  const CdrStoreIdentity before = store->Identity();
  const auto now = static_cast<std::int64_t>(request.now);
  if (!store->ForgetOldImports(now, why)) {
    return fail("The CDR database " + database_shown + " cannot be used: " + why + ".");
  }
  FolderImport import(request, *store, folder, collected, rejected, outcome);
  std::optional<std::vector<CdrFolderEntry>> files;
  if (import.LookAfterHeldFiles()) {
    files = ListCdrFiles(folder, request.kinds, error);
    if (!files) {
      fail_folder("The CDR file folder " + folder_shown +
                  " cannot be read: " + std::strerror(error) + ".");
    }
    ImportEach(import, files);
  }
  // What was imported before a stop or a fault is kept.
  import.CommitBatch();
  NoteTheStore(request, *store, before, log);
  outcome.set_aside = CountEntries(rejected);
  if (outcome.stopped) {
    log("The import of the CDR files stopped, as the run was asked to: the files not imported "
        "stay for the next run.",
        ImportLogLevel::kWarning);
  }
  if (files && (!files->empty() || outcome.files > 0))
    log(ImportSummary(outcome), ImportLogLevel::kInfo);
  return outcome;
}

}  // namespace remoteccm
