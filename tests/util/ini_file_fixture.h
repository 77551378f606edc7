// The profile-file tests' fixture: one file in a scratch folder, written and read whole.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/scratch_dir.h"
#include "util/ini_file.h"

namespace remoteccm {

class IniFileTest : public ::testing::Test {
 protected:
  void Put(const std::string& content) { Put(file_, content); }
  static void Put(const std::filesystem::path& file, const std::string& content) {
    testing::WriteFile(file, content);
  }
  std::string Get() const { return testing::ReadFile(file_); }
  static std::string Get(const std::filesystem::path& file) { return testing::ReadFile(file); }
  testing::ScratchDir dir_;
  std::filesystem::path file_ = dir_ / "SITE1.CCM";
};

// The message names the file and says what the system said, so that causes can be told apart.
inline std::string WriteErrorOf(const std::filesystem::path& file) {
  try {
    WriteProfileValue(file, "Options", "A", "2");
  } catch (const IniWriteError& error) {
    return error.what();
  }
  return "no error";
}

}  // namespace remoteccm
