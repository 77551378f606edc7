#include "util/folder_handle.h"

#include <cerrno>
#include <chrono>
#include <string>

namespace remoteccm {

std::string_view EntryKindText(EntryKind kind) {
  switch (kind) {
    case EntryKind::kRegular:
      return "a file";
    case EntryKind::kFolder:
      return "a folder";
    case EntryKind::kLink:
      return "a symbolic link";
    case EntryKind::kPipe:
      return "a named pipe (FIFO)";
    case EntryKind::kDevice:
      return "a device";
    case EntryKind::kSocket:
      return "a socket";
    case EntryKind::kOther:
      break;
  }
  return "something that is no file";
}

int CopyIntoFolder(int from, const FolderHandle& to, std::string_view name) {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::string temporary;
  FileDescriptor out;
  int error = 0;
  for (int attempt = 0; !out.IsOpen(); ++attempt) {
    temporary = "." + std::string(name) + ".copy-" + std::to_string(stamp + attempt);
    out = to.CreateNew(temporary, error);
    if (!out.IsOpen() && (error != EEXIST || attempt > 100)) return error;
  }
  const auto fail = [&](int why) {
    out = FileDescriptor();
    to.Remove(temporary);
    return why;
  };
  std::string block(std::size_t{64} * 1024, '\0');
  for (std::int64_t offset = 0;;) {
    const std::int64_t got = ReadAt(from, block.data(), block.size(), offset);
    if (got < 0) return fail(errno);
    if (got == 0) break;
    try {
      WriteAll(out.Get(), std::string_view(block.data(), static_cast<std::size_t>(got)),
               to.path() / temporary);
    } catch (const FileError& e) {
      return fail(e.ErrorNumber());
    }
    offset += got;
  }
  if (!TrySyncFile(out.Get())) return fail(errno);
  try {
    out.Close(to.path() / temporary);
  } catch (const FileError& e) {
    return fail(e.ErrorNumber());
  }
  if (const int renamed = to.Rename(temporary, to, name, false); renamed != 0) {
    to.Remove(temporary);
    return renamed;
  }
  to.Sync();
  return 0;
}

}  // namespace remoteccm
