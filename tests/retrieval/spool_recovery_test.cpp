// What a run finds beside the destination when an earlier run was killed or failed: each state
// a kill or a damaged file can leave, resolved without losing, doubling or fusing a line.
#include "retrieval/spool_recovery.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "support/scratch_dir.h"
#include "util/ini_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

class RecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    files_ = *ResolveDestination((dir_ / "CDR.TXT").string(), error);
    owner_ = (dir_ / "A.CCM").string();
    run_profile_ = owner_;
    WriteProfileValue(owner_, "Options", "SQLNewRecDate", "100");
    Put(files_.destination, "old\r\n");
  }
  static void Put(const fs::path& path, const std::string& text) { testing::WriteFile(path, text); }
  static std::string Get(const fs::path& path) {
    if (!fs::is_regular_file(path)) return "";  // a pipe would wait for a writer
    return testing::ReadFile(path);
  }

  // A marked spool of lines L1..Ln (`first` in place of L1 when given) with keys K1..Kn, owed
  // by profile A with start 500.
  void LeaveOwedLines(int n, bool deleted, bool keys = true, const std::string& first = "") {
    PassSpool spool(files_, OwedNotePath(owner_));
    spool.Open(keys);
    for (int i = 1; i <= n; ++i) {
      spool.AddLine(i == 1 && !first.empty() ? first : "L" + std::to_string(i),
                    "K" + std::to_string(i));
    }
    spool.MakeDurable();
    spool.MarkReady(Note(deleted));
  }

  ReadyNote Note(bool deleted) const {
    ReadyNote note;
    note.profile_name = "A";
    note.profile_file = FileIdentity(owner_);
    note.table = "CallDetailRecord";
    note.deleted = deleted;
    note.start = "500";
    return note;
  }

  static void ReplaceByPipe(const fs::path& path) {
    fs::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  }

  SpoolRecovery Recover() {
    const RecoveryRequest request{
        files_, run_profile_,
        [this](const fs::path& path) -> std::optional<OwingProfile> {
          if (!fs::exists(path)) return std::nullopt;
          return OwingProfile{owner_table_, files_.destination.string()};
        },
        [this](const fs::path& path, const std::vector<std::string>& keys) {
          asked_.push_back(path.string());
          ++lookups_;
          if (lookup_fails_) throw std::runtime_error("the server went away");
          std::vector<bool> present;
          present.reserve(keys.size());
          for (const std::string& key : keys) present.push_back(table_.count(key) > 0);
          return present;
        }};
    return RecoverSpool(request);
  }

  std::string Start() { return ReadProfileValue(owner_, "Options", "SQLNewRecDate"); }
  bool Kept() { return fs::exists(files_.spool) && fs::exists(files_.note); }
  bool Gone() {
    return !fs::exists(files_.spool) && !fs::exists(files_.note) && !fs::exists(files_.keys);
  }

  testing::ScratchDir dir_;
  DestinationFiles files_;
  std::string owner_;
  std::string run_profile_;                       // the profile of the recovering run
  std::string owner_table_ = "CallDetailRecord";  // what the owing profile's file says
  std::vector<std::string> asked_;                // the profiles whose databases were asked
  std::set<std::string> table_;                   // the keys still in the table
  bool lookup_fails_ = false;
  int lookups_ = 0;
};

