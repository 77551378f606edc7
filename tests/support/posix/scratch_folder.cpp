#include <stdlib.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "support/scratch_dir.h"

namespace remoteccm::testing {

std::filesystem::path MakeScratchFolder() {
  // A short name: Unix sockets are made in here, and their paths are limited to 108 bytes.
  std::string pattern = (std::filesystem::temp_directory_path() / "rccm-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("no scratch folder " + pattern + ": " +
                             std::generic_category().message(errno));
  }
  return pattern;
}

}  // namespace remoteccm::testing
