// What a killed or failed run leaves beside the destination, made for the recovery tests: a
// spool of owed lines with its note and keys, the owing profile, and the table the recovery
// asks.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "retrieval/spool/spool_recovery.h"
#include "support/scratch_dir.h"
#include "util/ini_file.h"

namespace remoteccm {

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
  static void Put(const std::filesystem::path& path, const std::string& text) {
    testing::WriteFile(path, text);
  }
  static std::string Get(const std::filesystem::path& path) {
    if (!std::filesystem::is_regular_file(path)) return "";  // a pipe would wait for a writer
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

  SpoolRecovery Recover() {
    const RecoveryRequest request{
        files_, run_profile_,
        [this](const std::filesystem::path& path) -> std::optional<OwingProfile> {
          if (!std::filesystem::exists(path)) return std::nullopt;
          return OwingProfile{owner_table_, files_.destination.string()};
        },
        [this](const std::filesystem::path& path, const std::vector<std::string>& keys) {
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

  struct Damage {
    const char* what;
    std::function<void()> damage;
  };
  // Each damage done to what a killed run left: the recovery fails, says nothing was appended,
  // and keeps everything as it was.
  void ExpectEachDamageKept(const std::vector<Damage>& cases) {
    for (const Damage& c : cases) {
      SCOPED_TRACE(c.what);
      RemoveSpoolFiles(files_);
      std::filesystem::remove(OwedNotePath(owner_));
      Put(files_.destination, "old\r\n");
      lookup_fails_ = false;
      LeaveOwedLines(3, true);
      c.damage();
      const std::string destination_before = Get(files_.destination);
      const SpoolRecovery result = Recover();
      EXPECT_EQ(result.kind, SpoolRecovery::Kind::kFailed);
      EXPECT_EQ(Get(files_.destination), destination_before);
      EXPECT_EQ(Start(), "100");
      EXPECT_TRUE(std::filesystem::exists(files_.note));
      for (const std::string& line : result.log_lines) {
        EXPECT_EQ(line.find("Appended"), std::string::npos) << line;
      }
    }
  }

  std::string Start() { return ReadProfileValue(owner_, "Options", "SQLNewRecDate"); }
  bool Kept() {
    return std::filesystem::exists(files_.spool) && std::filesystem::exists(files_.note);
  }
  bool Gone() {
    return !std::filesystem::exists(files_.spool) && !std::filesystem::exists(files_.note) &&
           !std::filesystem::exists(files_.keys);
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

}  // namespace remoteccm
