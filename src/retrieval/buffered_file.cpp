#include "retrieval/buffered_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace remoteccm {
namespace {
constexpr std::size_t kBlockSize = 1 << 20;
}

void ThrowFileError(const std::string& what, const std::filesystem::path& path, int error) {
  throw FileWriteError(what + " " + path.string() + ": " + std::strerror(error));
}

void WriteAllBytes(int fd, const char* data, std::size_t size, const std::filesystem::path& path) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError("Cannot write to", path, errno);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void SyncFolderOf(const std::filesystem::path& path) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

BufferedAppendFile::~BufferedAppendFile() {
  if (fd_ >= 0) ::close(fd_);
}

void BufferedAppendFile::Open(const std::filesystem::path& path, bool truncate, bool private_file) {
  Close();
  path_ = path;
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0);
  fd_ = ::open(path.c_str(), flags, private_file ? 0600 : 0644);
  if (fd_ < 0) ThrowFileError("Cannot open", path, errno);
  buffer_.clear();
  buffer_.reserve(kBlockSize);
}

void BufferedAppendFile::WriteLine(std::string_view text) {
  buffer_.append(text).append("\r\n");
  if (buffer_.size() >= kBlockSize) Flush();
}

void BufferedAppendFile::Flush() {
  if (fd_ < 0 || buffer_.empty()) return;
  // The buffer is emptied even when the write fails: a failed file is not written again.
  std::string pending;
  pending.swap(buffer_);
  buffer_.reserve(kBlockSize);
  WriteAllBytes(fd_, pending.data(), pending.size(), path_);
}

void BufferedAppendFile::Sync() {
  Flush();
  if (fd_ >= 0 && ::fsync(fd_) != 0) ThrowFileError("Cannot sync", path_, errno);
}

void BufferedAppendFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  try {
    if (!buffer_.empty()) WriteAllBytes(fd, buffer_.data(), buffer_.size(), path_);
  } catch (...) {
    buffer_.clear();
    ::close(fd);
    throw;
  }
  buffer_.clear();
  if (::close(fd) != 0) ThrowFileError("Cannot close", path_, errno);
}

}  // namespace remoteccm
