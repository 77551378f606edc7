// A folder of a test's own, made new and removed with everything in it when the object goes,
// and the whole-file reads and writes the tests make in it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace remoteccm::testing {

class ScratchDir {
 public:
  // Made by mkdtemp (mode 0700) in the system's temporary folder; throws std::runtime_error
  // when it cannot be made.
  ScratchDir();
  // Removes the folder, first giving its owner back the folders and files a test closed.
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Used as the folder's path, which is what a test means by it.
  operator const std::filesystem::path&() const { return path_; }  // NOLINT(*-explicit-*)
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }
  std::string string() const { return path_.string(); }
  const std::filesystem::path::value_type* c_str() const { return path_.c_str(); }

 private:
  std::filesystem::path path_;
};

// A new folder of the test's own in the system's temporary folder (POSIX: mkdtemp, mode 0700);
// throws std::runtime_error when none can be made.
std::filesystem::path MakeScratchFolder();

// Replaces the file's content with text, as bytes.
void WriteFile(const std::filesystem::path& file, std::string_view text);
// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& file);

}  // namespace remoteccm::testing
