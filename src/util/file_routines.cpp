#include "util/file_routines.h"

#include <fcntl.h>
#include <unistd.h>

#include "util/posix_file.h"

namespace remoteccm {

int DeleteFileByName(const std::string& name) {
  if (name.empty()) return kFileDeleteFailed;
  if (!FileDescriptor(::open(name.c_str(), O_RDONLY | O_CLOEXEC)).IsOpen()) {
    return kFileDeleteFailed;
  }
  return ::unlink(name.c_str()) == 0 ? kFileOk : kFileDeleteFailed;
}

}  // namespace remoteccm
