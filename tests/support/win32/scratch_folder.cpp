#include <windows.h>

#include <random>
#include <stdexcept>

#include "support/scratch_dir.h"

namespace remoteccm::testing {

std::filesystem::path MakeScratchFolder() {
  std::random_device random;
  for (int tries = 0; tries < 100; ++tries) {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("rccm-" + std::to_string(random() % 1000000));
    if (::CreateDirectoryW(folder.c_str(), nullptr) != 0) return folder;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("no scratch folder in " +
                           std::filesystem::temp_directory_path().string());
}

}  // namespace remoteccm::testing
