// The Win32 side of the folder handle: the folder is held open without sharing its deletion
// (nobody renames or removes it meanwhile), and each entry is reached by its name in it with
// FILE_FLAG_OPEN_REPARSE_POINT, so that a link (a reparse point) is looked at as itself and
// refused, never followed.
#include "util/folder_handle.h"

#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "util/win32/win32_error.h"

namespace remoteccm {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

double UnixSeconds(std::int64_t ticks) {
  // FILETIME and the basic information's times: 100 ns steps since 1601-01-01.
  constexpr std::int64_t kTicksTo1970 = 116444736000000000LL;
  return static_cast<double>(ticks - kTicksTo1970) / 1e7;
}

bool PlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("\\/:") == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// The facts of the open handle; false when the system gives none.
bool FactsOf(HANDLE handle, EntryFacts& facts) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  if (::GetFileInformationByHandle(handle, &info) == 0 ||
      ::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0) {
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    facts.kind = EntryKind::kLink;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    facts.kind = EntryKind::kFolder;
  } else if (::GetFileType(handle) == FILE_TYPE_DISK) {
    facts.kind = EntryKind::kRegular;
  } else {
    facts.kind = EntryKind::kOther;
  }
  facts.size = (static_cast<std::int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  facts.modified = UnixSeconds(basic.LastWriteTime.QuadPart);
  facts.changed = UnixSeconds(basic.ChangeTime.QuadPart);
  facts.links = info.nNumberOfLinks;
  const std::uint64_t index =
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  facts.identity = std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(index);
  return true;
}

HANDLE OpenEntry(const std::filesystem::path& path, DWORD access, DWORD creation) {
  return ::CreateFileW(path.c_str(), access, kShareAll, nullptr, creation,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

FolderHandle::~FolderHandle() {
  if (handle_ != nullptr) ::CloseHandle(handle_);
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept
    : path_(std::move(other.path_)), handle_(other.handle_) {
  other.handle_ = nullptr;
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::CloseHandle(handle_);
    path_ = std::move(other.path_);
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

FolderHandle FolderHandle::Open(const std::filesystem::path& path, int& error) {
  FolderHandle folder;
  folder.path_ = path;
  const HANDLE handle =
      ::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = ErrnoOf(::GetLastError());
    return folder;
  }
  EntryFacts facts;
  if (!FactsOf(handle, facts) || facts.kind != EntryKind::kFolder) {
    ::CloseHandle(handle);
    error = ENOTDIR;
    return folder;
  }
  folder.handle_ = handle;
  error = 0;
  return folder;
}

FolderHandle FolderHandle::OpenOwn(const std::filesystem::path& path, std::string& why) {
  if (::CreateDirectoryW(path.c_str(), nullptr) == 0 && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    why = "it cannot be made: " + std::string(std::strerror(ErrnoOf(::GetLastError())));
    return {};
  }
  const HANDLE look = OpenEntry(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING);
  EntryFacts facts;
  const bool known = look != INVALID_HANDLE_VALUE && FactsOf(look, facts);
  if (look != INVALID_HANDLE_VALUE) ::CloseHandle(look);
  if (known && facts.kind != EntryKind::kFolder) {
    why = std::string(EntryKindText(facts.kind)) + " stands in its place";
    return {};
  }
  int error = 0;
  FolderHandle folder = Open(path, error);
  if (!folder.IsOpen()) why = std::strerror(error);
  return folder;
}

bool FolderHandle::IsOpen() const { return handle_ != nullptr; }

std::optional<std::vector<std::string>> FolderHandle::Names(int& error) const {
  WIN32_FIND_DATAW found{};
  const HANDLE find = ::FindFirstFileW((path_ / L"*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) {
    error = ErrnoOf(::GetLastError());
    return std::nullopt;
  }
  std::vector<std::string> names;
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") {
      names.push_back(std::filesystem::path(std::wstring(name)).string());
    }
  } while (::FindNextFileW(find, &found) != 0);
  const DWORD last = ::GetLastError();
  ::FindClose(find);
  if (last != ERROR_NO_MORE_FILES) {
    error = ErrnoOf(last);
    return std::nullopt;
  }
  error = 0;
  return names;
}

std::optional<EntryFacts> FolderHandle::Look(std::string_view name, int& error) const {
  if (!PlainName(name)) {
    error = EINVAL;
    return std::nullopt;
  }
  // Attributes only: a writer that shares nothing does not keep this look out.
  const HANDLE handle = OpenEntry(path_ / std::string(name), FILE_READ_ATTRIBUTES, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) {
    error = ErrnoOf(::GetLastError());
    return std::nullopt;
  }
  EntryFacts facts;
  const bool known = FactsOf(handle, facts);
  ::CloseHandle(handle);
  if (!known) {
    error = EIO;
    return std::nullopt;
  }
  error = 0;
  return facts;
}

FileDescriptor FolderHandle::OpenToRead(std::string_view name, EntryFacts& facts,
                                        int& error) const {
  const std::optional<EntryFacts> looked = Look(name, error);
  if (!looked) return {};
  facts = *looked;
  if (facts.kind != EntryKind::kRegular) {
    error = EINVAL;
    return {};
  }
  const HANDLE handle = OpenEntry(path_ / std::string(name), GENERIC_READ, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) {
    error = ErrnoOf(::GetLastError());
    return {};
  }
  if (!FactsOf(handle, facts) || facts.kind != EntryKind::kRegular) {
    ::CloseHandle(handle);
    error = EINVAL;
    return {};
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), O_RDONLY | O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    error = EMFILE;
    return {};
  }
  error = 0;
  return FileDescriptor(fd);
}

FileDescriptor FolderHandle::CreateNew(std::string_view name, int& error) const {
  if (!PlainName(name)) {
    error = EINVAL;
    return {};
  }
  const HANDLE handle =
      ::CreateFileW((path_ / std::string(name)).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = ErrnoOf(::GetLastError());
    return {};
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), O_RDWR | O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    error = EMFILE;
    return {};
  }
  error = 0;
  return FileDescriptor(fd);
}

int FolderHandle::Rename(std::string_view name, const FolderHandle& to, std::string_view to_name,
                         bool replace) const {
  if (!PlainName(name) || !PlainName(to_name)) return EINVAL;
  const std::filesystem::path from = path_ / std::string(name);
  const std::filesystem::path target = to.path_ / std::string(to_name);
  // MoveFileExW moves a reparse point itself, and without MOVEFILE_COPY_ALLOWED never copies.
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  return ::MoveFileExW(from.c_str(), target.c_str(), flags) != 0 ? 0 : ErrnoOf(::GetLastError());
}

int FolderHandle::Remove(std::string_view name) const {
  if (!PlainName(name)) return EINVAL;
  return RemoveFile(path_ / std::string(name));
}

void FolderHandle::Sync() const {}

}  // namespace remoteccm
