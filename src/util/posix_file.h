// The file layer every writer of the program stands on: a descriptor that closes itself,
// writes that finish (short writes, EINTR), durable replacement of a whole file, folder syncs,
// and the two locks (a folder's, for read-change-replace; a lock file's, for one run per
// destination). Failures throw FileError with the path and the system's message. It has a POSIX
// side (posix/) and a Win32 side (win32/, over the C runtime's descriptors); the open flags are
// <fcntl.h>'s on both.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace remoteccm {

// A file operation that failed: "<what> <path>: <system message>".
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& message, int error_number)
      : std::runtime_error(message), error_number_(error_number) {}
  int ErrorNumber() const { return error_number_; }

 private:
  int error_number_;
};

// What separates the folders of a path: "/" (POSIX); "\\" and "/" (Win32), the first of them
// the one the program writes.
extern const std::string_view kFolderSeparators;

[[noreturn]] void ThrowFileError(std::string_view what, const std::filesystem::path& path,
                                 int error_number);

// An open descriptor owned by one object; closed (errors ignored) when it goes.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes and reports a failed close (a write the system could not finish): FileError.
  void Close(const std::filesystem::path& path);

 private:
  int fd_ = -1;
};

// open(2) with O_CLOEXEC; throws FileError "Cannot open <path>".
FileDescriptor OpenFile(const std::filesystem::path& path, int flags, mode_t mode = 0644);

// OpenFile for a file the program writes or reads as data: a pipe, device or folder in its
// place is refused at once (FileError) instead of waited on until a partner opens it.
FileDescriptor OpenRegularFile(const std::filesystem::path& path, int flags, mode_t mode = 0644);

// An open flag: a pipe or device is not waited on (O_NONBLOCK), where the system has them.
extern const int kOpenWithoutWaiting;

// An open flag: a link in the last place of the path is refused (O_NOFOLLOW), where the system
// has them.
extern const int kOpenNoFollow;

// A regular file as its folder shows it, a link not followed: its size and the moment it was
// last written (seconds since 1970). nullopt for anything else, or when it cannot be looked at.
struct RegularFileFacts {
  std::int64_t size = 0;
  double modified = 0;
};
std::optional<RegularFileFacts> RegularFileFactsOf(const std::filesystem::path& path);

// open(2) with O_CLOEXEC without the throw: a closed descriptor when it fails, with the errno
// in error.
FileDescriptor TryOpenFile(const std::filesystem::path& path, int flags, int& error,
                           mode_t mode = 0644);

// The size of the open file, or -1 when it is not a regular file (or cannot be looked at).
std::int64_t RegularFileSize(int fd);

// read(2), retried on EINTR: the bytes read, 0 at the end, -1 with errno set.
std::int64_t ReadSome(int fd, char* buffer, std::size_t size);

// pread(2), retried on EINTR: the bytes read at offset, 0 at the end, -1 with errno set.
std::int64_t ReadAt(int fd, char* buffer, std::size_t size, std::int64_t offset);

// Cuts the open file to size bytes: false with errno set when the system refuses.
bool TruncateFile(int fd, std::int64_t size);

// SyncFile without the throw, for a clean-up after another failure: false when it failed.
bool TrySyncFile(int fd);

// What tells the file at path from every other file of the system while it exists (POSIX:
// device and inode; Win32: volume and file index), "" when it cannot be looked at.
std::string FileIdentityOf(const std::filesystem::path& path);

// The permission bits of the file at path (Win32: 0444 for a read-only file, else 0644), or
// nullopt when it cannot be looked at.
std::optional<mode_t> FileMode(const std::filesystem::path& path);

// Takes an exclusive lock on the whole open file without waiting; false when another has it.
bool TryLockWholeFile(int fd);

// Gives the file a new name where none exists: FileError "Cannot rotate <from> to <to>" when
// the name is taken or the system refuses, and "Cannot remove <from>" when the old name stays.
void RenameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// Sets the time the file was last written (and read) to seconds since 1970; false when refused.
bool SetFileTimes(const std::filesystem::path& path, std::int64_t seconds);

// Removes the name: 0, or the errno why not.
int RemoveFile(const std::filesystem::path& path);

// Whether this process may replace the existing file at path (it is writable, and not marked
// read-only for everyone, the superuser included); its permission bits go to mode. When it may
// not, errno says why.
bool MayReplace(const std::filesystem::path& path, mode_t& mode);

// Whether the open file has any write permission bit (Win32: is not marked read-only).
bool HasWritePermission(int fd);

