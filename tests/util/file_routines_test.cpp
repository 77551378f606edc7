#include "util/file_routines.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "file_routines_fixture.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

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
// and why.
TEST_F(FileRoutinesTest, ALockThatCannotBeMadeNamesTheFileItGuards) {
  fs::permissions(dir_, fs::perms::others_exec, fs::perm_options::add);
  ExpectLockRefused(Path("nowhere/CDR.TXT.lock"), "Cannot write to " + Path("nowhere/CDR.TXT") +
                                                      ": its folder " + Path("nowhere") +
                                                      " does not exist.");
  // And one that can: taken once, not twice.
  const std::optional<LockFile> held = LockFile::TryTake(Path("CDR.TXT.lock"));
  EXPECT_TRUE(held.has_value());
  EXPECT_FALSE(LockFile::TryTake(Path("CDR.TXT.lock")).has_value());
}

}  // namespace
}  // namespace remoteccm
