#include "cdrfiles/cdr_folder.h"

#include <algorithm>
#include <cerrno>

namespace remoteccm {

std::optional<CdrFileKind> KindOfName(std::string_view name) {
  if (name.starts_with("cdr_")) return CdrFileKind::kCdr;
  if (name.starts_with("cmr_")) return CdrFileKind::kCmr;
  return std::nullopt;
}

std::string_view KindTag(CdrFileKind kind) { return kind == CdrFileKind::kCdr ? "cdr" : "cmr"; }

std::optional<std::vector<CdrFolderEntry>> ListCdrFiles(const FolderHandle& folder,
                                                        const CdrKinds& kinds, int& error) {
  const std::optional<std::vector<std::string>> names = folder.Names(error);
  if (!names) return std::nullopt;
  std::vector<CdrFolderEntry> entries;
  for (const std::string& name : *names) {
    const std::optional<CdrFileKind> kind = KindOfName(name);
    if (!kind || !kinds.Has(*kind)) continue;
    int look_error = 0;
    const std::optional<EntryFacts> facts = folder.Look(name, look_error);
    if (!facts) continue;  // gone since the listing
    entries.push_back({name, *kind, *facts});
  }
  std::sort(entries.begin(), entries.end(), [](const CdrFolderEntry& a, const CdrFolderEntry& b) {
    return a.facts.changed != b.facts.changed ? a.facts.changed < b.facts.changed : a.name < b.name;
  });
  error = 0;
  return entries;
}

std::string RefusalOf(const EntryFacts& facts) {
  if (facts.kind != EntryKind::kRegular) {
    return std::string(EntryKindText(facts.kind)) + " stands where a CDR file should be";
  }
  if (facts.links > 1) {
    return "a file with " + std::to_string(facts.links) +
           " names (a hard link) stands where a CDR file should be";
  }
  return {};
}

bool Settled(const EntryFacts& facts, double now, int settle_seconds) {
  return facts.changed <= now - settle_seconds;
}

int MoveOut(const FolderHandle& from, std::string_view name, int file, const EntryFacts& read,
            const FolderHandle& to, std::string_view to_name, bool copy_allowed) {
  int error = 0;
  const std::optional<EntryFacts> now = from.Look(name, error);
  if (!now) return error;
  if (now->identity != read.identity) return kCdrFileReplaced;
  const int renamed = from.Rename(name, to, to_name, false);
  if (renamed != EXDEV) {
    // The push account may have put another file under the name in between: that one goes
    // back, to be read by a later run.
    const std::optional<EntryFacts> moved = to.Look(to_name, error);
    if (renamed == 0 && moved && moved->identity != read.identity) {
      from.Rename(std::string(to_name), from, name, false);
      return kCdrFileReplaced;
    }
    // Not synced: a move lost in a crash leaves the file to be seen again, and its records,
    // already committed, are not imported twice.
    return renamed;
  }
  if (!copy_allowed) return EXDEV;
  if (const int copied = CopyIntoFolder(file, to, to_name); copied != 0) return copied;
  const std::optional<EntryFacts> still = from.Look(name, error);
  if (!still || still->identity != read.identity) return 0;
  return from.Remove(name);
}

std::string FreeName(const FolderHandle& folder, const std::string& name) {
  std::string candidate = name;
  for (int n = 1; n <= 1000; ++n) {
    int error = 0;
    if (!folder.Look(candidate, error) && error == ENOENT) return candidate;
    candidate = name + "." + std::to_string(n);
  }
  return {};
}

}  // namespace remoteccm
