// A folder reached once by its path and from then on only through its handle: every entry is
// looked at, opened, renamed or removed by its name inside that folder, and no link in it is
// followed, so that whoever else writes the folder (the account a CallManager pushes its CDR
// files as) cannot lead the program to a file or folder elsewhere. The program's own folders
// are opened the same way, and refused when a link or another user's folder stands in their
// place. It has a POSIX side (a descriptor of the folder, the *at calls) and a Win32 side (the
// folder held open, reparse points refused).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/posix_file.h"

namespace remoteccm {

enum class EntryKind { kRegular, kFolder, kLink, kPipe, kDevice, kSocket, kOther };

// What an entry of a folder is, a link not followed.
struct EntryFacts {
  EntryKind kind = EntryKind::kOther;
  std::int64_t size = 0;
  double modified = 0;  // the last write as the file says it (its writer may set it), Unix time
  // The last change of its content, its name or its attributes (POSIX ctime, Win32 ChangeTime):
  // the system sets it, no writer can.
  double changed = 0;
  std::uint64_t links = 1;  // names the file has
  std::string identity;     // device and inode (Win32: volume and file index)
};

// The entry kind as a line says it: "a symbolic link", "a named pipe (FIFO)"...
std::string_view EntryKindText(EntryKind kind);

class FolderHandle {
 public:
  FolderHandle() = default;
  ~FolderHandle();
  FolderHandle(FolderHandle&& other) noexcept;
  FolderHandle& operator=(FolderHandle&& other) noexcept;
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  // Opens the folder at path; the path's own links are followed (whoever names the folder
  // chooses it). Not open, with the errno in error, when it cannot be opened.
  static FolderHandle Open(const std::filesystem::path& path, int& error);
  // The program's own folder at path, created private (0700) when missing. Not open, with why,
  // when a link, a file or a folder of another user stands in its place, or others may write
  // in it.
  static FolderHandle OpenOwn(const std::filesystem::path& path, std::string& why);

  bool IsOpen() const;
  const std::filesystem::path& path() const { return path_; }

  // The names in the folder (without "." and ".."); nullopt with the errno when it cannot be
  // read.
  std::optional<std::vector<std::string>> Names(int& error) const;
  // The entry `name`, a link not followed; nullopt with the errno (ENOENT: none).
  std::optional<EntryFacts> Look(std::string_view name, int& error) const;
  // Opens a regular file to read: never through a link, never waiting on a pipe, never a
  // device. facts are those of what stands at the name (of the open file when it opened).
  // Closed, with the errno, when it could not be opened; EINVAL when it is no regular file.
  FileDescriptor OpenToRead(std::string_view name, EntryFacts& facts, int& error) const;
  // Creates a file that did not exist (an existing name or a link fails with EEXIST), open for
  // writing, readable by this user only.
  FileDescriptor CreateNew(std::string_view name, int& error) const;
  // Gives the entry `name` the name `to_name` in the folder `to` (this one or another). An
  // existing to_name is replaced only when `replace` is set, else EEXIST. 0 or the errno
  // (EXDEV: the two folders lie on different file systems).
  int Rename(std::string_view name, const FolderHandle& to, std::string_view to_name,
             bool replace) const;
  // Removes the entry: a link itself, never what it points at. 0 or the errno.
  int Remove(std::string_view name) const;
  // Makes the names created, renamed and removed in the folder durable.
  void Sync() const;

 private:
  std::filesystem::path path_;
  [[maybe_unused]] int fd_ = -1;             // POSIX: the folder's descriptor
  [[maybe_unused]] void* handle_ = nullptr;  // Win32: the folder held open
};

// Copies the open file `from` (read from its start) into the folder as `name`, through a
// hidden temporary: written, synced, renamed into place (never over an existing name), the
// folder synced. For a move across file systems. 0 or the errno; nothing is left on failure.
int CopyIntoFolder(int from, const FolderHandle& to, std::string_view name);

}  // namespace remoteccm
