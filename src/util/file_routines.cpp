#include "util/file_routines.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
  const int flags = AccessFlags(access) | O_CLOEXEC | (access == FileAccess::kRead ? 0 : O_APPEND);
  FileHandle opened;
  opened.fd_ = FileDescriptor(::open(name.c_str(), flags));
  if (!opened.IsOpen()) {
    // Only a file that is not there is created; an existing one is never cut short.
    if (errno != ENOENT) return kFileAppendFailed;
    opened.fd_ = FileDescriptor(::open(name.c_str(), flags | O_CREAT | O_EXCL, 0666));
    if (!opened.IsOpen() && errno == EEXIST) {
      opened.fd_ = FileDescriptor(::open(name.c_str(), flags));  // created meanwhile
    }
    if (!opened.IsOpen()) return kFileAppendFailed;
  }
  const int fd = opened.Descriptor();
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return kFileAppendFailed;
  if (sharing == FileSharing::kDenyWrite && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return kFileAppendFailed;
  }
  if (::lseek(fd, 0, SEEK_END) < 0) return kFileAppendFailed;
  file = std::move(opened);
  return kFileOk;
}

int WriteBytes(FileHandle& file, std::string_view bytes) {
  if (!file.IsOpen()) return file.pending_error_ = EBADF;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(file.Descriptor(), bytes.data() + done, bytes.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      const int error = LastError();
      if (file.pending_error_ == 0) file.pending_error_ = error;
      return error;
    }
    done += static_cast<std::size_t>(put);
  }
  return 0;
}

int CloseFileResult(FileHandle& file) {
  int result = std::exchange(file.pending_error_, 0);
  if (!file.IsOpen()) return result;
  if (::close(file.fd_.Release()) != 0 && result == 0) result = LastError();
  return result;
}

int DeleteFileByName(const std::string& name) {
  if (name.empty()) return kFileDeleteFailed;
  if (!FileDescriptor(::open(name.c_str(), O_RDONLY | O_CLOEXEC)).IsOpen()) {
    return kFileDeleteFailed;
  }
  return ::unlink(name.c_str()) == 0 ? kFileOk : kFileDeleteFailed;
}

std::int64_t FileSizeOf(const std::string& name) {
  if (name.empty()) return kNoFileSize;
  const FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (!fd.IsOpen() || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return kNoFileSize;
  return static_cast<std::int64_t>(info.st_size);
}

void AppendToFile(const std::string& name, std::string_view text) {
  FileHandle file;
  errno = 0;
  if (OpenForAppend(file, FileAccess::kReadWrite, FileSharing::kDenyWrite, 1, name) != kFileOk) {
    throw FileIoError(LastError());
  }
  const off_t original_size = ::lseek(file.Descriptor(), 0, SEEK_END);
  int error = WriteBytes(file, text);
  if (error != 0) {
    // A part of the text must not stay behind: the file goes back to its old end.
    if (original_size >= 0 && ::ftruncate(file.Descriptor(), original_size) != 0) {
      // The write error is the one to report.
    }
    CloseFileResult(file);
    throw FileIoError(error);
  }
  error = CloseFileResult(file);
  if (error != 0) throw FileIoError(error);
}

}  // namespace remoteccm
