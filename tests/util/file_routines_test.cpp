#include "util/file_routines.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/unprivileged.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

class FileRoutinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "file-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(dir_, error);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static void Put(const std::string& file, const std::string& content) {
    std::ofstream(file, std::ios::binary) << content;
  }
  static std::string Get(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  fs::path dir_;
};

TEST_F(FileRoutinesTest, OpenForAppendCreatesOrStartsAtTheEnd) {
  const std::string missing = Path("NEW.RAW");
  const std::string empty = Path("EMPTY.RAW");
  const std::string ten = Path("TEN.RAW");
  Put(empty, "");
  Put(ten, "0123456789");
  for (const auto& [name, position] :
       {std::pair{missing, 0}, std::pair{empty, 0}, std::pair{ten, 10}}) {
    FileHandle file;
    ASSERT_EQ(OpenForAppend(file, FileAccess::kReadWrite, FileSharing::kDenyWrite, 1, name),
              kFileOk);
    EXPECT_EQ(::lseek(file.Descriptor(), 0, SEEK_CUR), position) << name;
    EXPECT_EQ(WriteBytes(file, "ab"), 0);
    EXPECT_EQ(CloseFileResult(file), 0);
    EXPECT_FALSE(file.IsOpen());
  }
  EXPECT_EQ(Get(missing), "ab");
  EXPECT_EQ(Get(ten), "0123456789ab");

  FileHandle file;
  EXPECT_EQ(OpenForAppend(file, FileAccess::kReadWrite, FileSharing::kDenyWrite, 1, ""), 7);
  EXPECT_EQ(OpenForAppend(file, FileAccess::kReadWrite, FileSharing::kDenyWrite, 1, dir_.string()),
            7);
  EXPECT_EQ(OpenForAppend(file, FileAccess::kReadWrite, FileSharing::kDenyWrite, 1,
                          Path("no/such/folder.RAW")),
            7);
  EXPECT_EQ(WriteBytes(file, "x"), EBADF);
  EXPECT_EQ(CloseFileResult(file), EBADF);
  EXPECT_EQ(CloseFileResult(file), 0);
}

TEST_F(FileRoutinesTest, OthersMayNotWriteWhileTheFileIsOpenForAppending) {
  const std::string name = Path("LOCKED.RAW");
  FileHandle first;
  ASSERT_EQ(OpenForAppend(first, FileAccess::kReadWrite, FileSharing::kDenyWrite, 1, name), 0);
  FileHandle second;
  EXPECT_EQ(OpenForAppend(second, FileAccess::kReadWrite, FileSharing::kDenyWrite, 1, name), 7);
  EXPECT_THROW(AppendToFile(name, "x"), FileIoError);
  EXPECT_EQ(CloseFileResult(first), 0);
  AppendToFile(name, "x");
  EXPECT_EQ(Get(name), "x");
}

TEST_F(FileRoutinesTest, SizeAndDeletion) {
  EXPECT_EQ(FileSizeOf(Path("MISSING")), -1);
  EXPECT_EQ(FileSizeOf(""), -1);
  EXPECT_EQ(FileSizeOf(dir_.string()), -1);
  Put(Path("EMPTY"), "");
  EXPECT_EQ(FileSizeOf(Path("EMPTY")), 0);
  EXPECT_EQ(DeleteFileByName(Path("EMPTY")), 0);
  EXPECT_FALSE(fs::exists(Path("EMPTY")));
  EXPECT_EQ(DeleteFileByName(Path("EMPTY")), 8);
  EXPECT_EQ(DeleteFileByName(""), 8);
  EXPECT_EQ(DeleteFileByName(dir_.string()), 8);
  EXPECT_TRUE(fs::is_directory(dir_));
}

TEST_F(FileRoutinesTest, LongNamesAreUsedWhole) {
  const std::string name = Path(std::string(200, 'n') + ".RAW");
  ASSERT_GT(name.size(), 158u);
  AppendToFile(name, "line\r\n");
  AppendToFile(name, "next\r\n");
  EXPECT_EQ(FileSizeOf(name), 12);
  EXPECT_EQ(Get(name), "line\r\nnext\r\n");
  EXPECT_FALSE(fs::exists(name.substr(0, 158)));
  EXPECT_EQ(DeleteFileByName(name), 0);
}

TEST_F(FileRoutinesTest, AFailedAppendThrowsAndLeavesTheFileAsItWas) {
  try {
    AppendToFile(Path("no/such/folder.RAW"), "x");
    ADD_FAILURE() << "no error";
  } catch (const FileIoError& error) {
    EXPECT_EQ(error.ErrorNumber(), ENOENT);
    EXPECT_EQ(std::string(error.what()), "I/O error " + std::to_string(ENOENT));
  }

  // The file-size limit makes the disk refuse the write half way, as a full disk does.
  const std::string name = Path("FULL.RAW");
  Put(name, "0123456789");
  struct rlimit old_limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = old_limit;
  limit.rlim_cur = 15;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  int error_number = 0;
  try {
    AppendToFile(name, "abcdefghij");
  } catch (const FileIoError& error) {
    error_number = error.ErrorNumber();
  }
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(error_number, EFBIG);
  EXPECT_EQ(Get(name), "0123456789");
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
