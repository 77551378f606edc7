// What a run finds beside the destination when an earlier run was killed or failed: each state
// a kill or a damaged file can leave, resolved without losing, doubling or fusing a line.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "spool_recovery_fixture.h"
#include "util/ini_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

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

TEST_F(RecoveryTest, WithoutKeysADuplicateIsPossibleAndSaidSo) {
  LeaveOwedLines(2, true, false);
  const SpoolRecovery result = Recover();
  EXPECT_EQ(result.kind, SpoolRecovery::Kind::kAppended);
  EXPECT_EQ(Get(files_.destination), "old\r\nL1\r\nL2\r\n");
  EXPECT_NE(result.log_lines.front().find("a duplicate is possible"), std::string::npos);
}

// What cannot be resolved safely is kept and reported; it is never called appended.
TEST_F(RecoveryTest, DamageIsReportedAndEverythingKept) {
  ExpectEachDamageKept({
      {"spool truncated", [this] { fs::resize_file(files_.spool, 5); }},
      {"spool emptied", [this] { fs::resize_file(files_.spool, 0); }},
      {"spool replaced", [this] { Put(files_.spool, "L1\r\nL2\r\nLX\r\n"); }},
      {"spool removed", [this] { fs::remove(files_.spool); }},
      {"note garbage", [this] { Put(OwedNotePath(owner_), "\x01garbage"); }},
      {"keys cut", [this] { fs::resize_file(files_.keys, 3); }},
      {"destination changed", [this] { Put(files_.destination, "old\r\nXX"); }},
      {"database unreachable", [this] { lookup_fails_ = true; }},
  });
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

// The copy beside the profile was removed while its lines were owed (a clean-up, a restore of
// the program home): the note beside the destination is only a claim, borne out or not by the
// spool and the table. Lines go in only when their records are gone; the claimed start is never
// stored; what cannot be told is kept.
TEST_F(RecoveryTest, AMissingCopyIsCheckedAgainstTheTable) {
  struct Case {
    const char* what;
    bool deleted;
    bool keys;
    std::set<std::string> still_there;
    std::string destination;  // before the recovery, after "old\r\n"
    SpoolRecovery::Kind kind;
    std::string appended;
    bool unreachable = false;  // the table cannot be asked now
  };
  const Case cases[] = {
      {"committed", true, true, {}, "", SpoolRecovery::Kind::kAppended, "L1\r\nL2\r\n"},
      {"committed, appended",
       true,
       true,
       {},
       "L1\r\nL2\r\n",
       SpoolRecovery::Kind::kAlreadyThere,
       "L1\r\nL2\r\n"},
      {"one deleted by others", true, true, {"K2"}, "", SpoolRecovery::Kind::kAppended, "L1\r\n"},
      {"never committed", true, true, {"K1", "K2"}, "", SpoolRecovery::Kind::kDiscarded, ""},
      {"nothing deleted", false, true, {}, "", SpoolRecovery::Kind::kDiscarded, ""},
      // Appended, but the start after them never stored: the next pass writes them again.
      {"nothing deleted, appended",
       false,
       true,
       {},
       "L1\r\nL2\r\n",
       SpoolRecovery::Kind::kDiscarded,
       ""},
      {"no keys to ask by", true, false, {}, "", SpoolRecovery::Kind::kFailed, ""},
      {"the table unreachable", true, true, {}, "", SpoolRecovery::Kind::kFailed, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveSpoolFiles(files_);
    Put(files_.destination, "old\r\n");
    table_ = c.still_there;
    lookup_fails_ = c.unreachable;
    LeaveOwedLines(2, c.deleted, c.keys);
    fs::remove(OwedNotePath(owner_));
    Put(files_.destination, "old\r\n" + c.destination);
    EXPECT_EQ(Recover().kind, c.kind);
    EXPECT_EQ(Get(files_.destination), "old\r\n" + c.appended);
    EXPECT_EQ(Start(), "100");
    EXPECT_EQ(Kept(), c.kind == SpoolRecovery::Kind::kFailed);
    EXPECT_EQ(Gone(), c.kind != SpoolRecovery::Kind::kFailed);
  }
}

// A note beside the destination that names a profile this folder does not hold, or that this
// version cannot read, is kept and said, never taken for unmarked.
TEST_F(RecoveryTest, ANoteWithoutItsCopyIsNeverBelieved) {
  struct Case {
    const char* what;
    std::string note;
    SpoolRecovery::Kind kind;
  };
  LeaveOwedLines(2, true);
  const std::string text = Get(files_.note);
  const Case cases[] = {
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
