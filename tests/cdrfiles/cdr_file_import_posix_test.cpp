// What only POSIX file systems let the push account leave in the folder: names with control
// characters, links, pipes, second names of a file; and the collector's own folders on
// another file system than the push folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "cdr_file_import_fixture.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

TEST_F(CdrFileImportTest, ControlCharactersOfANameNeverReachTheLog) {
  Put(std::string("cdr_C_01_2026\n\x1b[2J_3\xff\xc3\xa9"), Records(7, 7) + "1,\"PK-8\"\n");
  const CdrImportOutcome outcome = Import();
  ASSERT_EQ(outcome.rejected.size(), 1u);
  EXPECT_EQ(outcome.rejected.front().find_first_of("\n\x1b\xff"), std::string::npos)
      << outcome.rejected.front();
  // Valid UTF-8 stays as it is, a byte that is no part of it does not.
  EXPECT_NE(log_.find("cdr_C_01_2026\\x0a\\x1b[2J_3\\xff\xc3\xa9 is damaged (line 4: a short line"),
            std::string::npos)
      << log_;
}

// A link, a pipe, a folder or a second name of a file where a CDR file should be: refused and
// said, never followed; the folder's own collected/ and rejected/ (the collector's before) are
// never looked into; a link in place of the collector's own folder makes it refuse.
TEST_F(CdrFileImportTest, WhatIsNoPlainFileIsRefusedNeverFollowed) {
  const fs::path secret = home_ / "secret";
  testing::WriteFile(secret, Records(1, 2));
  fs::create_symlink(secret, folder_ / "cdr_C_01_202611010000_1");
  ASSERT_EQ(::mkfifo((folder_ / "cdr_C_01_202611010000_2").c_str(), 0600), 0);
  fs::create_hard_link(secret, folder_ / "cdr_C_01_202611010000_3");
  fs::create_directory(folder_ / "cdr_C_01_202611010000_4");
  const fs::path elsewhere = home_ / "elsewhere";
  fs::create_directory(elsewhere);
  testing::WriteFile(elsewhere / "cdr_old", "");
  ASSERT_TRUE(SetFileTimes(elsewhere / "cdr_old", 1000000000));
  fs::create_directory_symlink(elsewhere, folder_ / "collected");
  fs::create_directory_symlink(elsewhere, folder_ / "rejected");
  Put("cdr_C_01_202611010000_5", Records(3, 3) + "x\n");
  const CdrImportOutcome outcome = Import(1);
  EXPECT_EQ(outcome.files, 0);
  EXPECT_EQ(Rows(), 0);
  ASSERT_EQ(outcome.waiting.size(), 4u);
  EXPECT_NE(outcome.waiting[0].find("a symbolic link stands where a CDR file should be"),
            std::string::npos);
  EXPECT_NE(outcome.waiting[1].find("a named pipe"), std::string::npos);
  EXPECT_NE(outcome.waiting[2].find("2 names (a hard link)"), std::string::npos);
  EXPECT_NE(outcome.waiting[3].find("a folder stands"), std::string::npos);
  EXPECT_TRUE(fs::exists(elsewhere / "cdr_old"));
  EXPECT_EQ(Entries(elsewhere), 1);
  EXPECT_TRUE(fs::exists(rejected_ / "cdr_C_01_202611010000_5"));
  EXPECT_EQ(testing::ReadFile(secret), Records(1, 2));

  fs::remove_all(collected_);
  fs::create_directory_symlink(elsewhere, collected_);
  const CdrImportOutcome refused = Import();
  EXPECT_FALSE(refused.usable);
  EXPECT_NE(refused.error.find("a symbolic link stands in its place"), std::string::npos)
      << refused.error;
  fs::remove(collected_);
  fs::create_directory(collected_);
  ASSERT_EQ(::chmod(collected_.c_str(), 0777), 0);
  EXPECT_NE(Import().error.find("others may write in it"), std::string::npos);
}

// An upload that pauses after a line end is imported to there and moved out; its writer still
// holds the file (a move keeps a file open for writing, here) and goes on writing into it: the
// rest is imported once it stops changing, and nothing twice. A file written anew in place is
// read again, its known records recognised.
TEST_F(CdrFileImportTest, AFileThatGrowsAfterItsImportLosesNothing) {
  std::ofstream writer(folder_ / "cdr_C_01_202611010000_1", std::ios::binary);
  writer << Records(1, 3) << std::flush;
  EXPECT_EQ(Import().records, 3);
  ASSERT_TRUE(fs::exists(collected_ / "cdr_C_01_202611010000_1"));
  for (int id = 4; id <= 6; ++id) writer << Record(id);
  writer.close();
  const CdrImportOutcome rest = Import();
  EXPECT_EQ(rest.records, 3);
  EXPECT_EQ(rest.duplicates, 0);
  EXPECT_NE(log_.find("grew after its import: 3 more records imported"), std::string::npos) << log_;
  EXPECT_EQ(Import().records, 0);
  testing::WriteFile(collected_ / "cdr_C_01_202611010000_1", Records(5, 8));
  const CdrImportOutcome anew = Import();
  EXPECT_EQ(anew.records, 2);
  EXPECT_EQ(anew.duplicates, 2);
  EXPECT_EQ(Rows(), 8);
}

// A link in place of a claim is refused, never followed.
TEST_F(CdrFileImportTest, ALinkInPlaceOfAClaimIsRefused) {
  Put("cmr_C_01_202611010000_1",
      "\"cdrRecordType\",\"pkid\"\nINTEGER,UNIQUEIDENTIFIER\n2,\"M1\"\n");
  fs::create_symlink(home_ / "SITE.cdr.sqlite", folder_ / ".remoteccm-cmr.claim");
  const CdrImportOutcome outcome = Import();
  EXPECT_TRUE(outcome.refused) << outcome.error;
  EXPECT_TRUE(fs::exists(folder_ / "cmr_C_01_202611010000_1"));
}

// The collector's folder on another file system than the push folder (tmpfs): an imported
// file stays where its writer may still write to it until it has not changed for an hour, its
// rest imported meanwhile, and is then copied out, synced and removed.
TEST_F(CdrFileImportTest, ImportedFilesLeaveAnotherFileSystemOnceTheyNoLongerChange) {
  struct stat here {};
  struct stat shm {};
  if (::stat(home_.path().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 ||
      here.st_dev == shm.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  std::string other = "/dev/shm/remoteccm-test-XXXXXX";
  ASSERT_NE(::mkdtemp(other.data()), nullptr);
  const struct Removed {
    fs::path path;
    ~Removed() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } removed{other};
  collected_ = fs::path(other) / "SITE.collected";
  std::ofstream writer(folder_ / "cdr_C_01_202611010000_1", std::ios::binary);
  writer << Records(1, 2) << std::flush;
  EXPECT_EQ(Import().records, 2);
  EXPECT_NE(log_.find("lies on another file system"), std::string::npos) << log_;
  writer << Record(3);
  writer.close();
  EXPECT_EQ(Import().records, 1);
  EXPECT_TRUE(fs::exists(folder_ / "cdr_C_01_202611010000_1"));
  EXPECT_EQ(Import(7, 2.0 / 24).files, 0);
  EXPECT_FALSE(fs::exists(folder_ / "cdr_C_01_202611010000_1"));
  EXPECT_EQ(testing::ReadFile(collected_ / "cdr_C_01_202611010000_1"), Records(1, 3));
  EXPECT_EQ(Rows(), 3);
}

}  // namespace
}  // namespace remoteccm
