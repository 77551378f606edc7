// The locks of the Windows file layer as other programs meet them: a reader of the destination
// that denies writers while it reads, and one folder reached by two of its names.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <optional>

#include "support/scratch_dir.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

// A call-accounting program that opens the destination with FILE_SHARE_READ alone (it denies
// writers while it reads) must get in while a run holds the destination's lock for hours.
TEST(FileLocksTest, AReaderThatDeniesWritersOpensTheDestinationARunHolds) {
  const testing::ScratchDir dir;
  const fs::path destination = dir / "CDR.TXT";
  testing::WriteFile(destination, "a line\r\n");
  std::optional<LockFile> lock = LockFile::TryTake(dir / "CDR.TXT.lock");
  ASSERT_TRUE(lock.has_value());
  ASSERT_TRUE(lock->AlsoLockIdentityOf(destination));
  const HANDLE reader = ::CreateFileW(destination.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "error " << ::GetLastError();
  if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
}

// One folder by two of its names (here its long-path form; a share, another drive letter or
// another session's run alike) is one folder to lock: its lock is the file in it.
TEST(FileLocksTest, OneFolderByTwoOfItsNamesHasOneLock) {
  const testing::ScratchDir dir;
  const fs::path other_name = L"\\\\?\\" + fs::absolute(dir.path()).wstring();
  const FolderLock held(dir);
  EXPECT_FALSE(LockFile::TryTake(other_name / L".remoteccm-folder.lock").has_value());
}

}  // namespace
}  // namespace remoteccm
