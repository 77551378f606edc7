// What only POSIX file systems can leave beside the destination: links and FIFOs in place of
// its files. And a huge spool recovered in little memory, measured in a child process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "spool_recovery_fixture.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

void ReplaceByPipe(const fs::path& path) {
  fs::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
}

// Links left in place of the spool and its keys must not send the lines elsewhere.
TEST_F(RecoveryTest, ASpoolIsANewFileNeverALinkLeftInItsPlace) {
  fs::create_symlink(dir_ / "elsewhere", files_.spool);
  fs::create_symlink(dir_ / "elsewhere-keys", files_.keys);
  EXPECT_EQ(Recover().kind, SpoolRecovery::Kind::kNone);
  PassSpool spool(files_, OwedNotePath(owner_));
  spool.Open(true);
  spool.AddLine("L1", "K1");
  spool.MakeDurable();
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere"));
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere-keys"));
  EXPECT_EQ(Get(files_.spool), "L1\r\n");
  EXPECT_FALSE(fs::is_symlink(files_.keys));
}

// A pipe left in place of a file must not hold the run until a writer comes.
TEST_F(RecoveryTest, APipeInPlaceOfAFileIsReportedAndEverythingKept) {
  ExpectEachDamageKept({
      {"note a pipe", [this] { ReplaceByPipe(OwedNotePath(owner_)); }},
      {"spool a pipe", [this] { ReplaceByPipe(files_.spool); }},
      {"keys a pipe", [this] { ReplaceByPipe(files_.keys); }},
      {"destination a pipe", [this] { ReplaceByPipe(files_.destination); }},
  });
}

// A line of /proc/self/status, such as "VmRSS:", in bytes.
std::uintmax_t StatusBytes(const std::string& field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(field)) return std::stoull(line.substr(field.size())) * 1024;
  }
  return 0;
}

// A pass can spool a whole table: its recovery reads the spool a block at a time. Measured in
// a child process, by its peak resident memory.
TEST_F(RecoveryTest, AHugeSpoolIsRecoveredInLittleMemory) {
  constexpr int kLines = 65536;
  const std::string text(4095, 'x');  // CR LF ends some lines across a read's block boundary
  PassSpool spool(files_, OwedNotePath(owner_));
  spool.Open(true);
  for (int i = 1; i <= kLines; ++i) {
    const std::string key = "K" + std::to_string(i);
    spool.AddLine(text, key);
    if (i % 2 == 1) table_.insert(key);  // half the records are still in the table
  }
  spool.MakeDurable();
  spool.MarkReady(Note(true));
  const std::uintmax_t spool_bytes = fs::file_size(files_.spool);
  ASSERT_EQ(spool_bytes, std::uintmax_t{kLines} * 4097);

  // The child starts with the pages of this process (and, under AddressSanitizer, its freed
  // memory): what counts is how far recovery raises its peak above that.
  const pid_t child = ::fork();
  if (child == 0) {
    const std::uintmax_t before = StatusBytes("VmRSS:");
    const bool appended = Recover().kind == SpoolRecovery::Kind::kAppended &&
                          fs::file_size(files_.destination) == 5 + spool_bytes / 2;
    const std::uintmax_t growth = StatusBytes("VmHWM:") - before;
    std::fprintf(stderr, "recovery raised the peak by %ju MiB\n", growth >> 20);
    ::_exit(!appended ? 1 : growth >= spool_bytes / 4 ? 2 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "status " << status << " (1: not appended, 2: too much memory)";
  EXPECT_TRUE(Gone());
}

}  // namespace
}  // namespace remoteccm
