#include "platform/home/program_home.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

// Each case starts from a scratch folder as HOME and none of the program's variables.
class ProgramHomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "home-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ::setenv("HOME", dir_.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("REMOTECCM_HOME");
    ::unsetenv("REMOTECCM_REGISTRY");
    SetProgramHome({});
  }
  void TearDown() override {
    SetProgramHome({});
    std::error_code error;
    fs::remove_all(dir_, error);
  }
  fs::path dir_;
};

TEST_F(ProgramHomeTest, ChoosesOverrideThenOwnVariableThenXdgThenHome) {
  EXPECT_EQ(ProgramHome(), dir_ / ".config/remoteccm");
  EXPECT_EQ(RegistryStorePath(), dir_ / ".config/velmor/install.ini");

  ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(ProgramHome(), dir_ / ".config/remoteccm");
  ::setenv("XDG_CONFIG_HOME", (dir_ / "xdg").c_str(), 1);
  EXPECT_EQ(ProgramHome(), dir_ / "xdg/remoteccm");
  EXPECT_EQ(RegistryStorePath(), dir_ / "xdg/velmor/install.ini");

  ::setenv("REMOTECCM_HOME", (dir_ / "own").c_str(), 1);
  ::setenv("REMOTECCM_REGISTRY", (dir_ / "store.ini").c_str(), 1);
  EXPECT_EQ(ProgramHome(), dir_ / "own");
  EXPECT_EQ(RegistryStorePath(), dir_ / "store.ini");

  SetProgramHome(dir_ / "given");
  EXPECT_EQ(ProgramHome(), dir_ / "given");
  SetProgramHome({});
  EXPECT_EQ(ProgramHome(), dir_ / "own");
  EXPECT_EQ(OwnExecutableFileName(), "remoteccm");
}

TEST_F(ProgramHomeTest, CreatesTheFolderPrivateOnFirstUse) {
  const fs::path home = ProgramHome();
  ASSERT_TRUE(fs::is_directory(home));
  struct stat info {};
  ASSERT_EQ(::stat(home.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_FALSE(fs::exists(RegistryStorePath().parent_path()));

  // A file where the folder should be: the path is still given, nothing crashes.
  ::setenv("REMOTECCM_HOME", (dir_ / "file").c_str(), 1);
  {
    std::FILE* f = std::fopen((dir_ / "file").c_str(), "w");
    std::fclose(f);
  }
  EXPECT_EQ(ProgramHome(), dir_ / "file");
}

}  // namespace
}  // namespace remoteccm
