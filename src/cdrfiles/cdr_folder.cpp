#include "cdrfiles/cdr_folder.h"

#include <algorithm>
#include <system_error>

#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

std::string MakeFolder(const fs::path& folder) {
  std::error_code error;
  fs::create_directory(folder, error);
  if (error) return "the folder " + folder.string() + " cannot be made: " + error.message();
  return "";
}

std::string Move(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::rename(from, to, error);
  // Not synced: a move lost in a crash leaves the file to be seen again, and its records,
  // already committed, are not imported twice.
  return error ? error.message() : "";
}

}  // namespace

std::optional<std::vector<CdrFolderFile>> CompleteCdrFiles(const fs::path& folder, double now,
                                                           int settle_seconds, std::string& why) {
  std::error_code error;
  fs::directory_iterator entries(folder, error);
  if (error) {
    why = error.message();
    return std::nullopt;
  }
  std::vector<CdrFolderFile> files;
  for (const fs::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    const bool cdr = name.starts_with("cdr_");
    const bool cmr = name.starts_with("cmr_");
    if (!cdr && !cmr) continue;  // hidden (. or _ first), or not a CDR file
    const std::optional<RegularFileFacts> facts = RegularFileFactsOf(entry.path());
    if (!facts) continue;
    if (facts->modified > now - settle_seconds) continue;  // may still be written
    files.push_back({entry.path(), name, facts->size, facts->modified, cmr});
  }
  std::sort(files.begin(), files.end(), [](const CdrFolderFile& a, const CdrFolderFile& b) {
    return a.modified != b.modified ? a.modified < b.modified : a.name < b.name;
  });
  return files;
}

std::string DisposeImported(const CdrFolderFile& file, int keep_days) {
  if (keep_days <= 0) {
    std::error_code error;
    fs::remove(file.path, error);
    return error ? error.message() : "";
  }
  const fs::path collected = file.path.parent_path() / kCollectedFolder;
  if (std::string why = MakeFolder(collected); !why.empty()) return why;
  // A file sent again under its name replaces the earlier copy.
  return Move(file.path, collected / file.name);
}

std::string MoveToRejected(const CdrFolderFile& file) {
  const fs::path rejected = file.path.parent_path() / kRejectedFolder;
  if (std::string why = MakeFolder(rejected); !why.empty()) return why;
  fs::path target = rejected / file.name;
  std::error_code error;
  for (int n = 1; fs::symlink_status(target, error).type() != fs::file_type::not_found; ++n) {
    if (n > 999) return "rejected/ already holds 1000 files of this name";
    target = rejected / (file.name + "." + std::to_string(n));
  }
  return Move(file.path, target);
}

void PruneCollected(const fs::path& folder, double now, int keep_days) {
  if (keep_days <= 0) return;
  std::error_code error;
  fs::directory_iterator entries(folder / kCollectedFolder, error);
  if (error) return;
  bool removed = false;
  for (const fs::directory_entry& entry : entries) {
    const std::optional<RegularFileFacts> facts = RegularFileFactsOf(entry.path());
    if (facts && facts->modified < now - keep_days * 86400.0) {
      removed = fs::remove(entry.path(), error) || removed;
    }
  }
  if (removed) SyncFolderOf(folder / kCollectedFolder / ".");
}

}  // namespace remoteccm
