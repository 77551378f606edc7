// The retrieval engine: one run of a profile, from connecting to the CDR database through the
// passes of the poll cycle to the end of the run, and the command that deletes all records.
// Synchronous and window-free; it reports through an EngineObserver.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "companion/companion_link.h"
#include "platform/dialup/dialer.h"
#include "profile/profile_file.h"
#include "profile/profile_settings.h"
#include "retrieval/engine_observer.h"
#include "retrieval/run_status.h"
#include "util/clock.h"

namespace remoteccm {

class DbConnection;
struct Statement;

struct EngineHooks {
  // Called between a pass's selection and its deletion (tests insert a row here).
  std::function<void(DbConnection&)> before_deletion;
};

class Engine {
 public:
  Engine(const ProfileEnvironment& env, EngineObserver& observer, Clock& clock, Dialer& dialer,
         CompanionLink* companion);
  ~Engine();

  // Reloads the profile at profile_path, dials when it says so, runs the poll cycle.
  RunStatus RunProfile(const std::string& profile_path);

  // Empties the profile's CDR table with one statement; reports through `report`
  // (the log when null). Returns whether the deletion was done.
  bool DeleteAllRecords(const ProfileSettings& settings,
                        const std::function<void(std::string_view)>& report = nullptr);

  // Safe from any thread and from a signal handler: the pass stops after its current record.
  void RequestAbort() { abort_requested_.store(true); }
  bool AbortRequested() const { return abort_requested_.load(); }

  void set_hooks(EngineHooks hooks) { hooks_ = std::move(hooks); }

  // The one routine that writes a log line: to the observer, and to the companion.
  void AddLogLine(std::string_view line);

 private:
  RunStatus PollCycle();
  int OpenCdrDatabase();
  std::int64_t TransferPass();
  bool PrepareDestination();
  void Pause(int seconds);
  void Show(const Statement& statement);
  void UpdateProgress(double first, double span);

  const ProfileEnvironment& env_;
  EngineObserver& observer_;
  Clock& clock_;
  Dialer& dialer_;
  CompanionLink* companion_;
  EngineHooks hooks_;
  std::atomic<bool> abort_requested_{false};

  ProfileSettings settings_;
  std::unique_ptr<DbConnection> database_;
  // Per run.
  RunStatus connect_status_ = RunStatus::kSuccess;
  bool destination_prepared_ = false;
  bool write_failed_ = false;  // a file could not be written: the run ends
  bool pass_failed_ = false;   // the last pass failed
  bool progress_shown_ = false;
  double range_start_ = 0;
  double range_end_ = 0;
  bool passes_done_ = false;
};

}  // namespace remoteccm
