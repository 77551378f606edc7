#include "util/ini_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ini_file_fixture.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

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

TEST_F(IniFileTest, LineBreaksInAValueCannotMakeNewKeys) {
  WriteProfileValue(file_, "Options", "Login", "x\r\nPassword=stolen");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "Password"), "");
  EXPECT_EQ(ReadProfileValue(file_, "Options", "Login"), "x  Password=stolen");
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
  // Read-only for everyone (on Windows: the read-only attribute).
  fs::permissions(file_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(WriteErrorOf(file_), "Unable to write to " + file_.string() + ": Permission denied");
  EXPECT_EQ(Get(), "[Options]\r\nA=1\r\n");

  // Nothing was left but the file and the folder in the way (and on Windows the folder's lock
  // file, which stays).
  EXPECT_EQ(std::count_if(fs::directory_iterator(dir_), fs::directory_iterator(),
                          [](const fs::directory_entry& entry) {
                            return entry.path().filename() != ".remoteccm-folder.lock";
                          }),
            2);
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

// Writers in threads of one process (on Windows the folder's lock is a named mutex, which a
// thread holds), one of them reading the file while the others replace it.
TEST_F(IniFileTest, WritersOnThreadsDoNotLoseEachOthersKeys) {
  constexpr int kWriters = 4;
  constexpr int kKeys = 15;
  std::vector<std::thread> writers;
  writers.reserve(kWriters);
  std::vector<int> failures(kWriters, 0);
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int k = 0; k < kKeys; ++k) {
        try {
          WriteProfileValue(file_, "Options", "W" + std::to_string(w) + "K" + std::to_string(k),
                            std::to_string(k));
          ReadProfileSection(file_, "Options");
        } catch (const IniWriteError&) {
          ++failures[static_cast<std::size_t>(w)];
        }
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(failures, std::vector<int>(kWriters, 0));
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