TEST_F(RecoveryTest, UnmarkedSpoolIsDiscarded) {
  PassSpool spool(files_, OwedNotePath(owner_));
  spool.Open(true);
  spool.AddLine("never owed", "K1");
  spool.MakeDurable();
  EXPECT_EQ(Recover().kind, SpoolRecovery::Kind::kDiscarded);
  EXPECT_EQ(Get(files_.destination), "old\r\n");
  EXPECT_TRUE(Gone());
  EXPECT_EQ(Recover().kind, SpoolRecovery::Kind::kNone);
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

// Each state the destination can be in when the run was killed around its append.
TEST_F(RecoveryTest, OwedLinesGoInExactlyOnce) {
  const std::string lines = "L1\r\nL2\r\nL3\r\n";
  struct Case {
    const char* what;
    std::string destination;  // before the recovery
    SpoolRecovery::Kind kind;
  };
  const Case cases[] = {
      {"nothing appended", "old\r\n", SpoolRecovery::Kind::kAppended},
      {"cut mid-line", "old\r\nL1\r\nL", SpoolRecovery::Kind::kAppended},
      {"all appended", "old\r\n" + lines, SpoolRecovery::Kind::kAlreadyThere},
      {"appended, then more", "old\r\n" + lines + "later\r\n", SpoolRecovery::Kind::kAlreadyThere},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteProfileValue(owner_, "Options", "SQLNewRecDate", "100");
    Put(files_.destination, "old\r\n");
    LeaveOwedLines(3, false);
    Put(files_.destination, c.destination);
    const SpoolRecovery result = Recover();
    EXPECT_EQ(result.kind, c.kind);
    const bool more = c.destination.ends_with("later\r\n");
    EXPECT_EQ(Get(files_.destination), "old\r\n" + lines + (more ? "later\r\n" : ""));
    EXPECT_EQ(Start(), "500");
    EXPECT_TRUE(Gone());
    EXPECT_EQ(lookups_, 0);  // nothing was deleted: the database is not asked
  }
}

// Whether the killed run's deletion was committed is asked of the table by key.
TEST_F(RecoveryTest, TheTableTellsWhetherTheDeletionWasCommitted) {
  struct Case {
    const char* what;
    std::set<std::string> still_there;
    SpoolRecovery::Kind kind;
    std::string appended;
    std::string start;
  };
  const Case cases[] = {
      {"never committed", {"K1", "K2", "K3", "K4"}, SpoolRecovery::Kind::kDiscarded, "", "100"},
      {"committed", {}, SpoolRecovery::Kind::kAppended, "L1\r\nL2\r\nL3\r\nL4\r\n", "500"},
      {"some deleted by others",
       {"K2", "K4"},
       SpoolRecovery::Kind::kAppended,
       "L1\r\nL3\r\n",
       "500"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteProfileValue(owner_, "Options", "SQLNewRecDate", "100");
    Put(files_.destination, "old\r\n");
    table_ = c.still_there;
    LeaveOwedLines(4, true);
    EXPECT_EQ(Recover().kind, c.kind);
    EXPECT_EQ(Get(files_.destination), "old\r\n" + c.appended);
    EXPECT_EQ(Start(), c.start);
    EXPECT_TRUE(Gone());
  }
}

// A value holding CR LF makes its line look like two; the spool is still what was written.
TEST_F(RecoveryTest, ALineHoldingCrLfGoesInWhole) {
  LeaveOwedLines(2, true, true, "L1 a\r\nb");
  EXPECT_EQ(Recover().kind, SpoolRecovery::Kind::kAppended);
  EXPECT_EQ(Get(files_.destination), "old\r\nL1 a\r\nb\r\nL2\r\n");
  EXPECT_EQ(Start(), "500");
  EXPECT_TRUE(Gone());
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

TEST_F(RecoveryTest, WithoutKeysADuplicateIsPossibleAndSaidSo) {
  LeaveOwedLines(2, true, false);
  const SpoolRecovery result = Recover();
  EXPECT_EQ(result.kind, SpoolRecovery::Kind::kAppended);
  EXPECT_EQ(Get(files_.destination), "old\r\nL1\r\nL2\r\n");
  EXPECT_NE(result.log_lines.front().find("a duplicate is possible"), std::string::npos);
}

// What cannot be resolved safely is kept and reported; it is never called appended.
TEST_F(RecoveryTest, DamageIsReportedAndEverythingKept) {
  struct Case {
    const char* what;
    std::function<void()> damage;
  };
  const Case cases[] = {
      {"spool truncated", [this] { fs::resize_file(files_.spool, 5); }},
      {"spool emptied", [this] { fs::resize_file(files_.spool, 0); }},
      {"spool replaced", [this] { Put(files_.spool, "L1\r\nL2\r\nLX\r\n"); }},
      {"spool removed", [this] { fs::remove(files_.spool); }},
      {"note garbage", [this] { Put(OwedNotePath(owner_), "\x01garbage"); }},
      {"keys cut", [this] { fs::resize_file(files_.keys, 3); }},
      {"destination changed", [this] { Put(files_.destination, "old\r\nXX"); }},
      {"database unreachable", [this] { lookup_fails_ = true; }},
      // A pipe left in place of a file must not hold the run until a writer comes.
      {"note a pipe", [this] { ReplaceByPipe(OwedNotePath(owner_)); }},
      {"spool a pipe", [this] { ReplaceByPipe(files_.spool); }},
      {"keys a pipe", [this] { ReplaceByPipe(files_.keys); }},
      {"destination a pipe", [this] { ReplaceByPipe(files_.destination); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveSpoolFiles(files_);
    fs::remove(OwedNotePath(owner_));
    Put(files_.destination, "old\r\n");
    lookup_fails_ = false;
    LeaveOwedLines(3, true);
    const std::string spool_before = fs::exists(files_.spool) ? Get(files_.spool) : "";
    c.damage();
    const std::string destination_before = Get(files_.destination);
    const SpoolRecovery result = Recover();
    EXPECT_EQ(result.kind, SpoolRecovery::Kind::kFailed);
    EXPECT_EQ(Get(files_.destination), destination_before);
    EXPECT_EQ(Start(), "100");
    EXPECT_TRUE(fs::exists(files_.note));
    for (const std::string& line : result.log_lines) {
      EXPECT_EQ(line.find("Appended"), std::string::npos) << line;
    }
  }
}

TEST_F(RecoveryTest, TheStartGoesOnlyToTheProfileThatOwedTheLines) {
  LeaveOwedLines(1, false);
  fs::remove(owner_);  // the profile was removed meanwhile: its lines still go in
  const SpoolRecovery result = Recover();
  EXPECT_EQ(result.kind, SpoolRecovery::Kind::kAppended);
  EXPECT_FALSE(result.stored_start.has_value());
  EXPECT_FALSE(fs::exists(owner_));
  EXPECT_EQ(Get(files_.destination), "old\r\nL1\r\n");
}

// The note beside the destination lies in a folder others may write: whatever it, or the keys
// beside it, say, the lines owed after a committed deletion go in, and the table is asked only
// over the owing profile's own connection.
TEST_F(RecoveryTest, NothingBesideTheDestinationSteersTheRecovery) {
  struct Case {
    const char* what;
    std::function<void()> plant;
    SpoolRecovery::Kind kind;
  };
  const auto edit_note = [this](const std::string& from, const std::string& to) {
    std::string text = Get(files_.note);
    text.replace(text.find(from), from.size(), to);
    Put(files_.note, text);
  };
  const Case cases[] = {
      {"another table", [&] { edit_note("table CallDetailRecord", "table Decoy"); },
       SpoolRecovery::Kind::kAppended},
      {"another profile", [&] { edit_note("profile A", "profile B"); },
       SpoolRecovery::Kind::kAppended},
      {"a note of the old version naming a path",
       [this] { Put(files_.note, "remoteccm spool 2\nprofile /tmp/B.CCM\ntable Decoy\nend\n"); },
       SpoolRecovery::Kind::kAppended},
      {"the note removed", [this] { fs::remove(files_.note); }, SpoolRecovery::Kind::kAppended},
      // Keys of records still in the table would make the lines look never committed.
      {"keys of other records",
       [this] {
         std::string keys = Get(files_.keys);
         for (char& c : keys) c = c == 'K' ? 'X' : c;
         Put(files_.keys, keys);
       },
       SpoolRecovery::Kind::kFailed},
  };
  table_ = {"X1", "X2", "X3"};  // K1..K3 were deleted; X1..X3 are other records
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteProfileValue(owner_, "Options", "SQLNewRecDate", "100");
    Put(files_.destination, "old\r\n");
    fs::remove(OwedNotePath(owner_));
    asked_.clear();
    LeaveOwedLines(3, true);
    WriteProfileValue((dir_ / "B.CCM").string(), "Options", "SQLNewRecDate", "100");
    c.plant();
    const SpoolRecovery result = Recover();
    EXPECT_EQ(result.kind, c.kind);
    const bool appended = c.kind == SpoolRecovery::Kind::kAppended;
    EXPECT_EQ(Get(files_.destination), appended ? "old\r\nL1\r\nL2\r\nL3\r\n" : "old\r\n");
    EXPECT_EQ(Start(), appended ? "500" : "100");
    EXPECT_EQ(fs::exists(OwedNotePath(owner_)), !appended);
    for (const std::string& path : asked_) EXPECT_EQ(path, owner_);
  }
}

// Without the copy beside a profile, nothing is owed; a note beside the destination that names
// a profile this folder does not hold is kept and said, never taken for unmarked.
TEST_F(RecoveryTest, ANoteWithoutItsCopyIsNeverBelieved) {
  struct Case {
    const char* what;
    std::string note;
    SpoolRecovery::Kind kind;
  };
  LeaveOwedLines(2, true);
  const std::string text = Get(files_.note);
  const Case cases[] = {
      {"its profile's copy is gone: delivered, or never owed", text,
       SpoolRecovery::Kind::kDiscarded},
      {"a profile that is not here",
       [&] {
         std::string other = text;
         other.replace(other.find("profile A"), 9, "profile ELSEWHERE");
         return other;
       }(),
       SpoolRecovery::Kind::kFailed},
      {"an earlier version's note", "remoteccm spool 2\nprofile " + owner_ + "\nend\n",
       SpoolRecovery::Kind::kFailed},
      {"garbage", "\x1b[2J", SpoolRecovery::Kind::kFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(OwedNotePath(owner_));
    Put(files_.spool, "L1\r\nL2\r\n");
    Put(files_.note, c.note);
    const SpoolRecovery result = Recover();
    EXPECT_EQ(result.kind, c.kind);
    EXPECT_EQ(Get(files_.destination), "old\r\n");
    EXPECT_EQ(fs::exists(files_.spool), c.kind == SpoolRecovery::Kind::kFailed);
    EXPECT_EQ(lookups_, 0);
  }
}

// The owing profile decides: renamed, it keeps its lines under its new name; reading another
// table now, its lines are kept until it reads theirs again.
TEST_F(RecoveryTest, TheOwingProfileRenamedOrChanged) {
  LeaveOwedLines(2, true);
  owner_table_ = "OtherTable";
  EXPECT_EQ(Recover().kind, SpoolRecovery::Kind::kFailed);
  EXPECT_TRUE(Kept());
  owner_table_ = "CallDetailRecord";

  const std::string renamed = (dir_ / "RENAMED.CCM").string();
  fs::rename(owner_, renamed);
  run_profile_ = renamed;
  const SpoolRecovery result = Recover();
  EXPECT_EQ(result.kind, SpoolRecovery::Kind::kAppended);
  EXPECT_EQ(result.profile_path, renamed);
  EXPECT_EQ(ReadProfileValue(renamed, "Options", "SQLNewRecDate"), "500");
  EXPECT_FALSE(fs::exists(OwedNotePath(owner_)));
  EXPECT_FALSE(fs::exists(OwedNotePath(renamed)));
  EXPECT_TRUE(Gone());
}

}  // namespace
}  // namespace remoteccm
