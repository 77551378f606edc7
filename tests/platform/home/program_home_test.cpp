#include "platform/home/program_home.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "support/scratch_dir.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

// Each case starts from a scratch folder as HOME and none of the program's variables.
class ProgramHomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("HOME", dir_.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("REMOTECCM_HOME");
    ::unsetenv("REMOTECCM_REGISTRY");
    SetProgramHome({});
  }
  void TearDown() override { SetProgramHome({}); }
  testing::ScratchDir dir_;
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

// The temporaries of killed saves go, in the program home and beside the store; a live
// replacement's (locked) temporary, and files that only look alike, stay.
TEST_F(ProgramHomeTest, StartUpRemovesTheTemporariesKilledSavesLeft) {
  const fs::path home = dir_ / "home";
  const fs::path store_folder = dir_ / "velmor";
  fs::create_directories(home);
  fs::create_directories(store_folder);
  ::setenv("REMOTECCM_HOME", home.c_str(), 1);
  ::setenv("REMOTECCM_REGISTRY", (store_folder / "install.ini").c_str(), 1);
  const auto put = [](const fs::path& file) { std::ofstream(file) << "Password=secret\r\n"; };
  const std::set<std::string> stale = {".SITE1.CCM.tmp-a1B2c3", ".NEW.CCM.tmp-zzzzzz",
                                       ".SITE1.CCM.Xy12Ab", ".site2.ccm.q9W8e7"};
  const std::set<std::string> kept = {
      "SITE1.CCM",         "site2.ccm",         ".SITE1.CCM.backup",     ".GONE.CCM.Xy12Ab",
      ".notes.txt.Xy12Ab", ".SITE1.CCM.tmp-a1", ".SITE1.CCM.tmp-Live12", "SITE1.CCM.Xy12Ab"};
  for (const std::string& name : stale) put(home / name);
  for (const std::string& name : kept) put(home / name);
  put(store_folder / "install.ini");
  put(store_folder / ".install.ini.tmp-Q1w2E3");
  put(store_folder / ".install.ini.Q1w2E3");
  const FileDescriptor live(::open((home / ".SITE1.CCM.tmp-Live12").c_str(), O_RDONLY));
  ASSERT_EQ(::flock(live.Get(), LOCK_EX), 0);

  RemoveStaleTemporaryFiles();
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(home)) left.insert(entry.path().filename());
  EXPECT_EQ(left, kept);
  left.clear();
  for (const auto& entry : fs::directory_iterator(store_folder)) {
    left.insert(entry.path().filename());
  }
  EXPECT_EQ(left, std::set<std::string>{"install.ini"});

  // A store whose folder is missing is not created.
  ::setenv("REMOTECCM_REGISTRY", (dir_ / "none" / "install.ini").c_str(), 1);
  RemoveStaleTemporaryFiles();
  EXPECT_FALSE(fs::exists(dir_ / "none"));
}

}  // namespace
}  // namespace remoteccm
