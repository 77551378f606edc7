#include "util/file_routines.h"

#include "util/posix_file.h"

namespace remoteccm {

int DeleteFileByName(const std::string& name) {
  if (name.empty()) return kFileDeleteFailed;
  int error = 0;
  if (!TryOpenFile(name, O_RDONLY, error).IsOpen()) return kFileDeleteFailed;
  return RemoveFile(name) == 0 ? kFileOk : kFileDeleteFailed;
}

}  // namespace remoteccm
