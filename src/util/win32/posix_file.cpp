// The Win32 side of the file layer: the C runtime's descriptors over handles that CreateFileW
// opens with every sharing mode, so that, as on POSIX, a file that is open can be renamed over
// or removed. Locks are LockFileEx ranges, syncs FlushFileBuffers, the replacement a rename of
// the open temporary over the file (MoveFileExW when that is refused).
#include "util/posix_file.h"

#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "util/text_routines.h"
#include "util/win32/win32_error.h"

namespace remoteccm {
namespace {

constexpr std::wstring_view kTempInfix = L".tmp-";
constexpr std::size_t kTempRandomChars = 6;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The rename with flags of Windows 10 1607, which mingw-w64 declares only for later targets.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// open(2) over CreateFileW: a C runtime descriptor, or -1 with errno set.
// extra_access: DELETE for a file renamed through its own handle. Only then: other programs
// open files without FILE_SHARE_DELETE, and a handle with DELETE access would keep them out.
int OpenDescriptor(const std::filesystem::path& path, int flags, DWORD share,
                   DWORD extra_access = 0) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return -1;
  }
  DWORD access = GENERIC_READ;
  if ((flags & O_ACCMODE) == O_WRONLY) access = GENERIC_WRITE;
  if ((flags & O_ACCMODE) == O_RDWR) access = GENERIC_READ | GENERIC_WRITE;
  DWORD creation = OPEN_EXISTING;
  if ((flags & O_CREAT) != 0) {
    creation = (flags & O_EXCL) != 0    ? CREATE_NEW
               : (flags & O_TRUNC) != 0 ? CREATE_ALWAYS
                                        : OPEN_ALWAYS;
  } else if ((flags & O_TRUNC) != 0) {
    creation = TRUNCATE_EXISTING;
  }
  const HANDLE handle = ::CreateFileW(path.c_str(), access | extra_access, share, nullptr, creation,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(::GetLastError());
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                   (flags & (O_APPEND | O_RDONLY | O_WRONLY | O_RDWR)) | O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

bool IsLetterOrDigit(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

// ".NAME.tmp-XXXXXX", as the POSIX side names its temporaries.
bool IsTemporaryName(std::wstring_view name) {
  if (name.size() < 2 + kTempInfix.size() + kTempRandomChars || name.front() != L'.') {
    return false;
  }
  const std::size_t infix = name.size() - kTempInfix.size() - kTempRandomChars;
  return name.substr(infix, kTempInfix.size()) == kTempInfix &&
         std::all_of(name.end() - kTempRandomChars, name.end(), IsLetterOrDigit);
}

bool LockRange(int fd, DWORD flags, std::uint64_t offset, DWORD length) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xffffffffU);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ::LockFileEx(HandleOf(fd), flags, 0, length, 0, &at) != 0;
}

// Renames the open file over target in one step, replacing it; false when refused. POSIX
// semantics first (Windows 10 and later): the target may be open elsewhere, whose holders keep
// the old content, as on POSIX. Older systems refuse to replace a file that is open.
bool RenameOpenFile(int fd, const std::filesystem::path& target) {
  const std::wstring name = target.wstring();
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, name.data(), name.size() * sizeof(wchar_t));
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  if (::SetFileInformationByHandle(HandleOf(fd), kFileRenameInfoEx, info,
                                   static_cast<DWORD>(buffer.size())) != 0) {
    return true;
  }
  info->Flags = 0;
  info->ReplaceIfExists = TRUE;
  return ::SetFileInformationByHandle(HandleOf(fd), FileRenameInfo, info,
                                      static_cast<DWORD>(buffer.size())) != 0;
}

std::int64_t ReadAtMovingPosition(int fd, char* buffer, std::size_t size, std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xffffffffU);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  DWORD got = 0;
  const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size, 1U << 30));
  if (::ReadFile(HandleOf(fd), buffer, part, &got, &at) != 0) return got;
  const DWORD error = ::GetLastError();
  if (error == ERROR_HANDLE_EOF) return 0;
  errno = ErrnoOf(error);
  return -1;
}

}  // namespace

const int kOpenWithoutWaiting = 0;  // Windows has no pipes in the file system to wait on

