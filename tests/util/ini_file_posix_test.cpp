// The profile-file rules that stand on POSIX file systems: modes, links, permissions that bind
// an unprivileged user, and writers in processes of their own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "ini_file_fixture.h"
#include "support/unprivileged.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

TEST_F(IniFileTest, NewFileIsPrivateAndModeOfOldFileIsKept) {
  WriteProfileValue(file_, "Options", "Password", "secret");
  EXPECT_EQ(Get(), "[Options]\r\nPassword=secret\r\n");
  struct stat info {};
  ASSERT_EQ(::stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
  WriteProfileValue(file_, "Options", "Password", "other");
  ASSERT_EQ(::stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(IniFileTest, RefusedWritesAsAUserThePermissionsBind) {
  Put("[Options]\r\nA=1\r\n");
  // A file nobody may read, then a folder nobody may write, as a user they bind.
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(file_.c_str(), 0000), 0);
  testing::AsUnprivilegedUser([&] {
    ASSERT_EQ(::access(dir_.c_str(), R_OK | X_OK), 0);
    EXPECT_EQ(ReadProfileValue(file_, "Options", "A"), "");
    EXPECT_THROW(WriteProfileValue(file_, "Options", "A", "2"), IniWriteError);
  });
  ASSERT_EQ(::chmod(file_.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
  testing::AsUnprivilegedUser([&] {
    ASSERT_EQ(::access(file_.c_str(), R_OK | W_OK), 0);
    EXPECT_EQ(ReadProfileValue(file_, "Options", "A"), "1");
    EXPECT_EQ(WriteErrorOf(file_), "Unable to write to " + file_.string() + ": Permission denied");
    EXPECT_THROW(EraseProfileSection(file_, "Options"), IniWriteError);
  });
  ASSERT_EQ(::chmod(dir_.c_str(), 0700), 0);
  EXPECT_EQ(Get(), "[Options]\r\nA=1\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(IniFileTest, WritesThroughASymbolicLink) {
  const fs::path real = dir_ / "real.ini";
  Put(real, "[Options]\r\nA=1\r\n");
  fs::create_symlink(real, file_);
  WriteProfileValue(file_, "Options", "A", "2");
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_EQ(Get(real), "[Options]\r\nA=2\r\n");
}

TEST_F(IniFileTest, ConcurrentWritersDoNotLoseEachOthersKeys) {
  constexpr int kWriters = 4;
  constexpr int kKeys = 15;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      try {
        for (int k = 0; k < kKeys; ++k) {
          WriteProfileValue(file_, "Options", "W" + std::to_string(w) + "K" + std::to_string(k),
                            std::to_string(k));
        }
      } catch (...) {
        status = 1;
      }
      ::_exit(status);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(ReadProfileSection(file_, "Options").size(),
            static_cast<std::size_t>(kWriters * kKeys));
}

}  // namespace
}  // namespace remoteccm
