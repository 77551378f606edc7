// File access by file name, as byte files: open for appending, close with a result, delete,
// size, append a text. Names are taken whole, however long.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "util/posix_file.h"

namespace remoteccm {

// Result codes of the file routines.
inline constexpr int kFileOk = 0;
inline constexpr int kFileAppendFailed = 7;
inline constexpr int kFileDeleteFailed = 8;
inline constexpr std::int64_t kNoFileSize = -1;

enum class FileAccess { kRead = 0, kWrite = 1, kReadWrite = 2 };

// Sharing asked for an open. On Linux "others may not write" is an exclusive advisory lock
// (flock) held while the file is open: a second writer of this program family is refused,
// programs that take no locks are not. "Others may do anything" takes no lock.
enum class FileSharing { kDenyWrite = 2, kDenyNone = 4 };

// "I/O error %d" with the system's error number.
class FileIoError : public std::runtime_error {
 public:
  explicit FileIoError(int error_number);
  int ErrorNumber() const { return error_number_; }

 private:
  int error_number_;
};

// An open file (POSIX descriptor) owned by one record; closed when the record goes.
class FileHandle {
 public:
  FileHandle() = default;
  FileHandle(FileHandle&& other) noexcept
      : fd_(std::move(other.fd_)), pending_error_(std::exchange(other.pending_error_, 0)) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    fd_ = std::move(other.fd_);
    pending_error_ = std::exchange(other.pending_error_, 0);
    return *this;
  }

  bool IsOpen() const { return fd_.IsOpen(); }
  int Descriptor() const { return fd_.Get(); }

 private:
  friend int OpenForAppend(FileHandle&, FileAccess, FileSharing, int, const std::string&);
  friend int WriteBytes(FileHandle&, std::string_view);
  friend int CloseFileResult(FileHandle&);
  FileDescriptor fd_;
  int pending_error_ = 0;  // the first failed write since the last close
};

// Opens the existing file positioned at its end; a missing or empty file is created anew
// (empty). An existing file with content that cannot be opened is never replaced. 0 or 7.
// record_size is accepted for the callers' sake; files are always byte files.
int OpenForAppend(FileHandle& file, FileAccess access, FileSharing sharing, int record_size,
                  const std::string& name);

// Writes all bytes at the current position; 0, else the error number (also kept pending).
int WriteBytes(FileHandle& file, std::string_view bytes);

// Closes the file: 0, else the error number of the pending failed write or of the close.
int CloseFileResult(FileHandle& file);

// Deletes the file when it exists and opens for reading: 0, else 8.
int DeleteFileByName(const std::string& name);

// The size in bytes, or -1 for an empty name or a file that does not open for reading.
std::int64_t FileSizeOf(const std::string& name);

// Appends the bytes of text (no line end added), opened read and write, others may not
// write. Throws FileIoError on any failure, the failed open included; a failed append leaves
// the file as it was.
void AppendToFile(const std::string& name, std::string_view text);

}  // namespace remoteccm
