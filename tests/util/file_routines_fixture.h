// The file routines' tests: a scratch folder, and a lock tried in it as a user whom
// permissions bind (on Windows, the user the tests run as).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/scratch_dir.h"
#include "support/unprivileged.h"
#include "util/posix_file.h"

namespace remoteccm {

class FileRoutinesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static void Put(const std::string& file, const std::string& content) {
    testing::WriteFile(file, content);
  }
  // Taking the lock at path, as a user whom permissions bind, fails saying `said`.
  static void ExpectLockRefused(const std::string& path, const std::string& said) {
    testing::AsUnprivilegedUser([&] {
      try {
        LockFile::TryTake(path);
        ADD_FAILURE() << "the lock was taken";
      } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), said);
      }
    });
  }
  testing::ScratchDir dir_;
};

}  // namespace remoteccm
