#include "companion/default_destination.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/scratch_dir.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

class DefaultDestinationTest : public ::testing::Test {
 protected:
  // The store lives in a scratch folder made before the accessor is.
  std::string Default(std::string_view entity) const {
    return DefaultDestinationFile(registry_, entity, "/home/ops/remoteccm");
  }
  // The folder and the file name as the platform joins them.
  static std::string In(const std::string& folder, const std::string& name) {
    return folder + kFolderSeparators.front() + name;
  }
  testing::ScratchDir dir_;
  TRegAccess registry_{dir_ / "install.ini"};
};

TEST_F(DefaultDestinationTest, NoCompanionGivesTheProgramHome) {
  EXPECT_EQ(Default(""), In("/home/ops/remoteccm", "0001.RAW"));
  EXPECT_EQ(Default("0002"), In("/home/ops/remoteccm", "0002.RAW"));
  EXPECT_EQ(Default("   "), In("/home/ops/remoteccm", ".RAW"));
  EXPECT_EQ(Default(" ../x/y "), In("/home/ops/remoteccm", ".._x_y.RAW"));
}

TEST_F(DefaultDestinationTest, CompanionsAreTriedInOrder) {
  registry_.SetRegistryItem("remoteccm", "PATH", "/opt/remoteccm");
  EXPECT_EQ(Default("0002"), In("/opt/remoteccm", "0002.RAW"));
  registry_.SetRegistryItem("BRIMO.EXE", "PATH", "/opt/brimo/");
  EXPECT_EQ(Default(""), "/opt/brimo/0001.RAW");
  registry_.SetRegistryItem("KESTA.EXE", "PATH", "/opt/kesta");
  EXPECT_EQ(Default("0002"), In("/opt/kesta", "SMDR.TXT"));
  registry_.SetRegistryItem("TOLVA.EXE", "PATH", "   ");
  EXPECT_EQ(Default("0002"), In("/opt/kesta", "SMDR.TXT"));
  registry_.SetRegistryItem("TOLVA.EXE", "PATH", "/opt/tolva");
  EXPECT_EQ(Default("0002"), In("/opt/tolva", "0002.RAW"));
  EXPECT_EQ(Default(""), In("/opt/tolva", "0001.RAW"));
}

}  // namespace
}  // namespace remoteccm