void ThrowFileError(std::string_view what, const std::filesystem::path& path, int error_number) {
  throw FileError(std::string(what) + " " + path.string() + ": " + std::strerror(error_number),
                  error_number);
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::_close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::_close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

void FileDescriptor::Close(const std::filesystem::path& path) {
  if (fd_ < 0) return;
  if (::_close(Release()) != 0) ThrowFileError("Cannot close", path, errno);
}

FileDescriptor OpenFile(const std::filesystem::path& path, int flags, mode_t /*mode*/) {
  const int fd = OpenDescriptor(path, flags, kShareAll);
  if (fd < 0) ThrowFileError("Cannot open", path, errno);
  return FileDescriptor(fd);
}

FileDescriptor OpenRegularFile(const std::filesystem::path& path, int flags, mode_t /*mode*/) {
  FileDescriptor file(OpenDescriptor(path, flags, kShareAll));
  if (!file.IsOpen() && errno != EISDIR) ThrowFileError("Cannot open", path, errno);
  if (!file.IsOpen() || RegularFileSize(file.Get()) < 0) {
    throw FileError("Cannot open " + path.string() + ": it is not a regular file", EINVAL);
  }
  return file;
}

FileDescriptor TryOpenFile(const std::filesystem::path& path, int flags, int& error,
                           mode_t /*mode*/) {
  FileDescriptor file(OpenDescriptor(path, flags, kShareAll));
  error = file.IsOpen() ? 0 : errno;
  return file;
}

std::int64_t RegularFileSize(int fd) {
  const HANDLE handle = HandleOf(fd);
  LARGE_INTEGER size{};
  if (handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK ||
      ::GetFileSizeEx(handle, &size) == 0) {
    return -1;
  }
  return size.QuadPart;
}

std::int64_t ReadSome(int fd, char* buffer, std::size_t size) {
  const unsigned int part = static_cast<unsigned int>(std::min<std::size_t>(size, 1U << 30));
  return ::_read(fd, buffer, part);
}

// A link is a reparse point, which the attributes show without following it.
const std::string_view kFolderSeparators = "\\/";
const int kOpenNoFollow = 0;

std::optional<RegularFileFacts> RegularFileFactsOf(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) == 0 ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return std::nullopt;
  }
  // FILETIME: 100 ns steps since 1601-01-01.
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
      data.ftLastWriteTime.dwLowDateTime;
  constexpr std::uint64_t kTicksTo1970 = 116444736000000000ULL;
  return RegularFileFacts{(static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                          (static_cast<double>(ticks) - static_cast<double>(kTicksTo1970)) / 1e7};
}

// ReadFile at an offset moves a synchronous handle's position: it is put back, as pread leaves
// it.
std::int64_t ReadAt(int fd, char* buffer, std::size_t size, std::int64_t offset) {
  const std::int64_t position = ::_lseeki64(fd, 0, SEEK_CUR);
  if (position < 0) return -1;
  const std::int64_t got = ReadAtMovingPosition(fd, buffer, size, offset);
  const int saved = errno;
  ::_lseeki64(fd, position, SEEK_SET);
  errno = saved;
  return got;
}

bool TruncateFile(int fd, std::int64_t size) { return ::_chsize_s(fd, size) == 0; }

bool TrySyncFile(int fd) { return ::FlushFileBuffers(HandleOf(fd)) != 0; }

std::string FileIdentityOf(const std::filesystem::path& path) {
  // Backup semantics open a folder too (a CDR file folder is asked for its identity).
  const HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
  ::CloseHandle(handle);
  if (!known) return {};
  const std::uint64_t index =
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(index);
}

std::optional<mode_t> FileMode(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return static_cast<mode_t>((attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0644);
}

bool TryLockWholeFile(int fd) {
  return LockRange(fd, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD);
}

// MoveFileExW without MOVEFILE_REPLACE_EXISTING refuses a name already there.
void RenameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) == 0) {
    ThrowFileError("Cannot rotate " + from.string() + " to", to, ErrnoOf(::GetLastError()));
  }
}