// Whether this process may make and remove names in the folder.
bool MayWriteIn(const std::filesystem::path& folder);

// Creates the folder and any missing parents, each new one private to the user (mode 0700;
// Win32: the folder's inherited rights). A failure is left for the file operations inside it
// to report.
void CreatePrivateFolders(const std::filesystem::path& folder);

// Writes every byte, retrying short writes and EINTR; throws FileError "Cannot write to".
void WriteAll(int fd, std::string_view data, const std::filesystem::path& path);

// Hands a regular file's bytes to `take` a block at a time, so that files of any size are read
// in little memory. False when the file cannot be opened or read, is not a regular file, or
// `take` returned false (which ends the reading).
bool ReadInBlocks(const std::filesystem::path& path,
                  const std::function<bool(std::string_view)>& take);

// Reads the whole file; nullopt when it cannot be opened or read, or is not a regular file.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// Why the file at path cannot be read: empty when it can, or when there is none. For files
// that read as empty when they cannot be read (INI files), where that would go unnoticed.
std::string FileReadError(const std::filesystem::path& path);

// fsync of an open file; throws FileError "Cannot sync".
void SyncFile(int fd, const std::filesystem::path& path);

// The folder that holds path: its parent, "." for a bare name.
inline std::filesystem::path FolderOf(const std::filesystem::path& path) {
  return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

// Syncs the folder holding path, so that a created, renamed or removed name is durable.
void SyncFolderOf(const std::filesystem::path& path);

// The size of the file, or -1 when there is none (or it cannot be looked at).
std::int64_t FileSize(const std::filesystem::path& path);

// Replaces the file by content in one step: a temporary file beside it (".NAME.tmp-XXXXXX",
// mode `mode`, locked while it exists), written, synced, renamed over it, the folder synced. A
// crash at any moment leaves the old file or the new one, never a mixture. Throws FileError.
void ReplaceFileContent(const std::filesystem::path& path, std::string_view content, mode_t mode);

// Removes the temporary files killed replacements left in folder (they may hold passwords):
// ReplaceFileContent's whose lock nobody holds, and ".NAME.XXXXXX" beside a *.CCM or *.ini
// file NAME, which earlier versions made under the folder's lock, taken here. Live
// replacements keep theirs.
void RemoveStaleTemporaries(const std::filesystem::path& folder);

// Opens /dev/null on any of the descriptors 0, 1 and 2 that is closed, so that no file or
// database socket opened later takes its place (and the log is never written into it).
void OpenMissingStandardDescriptors();

// An exclusive lock on a folder, held while a file in it is read, changed and replaced, so
// that two processes changing the same file do not lose each other's changes. A folder that
// cannot be opened gives no lock (the change still happens). Win32, which cannot lock a
// folder, locks the file .remoteccm-folder.lock inside it (created when missing).
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  FileDescriptor fd_;
};

// Why the lock file at path could not be opened (error_number, an errno), said of the file it
// guards, "Cannot write to <file>: ...": the user knows that file, not ours beside it.
[[noreturn]] void ThrowLockFileError(const std::filesystem::path& path, int error_number);

// An exclusive lock on a lock file that is created when missing and never renamed or removed
// (removing it would let a second holder lock a new file while the first holds the old one).
// The system drops the lock when its holder dies, so a killed run leaves no stale lock.
class LockFile {
 public:
  // Takes the lock without waiting: nullopt when another holder has it. path is the lock file
  // beside the file it guards (that file's path + ".lock"). Throws FileError, naming the
  // guarded file, when the lock file cannot be created or opened, or is a link (whose target
  // the lock would create, wherever it points).
  static std::optional<LockFile> TryTake(const std::filesystem::path& path);
  LockFile(LockFile&&) = default;
  LockFile& operator=(LockFile&&) = default;

  // Also locks the file at `path` itself, by its identity, so that every name of it (hard
  // links) shares one lock; false when another holder has that lock. A file that is not there,
  // cannot be opened (for writing on POSIX, whose locks need it; Windows opens it for reading
  // only, so that readers that deny writers still get in) or is not a regular file is left
  // alone (true). The lock is a byte range far beyond any end of file, which no reader of the
  // file locks.
  bool AlsoLockIdentityOf(const std::filesystem::path& path);

 private:
  explicit LockFile(FileDescriptor fd) : fd_(std::move(fd)) {}
  FileDescriptor fd_;
  FileDescriptor identity_;
};

}  // namespace remoteccm
