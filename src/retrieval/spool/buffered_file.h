// A file written in large blocks by appending: the spool and the backup file of a pass.
// Whatever was written before a failure reaches the file on every path out (the destructor
// writes the rest of the buffer).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "util/posix_file.h"

namespace remoteccm {

class BufferedAppendFile {
 public:
  BufferedAppendFile() = default;
  ~BufferedAppendFile();
  BufferedAppendFile(const BufferedAppendFile&) = delete;
  BufferedAppendFile& operator=(const BufferedAppendFile&) = delete;

  // Opens for appending, creating the file (mode 0600 when `private_file`, else 0644); with
  // `truncate` an existing file is emptied first. Throws FileError.
  void Open(const std::filesystem::path& path, bool truncate, bool private_file);
  bool IsOpen() const { return fd_.IsOpen(); }
  // The text followed by CR LF. Throws FileError.
  void WriteLine(std::string_view text);
  void Flush();
  // Flushes and makes the content durable.
  void Sync();
  void Close();

 private:
  std::filesystem::path path_;
  FileDescriptor fd_;
  std::string buffer_;
};

}  // namespace remoteccm
