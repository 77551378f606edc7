// The engine's fault tests: a few calls on the server, and destinations that cannot be written,
// each of which a run must refuse before it deletes anything.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine_fixture.h"

namespace remoteccm::testing {

inline std::vector<Call> SomeCalls(int n) {
  std::vector<Call> calls;
  for (int id = 1; id <= n; ++id) {
    const std::int64_t end = Utc(2026, 11, 2) + id * 60;
    calls.push_back(Call{id, end - 30, end, "2001", "0044" + std::to_string(id), 30, ""});
  }
  return calls;
}

class EngineFaultsTest : public EngineTest {
 protected:
  struct UnwritableDestination {
    const char* what;
    std::filesystem::path destination;
    std::function<bool()> make;  // false: this machine cannot make the case
    const char* overwrite = "N";
  };

  // Whatever makes the destination (or its backup file) unwritable is found before anything is
  // deleted: each run fails with the five calls still on the server.
  void ExpectRefusedBeforeDeleting(const std::vector<UnwritableDestination>& cases) {
    Insert(SomeCalls(5));
    Set("ConnectSQLMode", "All Records");
    Set("DeleteRecs", "Y");
    Set("SQLBackup", "Y");
    for (const UnwritableDestination& c : cases) {
      SCOPED_TRACE(c.what);
      if (!c.make()) {
        ADD_FAILURE() << "cannot make " << c.what << " here";
        continue;
      }
      Set("DestinationFile", c.destination.string());
      Set("Overwrite", c.overwrite);
      EXPECT_EQ(Run(), RunStatus::kPassFailed);
      EXPECT_EQ(ServerCount(), 5);
      EXPECT_FALSE(engine_->LastRun().last_error.empty());
    }
  }

  std::filesystem::path out_ = dir_ / "out";
};

}  // namespace remoteccm::testing
