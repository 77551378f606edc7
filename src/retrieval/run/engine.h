// The retrieval engine: one run of a profile, from taking the destination's lock and
// connecting to the CDR database through the passes of the poll cycle to the end of the run,
// and the command that deletes all records. Synchronous and window-free; it reports through
// an EngineObserver on the thread that runs it. One engine runs many runs, one at a time: each
// is a ProfileRun of its own, and the engine keeps only what it lends them and the abort.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "companion/companion_link.h"
#include "platform/dialup/dialer.h"
#include "profile/profile_file.h"
#include "profile/profile_settings.h"
#include "retrieval/report/run_status.h"
#include "retrieval/run/engine_observer.h"
#include "retrieval/run/profile_run.h"
#include "retrieval/run/transfer_pass.h"
#include "util/clock.h"

namespace remoteccm {

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
  // database call, connect, lock wait or pause in progress is cancelled. A request made before
  // the run starts stops it at once: RunProfile and DeleteAllRecords keep it as they find it.
  void RequestAbort() { abort_.Request(); }
  // Clears the request, on the thread that asks for a run (or a delete-all), before anything
  // that may ask to stop that run is started: a stop asked for at any moment after is kept.
  void ClearAbort() { abort_.Clear(); }

  void set_hooks(EngineHooks hooks) { hooks_ = std::move(hooks); }

  // What the last run (or delete-all) did.
  const RunSummary& LastRun() const { return last_run_; }

  // The one routine that writes a log line: to the observer, and to the companion.
  void AddLogLine(std::string_view line, LogPriority priority = LogPriority::kInfo);

  // The settings of the run in progress (or the last one), as reloaded at its start.
  const ProfileSettings& Settings() const {
    return run_ != nullptr ? run_->settings() : last_settings_;
  }

 private:
  bool DeleteTable(const ProfileSettings& settings,
                   const std::function<void(std::string_view)>& say);

  const ProfileEnvironment& env_;
  EngineObserver& observer_;
  Clock& clock_;
  Dialer& dialer_;
  CompanionLink* companion_;
  EngineHooks hooks_;
  AbortPath abort_;
  // The run in progress, made and dropped by RunProfile; what the last one left behind.
  const ProfileRun* run_ = nullptr;
  RunSummary last_run_;
  ProfileSettings last_settings_;
};

}  // namespace remoteccm
