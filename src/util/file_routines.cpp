#include "util/file_routines.h"

#include <cerrno>
#include <utility>

namespace remoteccm {
namespace {

int AccessFlags(FileAccess access) {
  switch (access) {
    case FileAccess::kRead:
      return O_RDONLY;
    case FileAccess::kWrite:
      return O_WRONLY;
    case FileAccess::kReadWrite:
      break;
  }
  return O_RDWR;
}

// The error of the last call, never 0 (a call that failed without saying why counts as EIO).
int LastError() { return errno != 0 ? errno : EIO; }

}  // namespace

FileIoError::FileIoError(int error_number)
    : std::runtime_error("I/O error " + std::to_string(error_number)),
      error_number_(error_number) {}

int OpenForAppend(FileHandle& file, FileAccess access, FileSharing sharing, int /*record_size*/,
                  const std::string& name) {
  CloseFileResult(file);
  if (name.empty()) return kFileAppendFailed;
  const int flags = AccessFlags(access) | (access == FileAccess::kRead ? 0 : O_APPEND);
  FileHandle opened;
  int error = 0;
  opened.fd_ = TryOpenFile(name, flags, error);
  if (!opened.IsOpen()) {
    // Only a file that is not there is created; an existing one is never cut short.
    if (error != ENOENT) return kFileAppendFailed;
    opened.fd_ = TryOpenFile(name, flags | O_CREAT | O_EXCL, error, 0666);
    if (!opened.IsOpen() && error == EEXIST) {
      opened.fd_ = TryOpenFile(name, flags, error);  // created meanwhile
    }
    if (!opened.IsOpen()) return kFileAppendFailed;
  }
  const int fd = opened.Descriptor();
  if (RegularFileSize(fd) < 0) return kFileAppendFailed;
  if (sharing == FileSharing::kDenyWrite && !TryLockWholeFile(fd)) return kFileAppendFailed;
  if (SeekToEnd(fd) < 0) return kFileAppendFailed;
  file = std::move(opened);
  return kFileOk;
}

int WriteBytes(FileHandle& file, std::string_view bytes) {
  if (!file.IsOpen()) return file.pending_error_ = EBADF;
  try {
    WriteAll(file.Descriptor(), bytes, {});
  } catch (const FileError& failed) {
    const int error = failed.ErrorNumber() != 0 ? failed.ErrorNumber() : EIO;
    if (file.pending_error_ == 0) file.pending_error_ = error;
    return error;
  }
  return 0;
}

int CloseFileResult(FileHandle& file) {
  int result = std::exchange(file.pending_error_, 0);
  if (!file.IsOpen()) return result;
  try {
    file.fd_.Close({});
  } catch (const FileError& failed) {
    if (result == 0) result = failed.ErrorNumber() != 0 ? failed.ErrorNumber() : EIO;
  }
  return result;
}

int DeleteFileByName(const std::string& name) {
  if (name.empty()) return kFileDeleteFailed;
  int error = 0;
  if (!TryOpenFile(name, O_RDONLY, error).IsOpen()) return kFileDeleteFailed;
  return RemoveFile(name) == 0 ? kFileOk : kFileDeleteFailed;
}

std::int64_t FileSizeOf(const std::string& name) {
  if (name.empty()) return kNoFileSize;
  int error = 0;
  const FileDescriptor fd = TryOpenFile(name, O_RDONLY, error);
  const std::int64_t size = fd.IsOpen() ? RegularFileSize(fd.Get()) : -1;
  return size >= 0 ? size : kNoFileSize;
}

void AppendToFile(const std::string& name, std::string_view text) {
  FileHandle file;
  errno = 0;
  if (OpenForAppend(file, FileAccess::kReadWrite, FileSharing::kDenyWrite, 1, name) != kFileOk) {
    throw FileIoError(LastError());
  }
  const std::int64_t original_size = SeekToEnd(file.Descriptor());
  int error = WriteBytes(file, text);
  if (error != 0) {
    // A part of the text must not stay behind: the file goes back to its old end. The write
    // error is the one to report.
    if (original_size >= 0) TruncateTo(file.Descriptor(), original_size);
    CloseFileResult(file);
    throw FileIoError(error);
  }
  error = CloseFileResult(file);
  if (error != 0) throw FileIoError(error);
}

}  // namespace remoteccm