bool SetFileTimes(const std::filesystem::path& path, std::int64_t seconds) {
  const FileDescriptor file(OpenDescriptor(path, O_WRONLY, kShareAll));
  if (!file.IsOpen()) return false;
  // FILETIME: 100 ns steps since 1601-01-01.
  const std::uint64_t ticks =
      static_cast<std::uint64_t>(seconds) * 10000000ULL + 116444736000000000ULL;
  FILETIME time{static_cast<DWORD>(ticks & 0xffffffffU), static_cast<DWORD>(ticks >> 32)};
  return ::SetFileTime(HandleOf(file.Get()), nullptr, &time, &time) != 0;
}

// A name beside path that RemoveStaleTemporaries takes for a temporary of this layer.
static std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::string name = "." + path.filename().string() + ".tmp-";
  for (std::size_t i = 0; i < kTempRandomChars; ++i) name += kLetters[random() % 62];
  return FolderOf(path) / name;
}

int RemoveFile(const std::filesystem::path& path) {
  // A file still open elsewhere (this layer shares deletion with every open, and a lock holds
  // the destination open) is only marked for deletion: its name stays taken until the last
  // handle goes, and a file opened by that name meanwhile is the doomed one. It is renamed
  // aside first, so that the name is free at once, as POSIX unlink leaves it.
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const std::filesystem::path aside = TemporaryBeside(path);
    if (::MoveFileExW(path.c_str(), aside.c_str(), 0) != 0) {
      if (::DeleteFileW(aside.c_str()) != 0) return 0;
      const int error = ErrnoOf(::GetLastError());
      ::MoveFileExW(aside.c_str(), path.c_str(), 0);
      return error;
    }
  }
  return ::DeleteFileW(path.c_str()) != 0 ? 0 : ErrnoOf(::GetLastError());
}

bool MayReplace(const std::filesystem::path& path, mode_t& mode) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    errno = ENOENT;
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    errno = EACCES;
    return false;
  }
  const int fd = OpenDescriptor(path, O_WRONLY, kShareAll);
  if (fd < 0) return false;
  ::_close(fd);
  mode = 0600;
  return true;
}

bool HasWritePermission(int fd) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(HandleOf(fd), &info) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
}

// A folder's read-only mark means nothing to Windows; its rights show when a file is made.
bool MayWriteIn(const std::filesystem::path& folder) {
  std::error_code error;
  return std::filesystem::is_directory(folder, error);
}

void CreatePrivateFolders(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
}

void WriteAll(int fd, std::string_view data, const std::filesystem::path& path) {
  while (!data.empty()) {
    const unsigned int part =
        static_cast<unsigned int>(std::min<std::size_t>(data.size(), 1U << 30));
    const int n = ::_write(fd, data.data(), part);
    if (n < 0) ThrowFileError("Cannot write to", path, errno);
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

bool ReadInBlocks(const std::filesystem::path& path,
                  const std::function<bool(std::string_view)>& take) {
  FileDescriptor file;
  try {
    file = OpenRegularFile(path, O_RDONLY);
  } catch (const FileError&) {
    return false;
  }
  std::vector<char> block(65536);
  for (;;) {
    const std::int64_t n = ReadSome(file.Get(), block.data(), block.size());
    if (n <= 0) return n == 0;
    if (!take(std::string_view(block.data(), static_cast<std::size_t>(n)))) return false;
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
  const FileDescriptor file(OpenDescriptor(path, O_RDONLY, kShareAll));
  if (!file.IsOpen()) return errno == ENOENT ? std::string() : std::strerror(errno);
  if (RegularFileSize(file.Get()) < 0) return "not a regular file";
  char byte = 0;
  if (::_read(file.Get(), &byte, 1) < 0) return std::strerror(errno);
  return {};
}

void SyncFile(int fd, const std::filesystem::path& path) {
  if (::FlushFileBuffers(HandleOf(fd)) == 0) {
    ThrowFileError("Cannot sync", path, ErrnoOf(::GetLastError()));
  }
}

// NTFS journals its names: a rename or removal is durable once the call that made it returns
// (renames are asked to write through). A folder has no buffers to flush.
void SyncFolderOf(const std::filesystem::path& /*path*/) {}

std::int64_t FileSize(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) == 0) return -1;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void ReplaceFileContent(const std::filesystem::path& path, std::string_view content,
                        mode_t /*mode*/) {
  const std::filesystem::path folder = FolderOf(path);
  std::filesystem::path temp;
  FileDescriptor file;
  // Shared for reading only: while it is open, no clean-up can remove it (a removal needs
  // FILE_SHARE_DELETE), so a live temporary is never taken for a stale one.
  for (int tries = 0; !file.IsOpen(); ++tries) {
    temp = TemporaryBeside(path);
    file = FileDescriptor(OpenDescriptor(temp, O_RDWR | O_CREAT | O_EXCL, FILE_SHARE_READ, DELETE));
    if (!file.IsOpen() && (errno != EEXIST || tries > 100)) {
      ThrowFileError("Cannot create a file in", folder, errno);
    }
  }
  try {
    WriteAll(file.Get(), content, temp);
    SyncFile(file.Get(), temp);
    if (!RenameOpenFile(file.Get(), path)) {
      file.Close(temp);
      // ReplaceFileW swaps the names even while others hold the old file open (with
      // FILE_SHARE_DELETE, as this layer opens every file); a missing file is a plain rename.
      if (::ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                         nullptr, nullptr) == 0 &&
          ::MoveFileExW(temp.c_str(), path.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        ThrowFileError("Cannot replace", path, ErrnoOf(::GetLastError()));
      }
    }
    file.Close(path);
  } catch (...) {
    file = FileDescriptor();
    ::DeleteFileW(temp.c_str());
    throw;
  }
}

void RemoveStaleTemporaries(const std::filesystem::path& folder) {
  FolderLock lock(folder);
  std::error_code error;
  std::vector<std::filesystem::path> ours;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (IsTemporaryName(entry.path().filename().wstring())) ours.push_back(entry.path());
  }
  // A live replacement holds its temporary open without sharing its removal: only the stale
  // ones go.
  for (const std::filesystem::path& path : ours) ::DeleteFileW(path.c_str());
}

void OpenMissingStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::_get_osfhandle(fd) != -1) continue;
    const int opened = ::_open("NUL", O_RDWR | O_BINARY);
    if (opened >= 0 && opened != fd) {
      ::_dup2(opened, fd);
      ::_close(opened);
    }
  }
}

