#include "platform/registry/reg_access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/scratch_dir.h"
#include "support/unprivileged.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

class RegAccessTest : public ::testing::Test {
 protected:
  std::string StoreText() const { return testing::ReadFile(store_); }
  testing::ScratchDir dir_;
  fs::path store_ = dir_ / "velmor" / "install.ini";
};

TEST_F(RegAccessTest, ReadingCreatesNothing) {
  const TRegAccess registry(store_);
  EXPECT_EQ(registry.GetRegistryItem("remoteccm", "LASTPROFILE"), "");
  EXPECT_FALSE(fs::exists(store_.parent_path()));
}

TEST_F(RegAccessTest, NamesAreUpperCasedOnWriteAndMatchedInAnyCase) {
  const TRegAccess registry(store_);
  registry.SetRegistryItem("remoteccm", "LastProfile", "/srv/ccm/SITE1.CCM");
  registry.SetRegistryItem("TOLVA.EXE", "path", "/opt/tolva");
  EXPECT_EQ(StoreText(),
            "[remoteccm]\r\nLASTPROFILE=/srv/ccm/SITE1.CCM\r\n[TOLVA.EXE]\r\nPATH=/opt/tolva\r\n");
  EXPECT_EQ(registry.GetRegistryItem("REMOTECCM", "lastprofile"), "/srv/ccm/SITE1.CCM");
  EXPECT_EQ(registry.GetRegistryItem("tolva.exe", "Path"), "/opt/tolva");
  EXPECT_EQ(registry.GetRegistryItem("KESTA.EXE", "PATH"), "");

  registry.SetRegistryItem("remoteccm", "lastprofile", "/srv/ccm/SITE2.CCM");
  EXPECT_EQ(registry.GetRegistryItem("remoteccm", "LASTPROFILE"), "/srv/ccm/SITE2.CCM");
  struct stat info {};
  ASSERT_EQ(::stat(store_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(RegAccessTest, LongValuesAreReadAsTheirFirst255Characters) {
  const TRegAccess registry(store_);
  registry.SetRegistryItem("remoteccm", "LASTPROFILE", std::string(300, 'p'));
  EXPECT_EQ(registry.GetRegistryItem("remoteccm", "LASTPROFILE"), std::string(255, 'p'));
}

TEST_F(RegAccessTest, AStoreThatCannotBeCreatedIsLeftAloneAndARefusedWriteThrows) {
  // A file where the store's folder should be: nothing is written, nothing reported.
  std::ofstream(dir_ / "velmor") << "in the way";
  const TRegAccess blocked(store_);
  EXPECT_NO_THROW(blocked.SetRegistryItem("remoteccm", "LASTPROFILE", "x"));
  EXPECT_EQ(blocked.GetRegistryItem("remoteccm", "LASTPROFILE"), "");

  // A read-only store does not open for writing: nothing is written, nothing reported.
  const fs::path read_only = dir_ / "ro.ini";
  std::ofstream(read_only) << "[remoteccm]\r\nLASTPROFILE=old\r\n";
  ASSERT_EQ(::chmod(read_only.c_str(), 0444), 0);
  const TRegAccess registry(read_only);
  EXPECT_NO_THROW(registry.SetRegistryItem("remoteccm", "LASTPROFILE", "new"));
  EXPECT_EQ(registry.GetRegistryItem("remoteccm", "LASTPROFILE"), "old");

  // The store opens but the write itself is refused.
  const fs::path full = dir_ / "full.ini";
  fs::create_symlink("/dev/full", full);
  try {
    TRegAccess(full).SetRegistryItem("remoteccm", "lastProfile", "new");
    ADD_FAILURE() << "no error";
  } catch (const RegistryError& error) {
    // The store is a device, not a file the program can replace.
    EXPECT_EQ(std::string(error.what()),
              "Failed to set data for 'LASTPROFILE': Unable to write to " + full.string() +
                  ": it is not a regular file");
  }
}

TEST_F(RegAccessTest, WithoutWriteRightsReadsWorkAndWritesDoNothing) {
  const TRegAccess registry(store_);
  registry.SetRegistryItem("remoteccm", "LASTPROFILE", "old");
  const std::string old_store = StoreText();
  // A store and folder everyone may read and nobody but its owner, if anyone, may write.
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(store_.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(store_.parent_path().c_str(), 0555), 0);
  testing::AsUnprivilegedUser([&] {
    EXPECT_EQ(registry.GetRegistryItem("remoteccm", "LASTPROFILE"), "old");
    EXPECT_NO_THROW(registry.SetRegistryItem("remoteccm", "LASTPROFILE", "new"));
    EXPECT_NO_THROW(registry.SetRegistryItem("TOLVA.EXE", "PATH", "/opt/tolva"));
    EXPECT_EQ(registry.GetRegistryItem("remoteccm", "LASTPROFILE"), "old");
  });
  ASSERT_EQ(::chmod(store_.parent_path().c_str(), 0700), 0);
  EXPECT_EQ(StoreText(), old_store);
}

}  // namespace
}  // namespace remoteccm
