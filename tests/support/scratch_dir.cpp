#include "support/scratch_dir.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace remoteccm::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() : path_(MakeScratchFolder()) {}

ScratchDir::~ScratchDir() {
  std::error_code error;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  for (auto entry = fs::recursive_directory_iterator(path_, error);
       !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
    if (entry->is_symlink(error)) continue;
    // Windows removes no read-only file: a file a test made read-only is made writable again.
    fs::permissions(entry->path(),
                    entry->is_directory(error) ? fs::perms::owner_all : fs::perms::owner_write,
                    fs::perm_options::add, error);
  }
  fs::remove_all(path_, error);
}

void WriteFile(const fs::path& file, std::string_view text) {
  std::ofstream(file, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace remoteccm::testing
