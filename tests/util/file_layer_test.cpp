// The file layer's promises that differ most between POSIX and Windows: a file another
// descriptor holds open is still replaced and removed, the run lock and the identity lock keep
// a second holder out, and a killed replacement's temporary is cleaned up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "util/file_routines.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

class FileLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("file-layer-" + std::to_string(std::random_device()()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(dir_, error);
  }
  fs::path dir_;
};

TEST_F(FileLayerTest, ReplacesAndRemovesAFileThatIsOpen) {
  const fs::path file = dir_ / "SITE1.CCM";
  ReplaceFileContent(file, "old\r\n", 0600);
  FileDescriptor reader = OpenRegularFile(file, O_RDONLY);
  ReplaceFileContent(file, "new\r\n", 0600);
  EXPECT_EQ(ReadWholeFile(file), "new\r\n");
  char byte = 0;
  EXPECT_EQ(ReadSome(reader.Get(), &byte, 1), 1);  // the reader keeps the old content
  EXPECT_EQ(byte, 'o');
  EXPECT_EQ(RemoveFile(file), 0);
  EXPECT_FALSE(fs::exists(file));
  // Windows lists the old content under a name of its own until its last reader closes it.
  reader = FileDescriptor();
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 0);
}

TEST_F(FileLayerTest, LocksKeepASecondHolderOutUntilTheFirstGoes) {
  const fs::path destination = dir_ / "cdr.txt";
  std::ofstream(destination, std::ios::app | std::ios::binary) << "line\r\n";
  {
    std::optional<LockFile> first = LockFile::TryTake(dir_ / "cdr.txt.lock");
    ASSERT_TRUE(first);
    EXPECT_FALSE(LockFile::TryTake(dir_ / "cdr.txt.lock"));
    ASSERT_TRUE(first->AlsoLockIdentityOf(destination));
    std::optional<LockFile> other = LockFile::TryTake(dir_ / "other.lock");
    ASSERT_TRUE(other);
    EXPECT_FALSE(other->AlsoLockIdentityOf(destination));
    // The identity lock lies beyond the end: the file is still appended to and read.
    std::ofstream(destination, std::ios::app | std::ios::binary) << "more\r\n";
    EXPECT_EQ(ReadWholeFile(destination), "line\r\nmore\r\n");
  }
  EXPECT_TRUE(LockFile::TryTake(dir_ / "cdr.txt.lock"));
}

TEST_F(FileLayerTest, RemovesTheTemporaryAKilledReplacementLeft) {
  std::ofstream(dir_ / ".SITE1.CCM.tmp-a1B2c3") << "Password=secret\r\n";
  std::ofstream(dir_ / "SITE1.CCM") << "[Options]\r\n";
  RemoveStaleTemporaries(dir_);
  EXPECT_FALSE(fs::exists(dir_ / ".SITE1.CCM.tmp-a1B2c3"));
  EXPECT_TRUE(fs::exists(dir_ / "SITE1.CCM"));
}

}  // namespace
}  // namespace remoteccm
