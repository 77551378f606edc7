// Locks that file permissions keep out, which bind on POSIX file systems (a Windows folder's
// read-only mark does not keep files out).
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "file_routines_fixture.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

// Permissions that bind a user other than the superuser: a folder nobody may write in, a lock
// file of another user's, which is taken when it may be read.
TEST_F(FileRoutinesTest, ALockThatPermissionsKeepOutSaysWhy) {
  fs::permissions(dir_, fs::perms::others_exec, fs::perm_options::add);
  fs::create_directories(dir_ / "read-only");
  fs::permissions(dir_ / "read-only",
                  fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  fs::create_directories(dir_ / "theirs");
  fs::permissions(dir_ / "theirs", fs::perms::all);
  Put(Path("theirs/CDR.TXT.lock"), "");
  fs::permissions(Path("theirs/CDR.TXT.lock"), fs::perms::owner_read | fs::perms::owner_write);
  ExpectLockRefused(Path("read-only/CDR.TXT.lock"), "Cannot write to " + Path("read-only/CDR.TXT") +
                                                        ": no file can be made in its folder " +
                                                        Path("read-only") +
                                                        " (Permission denied).");
  ExpectLockRefused(Path("theirs/CDR.TXT.lock"),
                    "Cannot write to " + Path("theirs/CDR.TXT") + ": its lock file " +
                        Path("theirs/CDR.TXT.lock") + " cannot be opened (Permission denied).");
  // One that is theirs but readable (the destination's reader made it) locks all the same.
  Put(Path("theirs/READ.TXT.lock"), "");
  fs::permissions(Path("theirs/READ.TXT.lock"),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  testing::AsUnprivilegedUser([&] {
    const std::optional<LockFile> held = LockFile::TryTake(Path("theirs/READ.TXT.lock"));
    EXPECT_TRUE(held.has_value());
    EXPECT_FALSE(LockFile::TryTake(Path("theirs/READ.TXT.lock")).has_value());
  });
}

}  // namespace
}  // namespace remoteccm
