#include "util/posix_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

#include "util/file_steps.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::string_view kTempInfix = ".tmp-";
constexpr std::size_t kTempRandomChars = 6;  // mkstemp's XXXXXX

bool IsLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// ".NAME.tmp-XXXXXX": hidden, and recognisable as ours by RemoveStaleTemporaries.
bool IsTemporaryName(std::string_view name) {
  if (name.size() < 2 + kTempInfix.size() + kTempRandomChars || name.front() != '.') {
    return false;
  }
  const std::size_t infix = name.size() - kTempInfix.size() - kTempRandomChars;
  return name.substr(infix, kTempInfix.size()) == kTempInfix &&
         std::all_of(name.end() - kTempRandomChars, name.end(), IsLetterOrDigit);
}

// ".NAME.XXXXXX" beside a profile (*.CCM) or INI file (*.ini) NAME of the folder, as earlier
// versions of the INI writer named their temporaries: mkstemp's six letters and digits after
// the file's own name. Six lower-case letters are taken for a word (".SITE1.CCM.backup") and
// left alone.
bool IsOldTemporaryName(const std::filesystem::path& folder, std::string_view name) {
  constexpr std::size_t kExtension = 4;  // ".CCM", ".ini"
  if (name.size() < 2 + kExtension + 1 + kTempRandomChars || name.front() != '.') return false;
  const std::string_view random = name.substr(name.size() - kTempRandomChars);
  const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
  if (!std::all_of(random.begin(), random.end(), IsLetterOrDigit) ||
      std::all_of(random.begin(), random.end(), lower) ||
      name[name.size() - kTempRandomChars - 1] != '.') {
    return false;
  }
  const std::string_view own = name.substr(1, name.size() - 2 - kTempRandomChars);
  const std::string_view extension = own.substr(own.size() - kExtension);
  struct stat st {};
  return (SameText(extension, ".CCM") || SameText(extension, ".ini")) &&
         ::lstat((folder / own).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void LockExclusively(int fd) {
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

}  // namespace

void ThrowFileError(std::string_view what, const std::filesystem::path& path, int error_number) {
  throw FileError(std::string(what) + " " + path.string() + ": " + std::strerror(error_number),
                  error_number);
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

void FileDescriptor::Close(const std::filesystem::path& path) {
  if (fd_ < 0) return;
  // The descriptor is gone whatever close says; EINTR must not lead to a second close.
  if (::close(Release()) != 0 && errno != EINTR) ThrowFileError("Cannot close", path, errno);
}

FileDescriptor OpenFile(const std::filesystem::path& path, int flags, mode_t mode) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) ThrowFileError("Cannot open", path, errno);
  return FileDescriptor(fd);
}

FileDescriptor OpenRegularFile(const std::filesystem::path& path, int flags, mode_t mode) {
  // Non-blocking: opening a pipe waits for its other end, which may never come. A regular
  // file ignores the flag.
  FileDescriptor file(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode));
  // ENXIO: a pipe without a reader, or a device without its driver.
  if (!file.IsOpen() && errno != ENXIO) ThrowFileError("Cannot open", path, errno);
  struct stat st {};
  if (!file.IsOpen() || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw FileError("Cannot open " + path.string() + ": it is not a regular file", EINVAL);
  }
  return file;
}

void WriteAll(int fd, std::string_view data, const std::filesystem::path& path) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError("Cannot write to", path, errno);
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  TellFileStep(FileStep::kWrite, path);
}

