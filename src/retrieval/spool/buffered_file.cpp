#include "retrieval/spool/buffered_file.h"

#include <fcntl.h>

namespace remoteccm {
namespace {
constexpr std::size_t kBlockSize = 1 << 20;
}

BufferedAppendFile::~BufferedAppendFile() {
  if (!fd_.IsOpen() || buffer_.empty()) return;
  try {
    WriteAll(fd_.Get(), buffer_, path_);
  } catch (const FileError&) {
    // Whoever gave up on this file has reported why; what could be kept is kept.
  }
}

void BufferedAppendFile::Open(const std::filesystem::path& path, bool truncate, bool private_file) {
  Close();
  path_ = path;
  const int flags = O_WRONLY | O_CREAT | O_APPEND | (truncate ? O_TRUNC : 0);
  fd_ = OpenRegularFile(path, flags, private_file ? 0600 : 0644);
  buffer_.clear();
  buffer_.reserve(kBlockSize);
}

void BufferedAppendFile::WriteLine(std::string_view text) {
  buffer_.append(text).append("\r\n");
  if (buffer_.size() >= kBlockSize) Flush();
}

void BufferedAppendFile::Flush() {
  if (!fd_.IsOpen() || buffer_.empty()) return;
  // The buffer is emptied even when the write fails: a failed file is not written again.
  std::string pending;
  pending.swap(buffer_);
  buffer_.reserve(kBlockSize);
  WriteAll(fd_.Get(), pending, path_);
}

void BufferedAppendFile::Sync() {
  Flush();
  if (fd_.IsOpen()) SyncFile(fd_.Get(), path_);
}

void BufferedAppendFile::Close() {
  if (!fd_.IsOpen()) return;
  std::string pending;
  pending.swap(buffer_);
  FileDescriptor fd = std::move(fd_);
  if (!pending.empty()) WriteAll(fd.Get(), pending, path_);
  fd.Close(path_);
}

}  // namespace remoteccm
