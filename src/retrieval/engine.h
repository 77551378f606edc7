// The retrieval engine: one run of a profile, from taking the destination's lock and
// connecting to the CDR database through the passes of the poll cycle to the end of the run,
// and the command that deletes all records. Synchronous and window-free; it reports through
// an EngineObserver on the thread that runs it. One engine runs many runs, one at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "companion/companion_link.h"
#include "platform/dialup/dialer.h"
#include "profile/profile_file.h"
#include "profile/profile_settings.h"
#include "retrieval/destination.h"
#include "retrieval/engine_observer.h"
#include "retrieval/late_arrivals.h"
#include "retrieval/pass_spool.h"
#include "retrieval/run_status.h"
#include "retrieval/spool_recovery.h"
#include "retrieval/transfer_pass.h"
#include "util/clock.h"

namespace remoteccm {

class DbConnection;

class Engine {
 public:
  Engine(const ProfileEnvironment& env, EngineObserver& observer, Clock& clock, Dialer& dialer,
         CompanionLink* companion);
  ~Engine();

  // Reloads the profile at profile_path, takes its destination's lock, dials when it says so,
  // runs the poll cycle. Never throws: anything unexpected ends the run as failed.
  RunStatus RunProfile(const std::string& profile_path);

  // Empties the profile's CDR table with one statement; reports through `report`
  // (the log when null). Returns whether the deletion was done.
  bool DeleteAllRecords(const ProfileSettings& settings,
                        const std::function<void(std::string_view)>& report = nullptr);

  // Safe from any thread (not from a signal handler): the run stops as soon as it can; the
  // database call, connect, lock wait or pause in progress is cancelled. Each run starts with
  // the request cleared.
  void RequestAbort();
  bool AbortRequested() const { return abort_requested_.load(); }

  void set_hooks(EngineHooks hooks) { hooks_ = std::move(hooks); }

  // What the last run (or delete-all) did.
  const RunSummary& LastRun() const { return summary_; }

  // The one routine that writes a log line: to the observer, and to the companion.
  void AddLogLine(std::string_view line, LogPriority priority = LogPriority::kInfo);

  // The settings of the run in progress (or the last one), as reloaded at its start.
  const ProfileSettings& Settings() const { return settings_; }

 private:
  RunStatus Run(const std::string& profile_path);
  RunStatus PollCycle();
  bool ImportCdrFiles();
  int OpenCdrDatabase();
  ProfileSettings LoadSourceProfile(const std::filesystem::path& path) const;
  double ClockAheadOfServer();
  bool PrepareDestination();
  bool RecoverEarlierDestination();
  bool Recover(const DestinationFiles& files, SpoolRecovery::Kind* kind);
  std::optional<OwingProfile> ReadOwingProfile(const std::filesystem::path& path);
  LateArrivalMemory LoadLateArrivals(const std::filesystem::path& path, double now);
  std::vector<bool> LookUpKeys(const std::filesystem::path& owner_path,
                               const std::vector<std::string>& keys);
  void Pause(int seconds);
  void UpdateProgress(double first, double span);
  void LogError(std::string_view line);
  void SetOtherConnection(DbConnection* connection);

  const ProfileEnvironment& env_;
  EngineObserver& observer_;
  Clock& clock_;
  Dialer& dialer_;
  CompanionLink* companion_;
  EngineHooks hooks_;
  std::atomic<bool> abort_requested_{false};
  std::unique_ptr<DbConnection> database_;
  // A second connection (another profile's database, asked during recovery) that an abort
  // must reach too.
  std::mutex other_mutex_;
  DbConnection* other_connection_ = nullptr;

  // Per run, set afresh at its start.
  ProfileSettings settings_;
  std::optional<DestinationFiles> files_;
  std::optional<LockFile> lock_;
  RunSummary summary_;
  RunStatus connect_status_ = RunStatus::kSuccess;
  bool progress_shown_ = false;
  double range_start_ = 0;
  double range_end_ = 0;
};

}  // namespace remoteccm
