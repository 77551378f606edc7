#include "retrieval/spool/destination.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "util/text_routines.h"

namespace remoteccm {
namespace {

// The files beside a destination: its spool, the spool's keys and ready note, and its lock.
constexpr std::string_view kWorkingSuffixes[] = {".spool", ".spool-keys", ".spool-ready", ".lock"};

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
  std::error_code link_error;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, link_error))) {
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
  // Another destination's working file would be taken for a spool left by a killed run, and
  // discarded, by the runs writing to that destination.
  const std::string name = path.filename().string();
  for (const std::string_view suffix : kWorkingSuffixes) {
    if (name.ends_with(suffix)) {
      error = "The destination file " + text + " ends in " + std::string(suffix) +
              ", which the files beside a destination end in: choose another name.";
      return std::nullopt;
    }
  }
  DestinationFiles files;
  files.destination = path;
  files.spool = WithSuffix(path, kWorkingSuffixes[0]);
  files.keys = WithSuffix(path, kWorkingSuffixes[1]);
  files.note = WithSuffix(path, kWorkingSuffixes[2]);
  files.lock = WithSuffix(path, kWorkingSuffixes[3]);
  files.backup = path;
  files.backup.replace_extension(".BAK");
  return files;
}

std::optional<LockFile> TakeDestinationLock(const DestinationFiles& files) {
  std::optional<LockFile> lock = LockFile::TryTake(files.lock);
  // Two hard links of one file are two names with two lock files: the file's own lock is
  // shared by both.
  if (lock && !lock->AlsoLockIdentityOf(files.destination)) return std::nullopt;
  return lock;
}

std::string CheckAppendable(const std::filesystem::path& destination) {
  // Non-blocking, so that a FIFO without a reader is refused instead of waited for.
  int error = 0;
  const FileDescriptor file =
      TryOpenFile(destination, O_WRONLY | O_APPEND | O_CREAT | kOpenWithoutWaiting, error, 0644);
  if (!file.IsOpen()) {
    return "The destination file " + destination.string() +
           " cannot be written: " + std::strerror(error);
  }
  if (RegularFileSize(file.Get()) < 0) {
    return "The destination " + destination.string() + " is not a regular file.";
  }
  return {};
}

}  // namespace remoteccm
