// A file written in large blocks by appending, with errors carrying the system's message: the
// spool and the backup file of a pass.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace remoteccm {

// A file operation that failed, with the path and the system's message.
class FileWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void ThrowFileError(const std::string& what, const std::filesystem::path& path,
                                 int error);

class BufferedAppendFile {
 public:
  BufferedAppendFile() = default;
  ~BufferedAppendFile();
  BufferedAppendFile(const BufferedAppendFile&) = delete;
  BufferedAppendFile& operator=(const BufferedAppendFile&) = delete;

  // Opens for appending, creating the file (mode 0600 when `private_file`, else 0644); with
  // `truncate` an existing file is emptied first.
  void Open(const std::filesystem::path& path, bool truncate, bool private_file);
  bool IsOpen() const { return fd_ >= 0; }
  // The text followed by CR LF.
  void WriteLine(std::string_view text);
  void Flush();
  // Flushes and makes the content durable.
  void Sync();
  void Close();

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  std::string buffer_;
};

// Writes all bytes, retrying short writes; throws FileWriteError.
void WriteAllBytes(int fd, const char* data, std::size_t size, const std::filesystem::path& path);

// Syncs the folder holding path, so that a created, renamed or removed name is durable.
void SyncFolderOf(const std::filesystem::path& path);

}  // namespace remoteccm
