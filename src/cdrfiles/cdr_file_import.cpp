#include "cdrfiles/cdr_file_import.h"

#include <optional>

#include "cdrfiles/cdr_file_reader.h"
#include "cdrfiles/cdr_folder.h"
#include "cdrfiles/cdr_store.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

std::string Count(std::int64_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

class FolderImport {
 public:
  FolderImport(const CdrImportRequest& request, CdrStore& store, CdrImportOutcome& outcome)
      : request_(request), store_(store), outcome_(outcome) {}

  // False when the database failed: the files after it stay for the next run.
  bool Import(const CdrFolderFile& file) {
    const std::string shown = EscapedForLog(file.name);
    if (SentAgain(file)) {
      ++outcome_.files;
      Log("The CDR file " + shown +
          " was imported before: the file was sent again, and nothing of it is imported again.");
      Dispose(file, shown);
      return true;
    }
    CdrFileReader reader(file.path);
    std::string why;
    std::optional<CdrFileImported> imported;
    if (reader.state() == CdrFileReader::State::kReading) {
      imported = store_.ImportFile(
          file.management ? kCmrFileTable : kCdrFileTable, file.name,
          static_cast<std::int64_t>(request_.now), reader,
          [this] { At(CdrImportPoint::kRowsWritten); }, why);
    }
    if (!imported) {
      if (!why.empty()) {
        outcome_.usable = false;
        outcome_.error = "The CDR file " + shown + " could not be imported: " + why +
                         ". It stays for the next run.";
        Log(outcome_.error);
        return false;
      }
      if (reader.state() == CdrFileReader::State::kDamaged) {
        Reject(file, shown, reader);
      } else {
        ++outcome_.incomplete;
        Log("The CDR file " + shown + " is not complete yet (" + reader.problem() +
            "): it stays for a later run.");
      }
      return true;
    }
    At(CdrImportPoint::kCommitted);
    ++outcome_.files;
    outcome_.records += imported->records;
    outcome_.duplicates += imported->duplicates;
    std::string line =
        "Imported the CDR file " + shown + ": " + Count(imported->records, "record", "records");
    if (imported->duplicates > 0) {
      line += " (" + Count(imported->duplicates, "record was", "records were") +
              " imported before" + (imported->same_file_before ? ": the file was sent again" : "") +
              ")";
    }
    Log(line + ".");
    Dispose(file, shown);
    return true;
  }

 private:
  // A file whose name, size and bytes an earlier import had: the Repository's resend. Known by
  // its note, so that it is known after the keys of its records are forgotten.
  bool SentAgain(const CdrFolderFile& file) {
    if (!store_.KnowsFile(file.name, file.size)) return false;
    CdrFileReader reader(file.path);
    std::vector<CdrFileValue> values;
    std::string line;
    while (reader.Next(values, line)) {
    }
    return reader.state() == CdrFileReader::State::kEnd && store_.KnowsContent(reader.Sha256Hex());
  }
  void Dispose(const CdrFolderFile& file, const std::string& shown) {
    if (const std::string problem = DisposeImported(file, request_.keep_days); !problem.empty()) {
      Log("The CDR file " + shown + " is imported but could not leave the folder: " + problem +
          ". Its records are not imported again.");
    }
    At(CdrImportPoint::kDisposed);
  }
  void Reject(const CdrFolderFile& file, const std::string& shown, const CdrFileReader& reader) {
    const std::string where =
        "line " + std::to_string(reader.problem_line()) + ": " + reader.problem();
    outcome_.rejected.push_back(shown + " " + where);
    const std::string problem = MoveToRejected(file);
    Log("The CDR file " + shown + " is damaged (" + where + "); nothing of it was imported. " +
        (problem.empty()
             ? "It was moved to " + std::string(kRejectedFolder) + "/."
             : "It could not be moved to " + std::string(kRejectedFolder) + "/: " + problem + "."));
  }
  void At(CdrImportPoint point) {
    if (request_.at_point) request_.at_point(point);
  }
  void Log(const std::string& line) {
    if (request_.log) request_.log(line);
  }

  const CdrImportRequest& request_;
  CdrStore& store_;
  CdrImportOutcome& outcome_;
};

// One import into the database, and one out of the folder (two profiles may name it): false
// when another run holds either lock. Throws FileError.
bool TakeImportLocks(const CdrImportRequest& request, std::optional<LockFile>& database_lock,
                     std::optional<LockFile>& folder_lock) {
  database_lock = LockFile::TryTake(request.database.string() + ".lock");
  if (database_lock) folder_lock = LockFile::TryTake(request.folder / kFolderLockName);
  return database_lock && folder_lock;
}

// The files set aside in the folder's rejected folder, by this run or earlier ones.
int CountSetAside(const std::filesystem::path& folder) {
  int count = 0;
  std::error_code unreadable;
  for (std::filesystem::directory_iterator entry(folder / kRejectedFolder, unreadable), end;
       !unreadable && entry != end; entry.increment(unreadable)) {
    ++count;
  }
  return count;
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

}  // namespace

CdrImportOutcome ImportCdrFiles(const CdrImportRequest& request) {
  CdrImportOutcome outcome;
  const auto log = [&](const std::string& line) {
    if (request.log) request.log(line);
  };
  const auto fail = [&](std::string line) {
    outcome.usable = false;
    outcome.error = std::move(line);
    log(outcome.error);
    return outcome;
  };
  const auto fail_folder = [&](std::string line) {
    outcome.folder_unusable = true;
    return fail(std::move(line));
  };
  const std::string folder_shown = EscapedForLog(request.folder.string());
  std::optional<LockFile> database_lock;
  std::optional<LockFile> folder_lock;
  std::error_code missing;
  if (!std::filesystem::is_directory(request.folder, missing)) {
    return fail_folder("The CDR file folder " + folder_shown + " cannot be read: " +
                       (missing ? missing.message() : "it is not a folder") + ".");
  }
  bool locked = false;
  try {
    locked = TakeImportLocks(request, database_lock, folder_lock);
  } catch (const FileError& e) {
    return fail(e.what());
  }
  if (!locked) {
    log("Another run is importing the CDR files of " + folder_shown +
        ": this run leaves them to it.");
    return outcome;
  }
  std::string why;
  std::optional<CdrStore> store = CdrStore::Open(request.database, why);
  if (!store) {
    return fail("The CDR database " + EscapedForLog(request.database.string()) +
                " cannot be used: " + why + ".");
  }
  const std::optional<std::vector<CdrFolderFile>> files =
      CompleteCdrFiles(request.folder, request.now, request.settle_seconds, why);
  if (!files) {
    return fail_folder("The CDR file folder " + folder_shown + " cannot be read: " + why + ".");
  }
  const auto now = static_cast<std::int64_t>(request.now);
  if (!store->ForgetImportsBefore(now - kCdrRecordKeyDays * 86400, now - kCdrFileNoteDays * 86400,
                                  why)) {
    return fail("The CDR database " + EscapedForLog(request.database.string()) +
                " cannot be used: " + why + ".");
  }
  FolderImport import(request, *store, outcome);
  for (const CdrFolderFile& file : *files) {
    if (!import.Import(file)) break;
  }
  PruneCollected(request.folder, request.now, request.keep_days);
  outcome.set_aside += CountSetAside(request.folder);
  if (!files->empty()) log(ImportSummary(outcome));
  return outcome;
}

}  // namespace remoteccm
