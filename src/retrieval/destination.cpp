#include "retrieval/destination.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "util/text_routines.h"

namespace remoteccm {
namespace {

std::filesystem::path WithSuffix(const std::filesystem::path& path, std::string_view suffix) {
  return path.string() + std::string(suffix);
}

}  // namespace

std::optional<DestinationFiles> ResolveDestination(std::string_view configured,
                                                   std::string& error) {
  const std::string text(configured);
  if (TrimView(text).empty()) {
    error = "No destination file is set.";
    return std::nullopt;
  }
  if (text.find('\0') != std::string::npos) {
    error = "The destination file name holds a NUL byte.";
    return std::nullopt;
  }
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(text, ec);
  if (ec) {
    error = "The destination file " + text + " cannot be found: " + ec.message();
    return std::nullopt;
  }
  struct stat link {};
  if (::lstat(path.c_str(), &link) == 0) {
    path = std::filesystem::canonical(path, ec);
    if (ec) {
      error = "The destination file " + text + " is a link to nothing.";
      return std::nullopt;
    }
  } else {
    const std::filesystem::path folder = std::filesystem::canonical(path.parent_path(), ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
      error = "The folder of the destination file " + text + " does not exist.";
      return std::nullopt;
    }
    path = folder / path.filename();
  }
  if (path.filename().empty()) {
    error = "The destination " + text + " names a folder, not a file.";
    return std::nullopt;
  }
  DestinationFiles files;
  files.destination = path;
  files.spool = WithSuffix(path, ".spool");
  files.keys = WithSuffix(path, ".spool-keys");
  files.note = WithSuffix(path, ".spool-ready");
  files.lock = WithSuffix(path, ".lock");
  files.backup = path;
  files.backup.replace_extension(".BAK");
  return files;
}

std::optional<LockFile> TakeDestinationLock(const DestinationFiles& files) {
  return LockFile::TryTake(files.lock);
}

std::string CheckAppendable(const std::filesystem::path& destination) {
  // Non-blocking, so that a FIFO without a reader is refused instead of waited for.
  const int fd =
      ::open(destination.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    return "The destination file " + destination.string() +
           " cannot be written: " + std::strerror(errno);
  }
  FileDescriptor file(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    return "The destination " + destination.string() + " is not a regular file.";
  }
  return {};
}

}  // namespace remoteccm
