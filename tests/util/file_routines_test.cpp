#include "util/file_routines.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "support/scratch_dir.h"
#include "support/unprivileged.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

class FileRoutinesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static void Put(const std::string& file, const std::string& content) {
    testing::WriteFile(file, content);
  }
  testing::ScratchDir dir_;
};

TEST_F(FileRoutinesTest, DeletionTakesTheWholeName) {
  const std::string long_name = Path(std::string(200, 'n') + ".RAW");
  for (const std::string& name : {Path("EMPTY"), long_name}) {
    Put(name, "");
    EXPECT_EQ(DeleteFileByName(name), 0);
    EXPECT_FALSE(fs::exists(name));
    EXPECT_EQ(DeleteFileByName(name), 8);
  }
  EXPECT_EQ(DeleteFileByName(""), 8);
  EXPECT_EQ(DeleteFileByName(dir_.string()), 8);
  EXPECT_TRUE(fs::is_directory(dir_));
}

// A lock that cannot be taken says so of the file it guards, which is the file the user knows,
// and why; tried as a user whom permissions bind.
TEST_F(FileRoutinesTest, ALockThatCannotBeMadeNamesTheFileItGuards) {
  fs::permissions(dir_, fs::perms::others_exec, fs::perm_options::add);
  fs::create_directories(dir_ / "read-only");
  fs::permissions(dir_ / "read-only",
                  fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  fs::create_directories(dir_ / "theirs");
  fs::permissions(dir_ / "theirs", fs::perms::all);
  Put(Path("theirs/CDR.TXT.lock"), "");
  fs::permissions(Path("theirs/CDR.TXT.lock"), fs::perms::owner_read | fs::perms::owner_write);
  const struct {
    std::string lock;
    std::string said;
  } cases[] = {
      {Path("read-only/CDR.TXT.lock"), "Cannot write to " + Path("read-only/CDR.TXT") +
                                           ": no file can be made in its folder " +
                                           Path("read-only") + " (Permission denied)."},
      {Path("theirs/CDR.TXT.lock"), "Cannot write to " + Path("theirs/CDR.TXT") +
                                        ": its lock file " + Path("theirs/CDR.TXT.lock") +
                                        " cannot be opened (Permission denied)."},
      {Path("nowhere/CDR.TXT.lock"), "Cannot write to " + Path("nowhere/CDR.TXT") +
                                         ": its folder " + Path("nowhere") + " does not exist."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lock);
    testing::AsUnprivilegedUser([&] {
      try {
        LockFile::TryTake(c.lock);
        ADD_FAILURE() << "the lock was taken";
      } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), c.said);
      }
    });
  }
  // And one that can: taken once, not twice.
  const std::optional<LockFile> held = LockFile::TryTake(Path("CDR.TXT.lock"));
  EXPECT_TRUE(held.has_value());
  EXPECT_FALSE(LockFile::TryTake(Path("CDR.TXT.lock")).has_value());
}

}  // namespace
}  // namespace remoteccm
