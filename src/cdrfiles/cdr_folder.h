// The CDR file folder as the collector sees it: which entries are CDR files of the kinds a
// profile reads, which of them no longer change, what stands where a file should be, and how
// a file leaves the folder for one of the collector's own folders. The folder is another
// account's: every entry is reached through the folder's handle, no link is followed, and a
// file leaves only if it is still the one that was read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/folder_handle.h"

namespace remoteccm {

// The two kinds of file the Repository pushes: cdr_... (call detail records, the table
// CallDetailRecord) and cmr_... (call management records, CallManagementRecord).
enum class CdrFileKind { kCdr, kCmr };

// The kinds a profile reads.
struct CdrKinds {
  bool cdr = true;
  bool cmr = false;
  bool Has(CdrFileKind kind) const { return kind == CdrFileKind::kCdr ? cdr : cmr; }
};

// The kind a file's name says: "cdr_..." or "cmr_..."; none for every other name (hidden names
// with "." or "_" first among them: an upload in progress).
std::optional<CdrFileKind> KindOfName(std::string_view name);
// "cdr", "cmr".
std::string_view KindTag(CdrFileKind kind);

// An entry of the folder named as a file of a wanted kind.
struct CdrFolderEntry {
  std::string name;
  CdrFileKind kind = CdrFileKind::kCdr;
  EntryFacts facts;
};

// The entries of the kinds wanted, in the order they last changed (oldest first); nullopt
// with the errno when the folder cannot be read.
std::optional<std::vector<CdrFolderEntry>> ListCdrFiles(const FolderHandle& folder,
                                                        const CdrKinds& kinds, int& error);

// Why what stands at a CDR file's name cannot be one ("a symbolic link where a CDR file should
// be"), empty when it can: only a regular file with one name is read (a second name may be a
// link to a file the push account could not read itself).
std::string RefusalOf(const EntryFacts& facts);

// Whether the entry has not changed for settle_seconds at `now`, by the time the system keeps
// of its last change (ctime), which no writer can set: a file pushed with an old or a future
// modification time is settled as any other.
bool Settled(const EntryFacts& facts, double now, int settle_seconds);

// MoveOut's answer when the name stands for another file now than the one read (no errno:
// not every system has ESTALE).
inline constexpr int kCdrFileReplaced = -1;

// Moves the file `name`, open as `file` (whose facts were taken when it was read), from `from`
// to the name `to_name` of `to`, never over another file. On one file system it is renamed,
// after checking that the name still stands for the file that was read. Across file systems
// (EXDEV) it is copied, synced, put in place and then removed, only when copy_allowed; else
// EXDEV is returned and the file stays. 0 or the errno; kCdrFileReplaced when the name stands
// for another file now (it stays for a later run).
int MoveOut(const FolderHandle& from, std::string_view name, int file, const EntryFacts& read,
            const FolderHandle& to, std::string_view to_name, bool copy_allowed);

// A name in `folder` not taken yet: name itself, else name.1, name.2, ...; empty when a
// thousand are taken.
std::string FreeName(const FolderHandle& folder, const std::string& name);

}  // namespace remoteccm