bool ReadInBlocks(const std::filesystem::path& path,
                  const std::function<bool(std::string_view)>& take) {
  FileDescriptor file;
  try {
    file = OpenRegularFile(path, O_RDONLY);
  } catch (const FileError&) {
    return false;
  }
  char block[65536];
  for (;;) {
    const ssize_t n = ::read(file.Get(), block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    if (!take(std::string_view(block, static_cast<std::size_t>(n)))) return false;
  }
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  std::string content;
  if (!ReadInBlocks(path, [&content](std::string_view block) {
        content.append(block);
        return true;
      })) {
    return std::nullopt;
  }
  return content;
}

std::string FileReadError(const std::filesystem::path& path) {
  // Non-blocking: a pipe in its place is not waited on.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.IsOpen()) return errno == ENOENT ? std::string() : std::strerror(errno);
  struct stat st {};
  if (::fstat(file.Get(), &st) != 0) return std::strerror(errno);
  if (!S_ISREG(st.st_mode))
    return S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
  char byte = 0;
  if (::read(file.Get(), &byte, 1) < 0) return std::strerror(errno);
  return {};
}

const int kOpenWithoutWaiting = O_NONBLOCK;

FileDescriptor TryOpenFile(const std::filesystem::path& path, int flags, int& error, mode_t mode) {
  FileDescriptor file(::open(path.c_str(), flags | O_CLOEXEC, mode));
  error = file.IsOpen() ? 0 : errno;
  return file;
}

std::int64_t RegularFileSize(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t ReadSome(int fd, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

const std::string_view kFolderSeparators = "/";
const int kOpenNoFollow = O_NOFOLLOW;

std::optional<RegularFileFacts> RegularFileFactsOf(const std::filesystem::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return RegularFileFacts{
      static_cast<std::int64_t>(info.st_size),
      static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9};
}

std::int64_t ReadAt(int fd, char* buffer, std::size_t size, std::int64_t offset) {
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool TruncateFile(int fd, std::int64_t size) {
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

bool TrySyncFile(int fd) { return ::fsync(fd) == 0; }

std::string FileIdentityOf(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::optional<mode_t> FileMode(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<mode_t>(st.st_mode & 07777);
}

bool TryLockWholeFile(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

// link + unlink: rename(2) would replace a file already there.
void RenameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::link(from.c_str(), to.c_str()) != 0) {
    ThrowFileError("Cannot rotate " + from.string() + " to", to, errno);
  }
  if (::unlink(from.c_str()) != 0) ThrowFileError("Cannot remove", from, errno);
}

bool SetFileTimes(const std::filesystem::path& path, std::int64_t seconds) {
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0},
                                    {static_cast<time_t>(seconds), 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int RemoveFile(const std::filesystem::path& path) {
  if (::unlink(path.c_str()) != 0) return errno;
  TellFileStep(FileStep::kRemove, path);
  return 0;
}

bool MayReplace(const std::filesystem::path& path, mode_t& mode) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || ::access(path.c_str(), W_OK) != 0) return false;
  // A file without any write permission is read-only for everyone, the superuser included.
  if ((info.st_mode & 0222) == 0) {
    errno = EACCES;
    return false;
  }
  mode = info.st_mode & 07777;
  return true;
}

bool HasWritePermission(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && (info.st_mode & 0222) != 0;
}

bool MayWriteIn(const std::filesystem::path& folder) { return ::access(folder.c_str(), W_OK) == 0; }

void CreatePrivateFolders(const std::filesystem::path& folder) {
  std::error_code error;
  if (folder.empty() || std::filesystem::is_directory(folder, error)) return;
  CreatePrivateFolders(folder.parent_path() == folder ? std::filesystem::path()
                                                      : folder.parent_path());
  ::mkdir(folder.c_str(), 0700);
}

void SyncFile(int fd, const std::filesystem::path& path) {
  if (::fsync(fd) != 0) ThrowFileError("Cannot sync", path, errno);
  TellFileStep(FileStep::kSync, path);
}

void SyncFolderOf(const std::filesystem::path& path) {
  const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
  TellFileStep(FileStep::kSyncFolder, FolderOf(path));
}

std::int64_t FileSize(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

void ReplaceFileContent(const std::filesystem::path& path, std::string_view content, mode_t mode) {
  const std::filesystem::path folder = FolderOf(path);
  const std::string pattern =
      (folder / ("." + path.filename().string() + std::string(kTempInfix) + "XXXXXX")).string();
  std::string temp;
  FileDescriptor file;
  // The temporary is locked from its creation until it is renamed, so that a clean-up never
  // takes it for one a killed replacement left. One the clean-up removed before it was locked
  // is made again.
  for (;;) {
    temp = pattern;
    file = FileDescriptor(::mkostemp(temp.data(), O_CLOEXEC));
    if (!file.IsOpen()) ThrowFileError("Cannot create a file in", folder, errno);
    LockExclusively(file.Get());
    struct stat st {};
    if (::fstat(file.Get(), &st) == 0 && st.st_nlink > 0) break;
  }
  try {
    // A second descriptor keeps the lock after the checked close, until the rename is done.
    const FileDescriptor lock(::dup(file.Get()));
    if (!lock.IsOpen()) ThrowFileError("Cannot open", temp, errno);
    if (::fchmod(file.Get(), mode) != 0) ThrowFileError("Cannot set the mode of", temp, errno);
    WriteAll(file.Get(), content, temp);
    SyncFile(file.Get(), temp);
    file.Close(temp);
    if (::rename(temp.c_str(), path.c_str()) != 0) ThrowFileError("Cannot replace", path, errno);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  TellFileStep(FileStep::kReplace, path);
  SyncFolderOf(path);
}

void RemoveStaleTemporaries(const std::filesystem::path& folder) {
  FolderLock lock(folder);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> ours;
  std::vector<std::string> old;
  while (const dirent* entry = ::readdir(dir)) {
    if (IsTemporaryName(entry->d_name)) ours.emplace_back(entry->d_name);
    if (IsOldTemporaryName(folder, entry->d_name)) old.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  bool removed = false;
  // Earlier versions made theirs under the folder lock, which is held here.
  for (const std::string& name : old) removed |= ::unlink((folder / name).c_str()) == 0;
  // A temporary whose lock can be taken has no living writer: it is stale, unless it was
  // renamed into place meanwhile (then its name is gone or names another file).
  for (const std::string& name : ours) {
    const std::filesystem::path path = folder / name;
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat held {};
    struct stat named {};
    if (!fd.IsOpen() || ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 ||
        ::fstat(fd.Get(), &held) != 0 || !S_ISREG(held.st_mode) ||
        ::lstat(path.c_str(), &named) != 0 || named.st_ino != held.st_ino ||
        named.st_dev != held.st_dev) {
      continue;
    }
    removed |= ::unlink(path.c_str()) == 0;
  }
  if (removed) SyncFolderOf(folder / ".");
}

void OpenMissingStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open returns the lowest free descriptor: the one that is missing.
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

FolderLock::FolderLock(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fd_ = FileDescriptor(fd);
  LockExclusively(fd);
}

FolderLock::~FolderLock() = default;

std::optional<LockFile> LockFile::TryTake(const std::filesystem::path& path) {
  FileDescriptor fd(
      ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
  // A lock file another user made, such as the destination's reader, who takes the same lock
  // before it takes the file, may be readable only: a lock needs no more.
  if (!fd.IsOpen() && errno == EACCES) {
    fd = FileDescriptor(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.IsOpen()) errno = EACCES;  // the reason is the first open's
  }
  if (!fd.IsOpen() && errno == ELOOP) {
    throw FileError("Cannot lock " + path.string() + ": it is a link; remove it", ELOOP);
  }
  if (!fd.IsOpen()) ThrowLockFileError(path, errno);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw FileError("Cannot lock " + path.string() + ": it is not a regular file", EINVAL);
  }
  for (;;) {
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) return LockFile(std::move(fd));
    if (errno == EWOULDBLOCK) return std::nullopt;
    if (errno != EINTR) ThrowFileError("Cannot lock", path, errno);
  }
}

bool LockFile::AlsoLockIdentityOf(const std::filesystem::path& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  struct flock range {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = std::numeric_limits<off_t>::max() - 1;
  range.l_len = 1;
  for (;;) {
    if (::fcntl(fd.Get(), F_OFD_SETLK, &range) == 0) {
      identity_ = std::move(fd);
      return true;
    }
    if (errno == EINTR) continue;
    // Another holder; a file system without such locks has no hard links to share them.
    return errno != EAGAIN && errno != EACCES;
  }
}

}  // namespace remoteccm