// A folder cannot be locked on Windows: a lock file inside it stands for it, the same file
// whatever name the folder is reached by (a drive letter, a share, another spelling) and from
// every session (a scheduled task's and a user's). The system drops the lock when its holder
// dies; the file is never removed.
FolderLock::FolderLock(const std::filesystem::path& folder) {
  FileDescriptor fd(
      OpenDescriptor(folder / L".remoteccm-folder.lock", O_RDWR | O_CREAT, kShareAll));
  if (!fd.IsOpen() || !LockRange(fd.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD)) return;
  fd_ = std::move(fd);
}

FolderLock::~FolderLock() {
  if (!fd_.IsOpen()) return;
  OVERLAPPED at{};
  ::UnlockFileEx(HandleOf(fd_.Get()), 0, MAXDWORD, 0, &at);
}

std::optional<LockFile> LockFile::TryTake(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    throw FileError("Cannot lock " + path.string() + ": it is a link; remove it", EINVAL);
  }
  FileDescriptor fd(OpenDescriptor(path, O_RDWR | O_CREAT, kShareAll));
  if (!fd.IsOpen() && errno == EISDIR) {
    throw FileError("Cannot lock " + path.string() + ": it is not a regular file", EINVAL);
  }
  if (!fd.IsOpen()) ThrowLockFileError(path, errno);
  if (TryLockWholeFile(fd.Get())) return LockFile(std::move(fd));
  if (::GetLastError() == ERROR_LOCK_VIOLATION) return std::nullopt;
  ThrowFileError("Cannot lock", path, ErrnoOf(::GetLastError()));
}

bool LockFile::AlsoLockIdentityOf(const std::filesystem::path& path) {
  // Read only: a handle that may write would keep out every reader that denies writers.
  FileDescriptor fd(OpenDescriptor(path, O_RDONLY, kShareAll));
  if (!fd.IsOpen() || RegularFileSize(fd.Get()) < 0) return true;
  // Far beyond any end of file, where a lock keeps no reader or writer of the file out.
  constexpr std::uint64_t kFarOffset = 0x7ffffffffffffffeULL;
  if (LockRange(fd.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, kFarOffset, 1)) {
    identity_ = std::move(fd);
    return true;
  }
  return ::GetLastError() != ERROR_LOCK_VIOLATION;
}

}  // namespace remoteccm
