#include "util/folder_handle.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace remoteccm {
namespace {

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kRegular;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  if (S_ISLNK(mode)) return EntryKind::kLink;
  if (S_ISFIFO(mode)) return EntryKind::kPipe;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return EntryKind::kDevice;
  if (S_ISSOCK(mode)) return EntryKind::kSocket;
  return EntryKind::kOther;
}

double Seconds(const struct timespec& at) {
  return static_cast<double>(at.tv_sec) + static_cast<double>(at.tv_nsec) / 1e9;
}

EntryFacts FactsOf(const struct stat& st) {
  EntryFacts facts;
  facts.kind = KindOf(st.st_mode);
  facts.size = static_cast<std::int64_t>(st.st_size);
  facts.modified = Seconds(st.st_mtim);
  facts.changed = Seconds(st.st_ctim);
  facts.links = static_cast<std::uint64_t>(st.st_nlink);
  facts.identity = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  return facts;
}

// A name inside the folder: one entry, never a path through another folder.
bool PlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace

FolderHandle::~FolderHandle() {
  if (fd_ >= 0) ::close(fd_);
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept
    : path_(std::move(other.path_)), fd_(other.fd_) {
  other.fd_ = -1;
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    path_ = std::move(other.path_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FolderHandle FolderHandle::Open(const std::filesystem::path& path, int& error) {
  FolderHandle folder;
  folder.fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  error = folder.fd_ >= 0 ? 0 : errno;
  folder.path_ = path;
  return folder;
}

FolderHandle FolderHandle::OpenOwn(const std::filesystem::path& path, std::string& why) {
  FolderHandle folder;
  folder.path_ = path;
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    why = "it cannot be made: " + std::string(std::strerror(errno));
    return folder;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    struct stat st {};
    const bool stands = ::lstat(path.c_str(), &st) == 0;
    why = stands && S_ISLNK(st.st_mode) ? "a symbolic link stands in its place"
          : stands && !S_ISDIR(st.st_mode)
              ? std::string(EntryKindText(KindOf(st.st_mode))) + " stands in its place"
              : std::string(std::strerror(errno));
    return folder;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
    ::close(fd);
    why = "it belongs to another user";
    return folder;
  }
  if ((st.st_mode & 022) != 0) {
    ::close(fd);
    why = "others may write in it (remove their write permission)";
    return folder;
  }
  folder.fd_ = fd;
  return folder;
}

bool FolderHandle::IsOpen() const { return fd_ >= 0; }

std::optional<std::vector<std::string>> FolderHandle::Names(int& error) const {
  // A description of its own: reading through a copy of the descriptor would move the offset
  // that the next listing starts from.
  const int fd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
  if (dir == nullptr) {
    error = errno;
    if (fd >= 0) ::close(fd);
    return std::nullopt;
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  error = errno;
  ::closedir(dir);
  if (error != 0) return std::nullopt;
  return names;
}

std::optional<EntryFacts> FolderHandle::Look(std::string_view name, int& error) const {
  if (!PlainName(name)) {
    error = EINVAL;
    return std::nullopt;
  }
  struct stat st {};
  if (::fstatat(fd_, std::string(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    error = errno;
    return std::nullopt;
  }
  error = 0;
  return FactsOf(st);
}

FileDescriptor FolderHandle::OpenToRead(std::string_view name, EntryFacts& facts,
                                        int& error) const {
  const std::optional<EntryFacts> looked = Look(name, error);
  if (!looked) return {};
  facts = *looked;
  // Only what is a regular file now is opened: opening a device may act on it.
  if (facts.kind != EntryKind::kRegular) {
    error = EINVAL;
    return {};
  }
  FileDescriptor file(::openat(fd_, std::string(name).c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.IsOpen()) {
    error = errno;
    return {};
  }
  struct stat st {};
  if (::fstat(file.Get(), &st) != 0) {
    error = errno;
    return {};
  }
  facts = FactsOf(st);
  if (facts.kind != EntryKind::kRegular) {
    error = EINVAL;
    return {};
  }
  error = 0;
  return file;
}

FileDescriptor FolderHandle::CreateNew(std::string_view name, int& error) const {
  if (!PlainName(name)) {
    error = EINVAL;
    return {};
  }
  FileDescriptor file(::openat(fd_, std::string(name).c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  error = file.IsOpen() ? 0 : errno;
  return file;
}

int FolderHandle::Rename(std::string_view name, const FolderHandle& to, std::string_view to_name,
                         bool replace) const {
  if (!PlainName(name) || !PlainName(to_name)) return EINVAL;
  const std::string from(name);
  const std::string target(to_name);
  if (replace) {
    return ::renameat(fd_, from.c_str(), to.fd_, target.c_str()) == 0 ? 0 : errno;
  }
  if (::renameat2(fd_, from.c_str(), to.fd_, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: a second name, then the first one goes.
  if (::linkat(fd_, from.c_str(), to.fd_, target.c_str(), 0) != 0) return errno;
  return ::unlinkat(fd_, from.c_str(), 0) == 0 ? 0 : errno;
}

int FolderHandle::Remove(std::string_view name) const {
  if (!PlainName(name)) return EINVAL;
  return ::unlinkat(fd_, std::string(name).c_str(), 0) == 0 ? 0 : errno;
}

void FolderHandle::Sync() const {
  if (fd_ >= 0) ::fsync(fd_);
}

}  // namespace remoteccm
