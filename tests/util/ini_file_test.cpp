#include "util/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/scratch_dir.h"
#include "support/unprivileged.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class IniFileTest : public ::testing::Test {
 protected:
  void Put(const std::string& content) { Put(file_, content); }
  static void Put(const fs::path& file, const std::string& content) {
    testing::WriteFile(file, content);
  }
  std::string Get() const { return testing::ReadFile(file_); }
  static std::string Get(const fs::path& file) { return testing::ReadFile(file); }
  testing::ScratchDir dir_;
  fs::path file_ = dir_ / "SITE1.CCM";
};

TEST_F(IniFileTest, ReadsByTheProfileRules) {
  Put("[options]\r\n"
      "  sqltablename  =  CallDetailRecord  \r\n"
      "Quoted=\"  two blanks  \"\r\n"
      "Single='x'\r\n"
      "Unpaired=\"abc'\r\n"
      "Equals=a=b=c\r\n"
      "Twice=first\r\n"
      "TWICE=second\r\n"
      "[Other]\r\n"
      "Key=other\r\n");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "SQLTableName"), "CallDetailRecord");
  EXPECT_EQ(ReadProfileValue(file_, "OPTIONS", "quoted"), "  two blanks  ");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "Single"), "x");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "Unpaired"), "\"abc'");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "Equals"), "a=b=c");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "Twice"), "first");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "Key"), "");
  EXPECT_EQ(ReadProfileValue(file_, "Other", "Key"), "other");
  EXPECT_EQ(ReadProfileValue(file_, "Missing", "Key"), "");
  EXPECT_EQ(ReadProfileValue(dir_ / "NONE.CCM", "Options", "Key"), "");
}

TEST_F(IniFileTest, ReadsLfAndCrOnlyFilesAndTheFirstOfTwoSections) {
  Put("[Options]\nA=1\nB=2\n[Options]\nA=9\nC=3\n");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "B"), "2");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "A"), "1");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "C"), "");
  Put("[Options]\rA=1\rB=2");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "B"), "2");
}

TEST_F(IniFileTest, CutsLongValuesAndSurvivesBadBytes) {
  Put("[Options]\r\nLong=" + std::string(100000, 'v') + "\r\nAfter=ok\r\n");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "Long"), std::string(kIniValueMax, 'v'));
  EXPECT_EQ(ReadProfileValue(file_, "Options", "After"), "ok");

  Put("\xff\xfe\0garbage=[\0\r\n[Options]\r\nK=a\0b\xe9\r\n"s);
  EXPECT_EQ(ReadProfileValue(file_, "Options", "K"), "a");  // a value ends at its NUL byte
  WriteProfileValue(file_, "Options", "New", "n");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "New"), "n");
  EXPECT_EQ(Get().substr(0, 4), std::string("\xff\xfe\0g", 4));

  Put("no section at all\r\nKey=value\r\n");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "Key"), "");
  EXPECT_TRUE(ReadProfileSection(file_, "Options").empty());
}

TEST_F(IniFileTest, WritesInPlaceAtSectionEndOrNewSection) {
  Put("[Options]\r\nA=1\r\nb=2\r\n\r\n[Other]\r\nX=y\r\n");
  WriteProfileValue(file_, "OPTIONS", "B", "two");
  WriteProfileValue(file_, "Options", "C", "3");
  WriteProfileValue(file_, "Third", "D", "4");
  EXPECT_EQ(Get(), "[Options]\r\nA=1\r\nB=two\r\nC=3\r\n\r\n[Other]\r\nX=y\r\n[Third]\r\nD=4\r\n");
}

TEST_F(IniFileTest, WritesIntoLfFileWithoutLastLineEnd) {
  Put("[Options]\nA=1\n[Other]\nX=y");
  WriteProfileValue(file_, "Other", "Z", "2");
  WriteProfileValue(file_, "New", "K", "v");
  EXPECT_EQ(Get(), "[Options]\nA=1\n[Other]\nX=y\r\nZ=2\r\n[New]\r\nK=v\r\n");
}

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

TEST_F(IniFileTest, LineBreaksInAValueCannotMakeNewKeys) {
  WriteProfileValue(file_, "Options", "Login", "x\r\nPassword=stolen");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "Password"), "");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "Login"), "x  Password=stolen");
}

// The message names the file and says what the system said, so that causes can be told apart.
std::string WriteErrorOf(const fs::path& file) {
  try {
    WriteProfileValue(file, "Options", "A", "2");
  } catch (const IniWriteError& error) {
    return error.what();
  }
  return "no error";
}

TEST_F(IniFileTest, RefusedWritesThrowAndKeepTheOldFile) {
  const fs::path folder_in_the_way = dir_ / "FOLDER.CCM";
  fs::create_directory(folder_in_the_way);
  EXPECT_EQ(ReadProfileValue(folder_in_the_way, "Options", "A"), "");
  EXPECT_EQ(WriteErrorOf(folder_in_the_way),
            "Unable to write to " + folder_in_the_way.string() + ": it is not a regular file");
  const fs::path missing = dir_ / "missing" / "X.CCM";
  EXPECT_EQ(WriteErrorOf(missing),
            "Unable to write to " + missing.string() + ": No such file or directory");

  Put("[Options]\r\nA=1\r\n");
  ASSERT_EQ(::chmod(file_.c_str(), 0444), 0);
  EXPECT_EQ(WriteErrorOf(file_), "Unable to write to " + file_.string() + ": Permission denied");
  EXPECT_EQ(Get(), "[Options]\r\nA=1\r\n");

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
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

TEST_F(IniFileTest, WritesThroughASymbolicLink) {
  const fs::path real = dir_ / "real.ini";
  Put(real, "[Options]\r\nA=1\r\n");
  fs::create_symlink(real, file_);
  WriteProfileValue(file_, "Options", "A", "2");
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_EQ(Get(real), "[Options]\r\nA=2\r\n");
}

TEST_F(IniFileTest, SectionListingAndErasing) {
  Put("[Fields]\r\nA=1\r\nempty=\r\nB='2'\r\na=dup\r\nnoequals\r\n"
      "[Other]\r\nX=y\r\n[fields]\r\nC=3\r\n");
  const auto pairs = ReadProfileSection(file_, "FIELDS");
  // Every key line is a pair, a repeated key too (a field list may name a column twice).
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0], (std::pair<std::string, std::string>("A", "1")));
  EXPECT_EQ(pairs[1], (std::pair<std::string, std::string>("B", "2")));
  EXPECT_EQ(pairs[2], (std::pair<std::string, std::string>("a", "dup")));

  EraseProfileSection(file_, "Fields");
  EXPECT_EQ(Get(), "[Other]\r\nX=y\r\n");
  EraseProfileSection(file_, "Missing");
  EraseProfileSection(dir_ / "NONE.INI", "Fields");
  EXPECT_FALSE(fs::exists(dir_ / "NONE.INI"));
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

TEST_F(IniFileTest, AHugeFileIsNeitherReadNorReplaced) {
  Put("[Options]\r\nA=1\r\n" + std::string(17 * 1024 * 1024, ';'));
  EXPECT_EQ(ReadProfileValue(file_, "Options", "A"), "");
  EXPECT_THROW(WriteProfileValue(file_, "Options", "A", "2"), IniWriteError);
  EXPECT_EQ(fs::file_size(file_), 17u * 1024 * 1024 + 16);
}

}  // namespace
}  // namespace remoteccm
