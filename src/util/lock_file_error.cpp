// The one message of a lock file that cannot be opened, for both sides of the file layer.
#include <cerrno>
#include <cstring>
#include <system_error>

#include "util/posix_file.h"

namespace remoteccm {

void ThrowLockFileError(const std::filesystem::path& path, int error_number) {
  std::filesystem::path guarded = path;
  if (guarded.extension() == ".lock") guarded.replace_extension();
  const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
  const std::string reason = std::strerror(error_number);
  std::string why;
  std::error_code ec;
  if (error_number == ENOENT) {
    why = "its folder " + folder.string() + " does not exist";
  } else if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
    why = "its lock file " + path.string() + " cannot be opened (" + reason + ")";
  } else if (error_number == EACCES || error_number == EPERM || error_number == EROFS) {
    why = "no file can be made in its folder " + folder.string() + " (" + reason + ")";
  } else {
    why = "its lock file " + path.string() + " cannot be made (" + reason + ")";
  }
  throw FileError("Cannot write to " + guarded.string() + ": " + why + ".", error_number);
}

}  // namespace remoteccm
