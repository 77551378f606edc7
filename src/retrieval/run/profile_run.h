// One run of a profile, from reading its file to the summary of what it did. The engine makes
// one for each run and drops it at the end, so nothing a run learns reaches the next one. The
// run goes through its phases in order (claiming the destination, importing the CDR files of a
// files profile, dialing, connecting, recovering what an earlier run owes, the passes, hanging
// up); each tells how it ended.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/database.h"
#include "platform/dialup/dialer.h"
#include "profile/profile_file.h"
#include "profile/profile_settings.h"
#include "retrieval/report/run_status.h"
#include "retrieval/run/engine_observer.h"
#include "retrieval/run/late_arrivals.h"
#include "retrieval/run/run_services.h"
#include "retrieval/run/transfer_pass.h"
#include "retrieval/spool/destination.h"
#include "retrieval/spool/pass_spool.h"
#include "retrieval/spool/spool_recovery.h"
#include "timezone/time_conversion.h"
#include "util/clock.h"

namespace remoteccm {

class ProfileRun {
 public:
  ProfileRun(const RunServices& services, const std::string& profile_path);
  ProfileRun(const ProfileRun&) = delete;
  ProfileRun& operator=(const ProfileRun&) = delete;

  // The whole run. Never throws: anything unexpected ends it as failed.
  RunStatus Execute();

  // The settings as reloaded at the start (the start point moves on with the passes).
  const ProfileSettings& settings() const { return settings_; }
  // What the run did, complete once Execute has returned.
  const RunSummary& summary() const { return summary_; }

 private:
  // How taking the destination for this run ended.
  enum class Claim {
    kHeld,
    kProfileUnreadable,
    kDestinationUnusable,
    kLocked,
  };
  // How the import of a files profile's CDR files ended.
  enum class Import {
    kImported,
    kFolderUnusable,    // the CDR file folder cannot be read: the source cannot be reached
    kDatabaseUnusable,  // the embedded database (or its lock) cannot be written
    kRefused,           // another profile reads a kind of the folder's files
    kStopped,           // the run was asked to stop during the import
  };
  // How the dial ended: whether the dialer took it (code 0) and the link came up.
  struct DialResult {
    int code = 0;
    bool connected = false;
  };
  enum class Connect { kConnected, kSettingsInvalid, kFailed, kAborted };
  // Whether the destination holds nothing an earlier run owes and can be written.
  enum class Ready { kReady, kStopped };
  // The stretch of time the progress bar shows.
  struct Span {
    double first = 0;
    double last = 0;
  };
  // What the passes have done so far.
  struct Tally {
    std::int64_t total = 0;
    int failed_in_row = 0;
    bool any_failed = false;
  };

  RunStatus Run();
  Claim ClaimDestination();
  bool TakeLock();
  Import ImportCdrFiles();
  void SayLateRecords(bool looks_back);
  RunStatus DialAndPoll();
  DialResult Dial();
  void WaitForLink();
  void HangUp(int code);
  RunStatus PollCycle();
  Connect ConnectDatabase();
  bool ConnectionSettingsUsable(const std::string& shown);
  Connect OpenConnection();
  Ready PrepareDestination();
  Ready RecoverEarlierDestination();
  SpoolRecovery::Kind Recover(const DestinationFiles& files);
  ProfileSettings LoadSourceProfile(const std::filesystem::path& path) const;
  std::optional<OwingProfile> ReadOwingProfile(const std::filesystem::path& path);
  std::vector<bool> LookUpKeys(const std::filesystem::path& owner_path,
                               const std::vector<std::string>& keys);
  RunStatus RunPasses();
  LateArrivalMemory LoadLateArrivals(const std::filesystem::path& path, double now);
  void WarnStartInFuture(const TimeConverter& converter, double now);
  Span ShowSelection(const TimeConverter& converter, double now);
  double ClockAheadOfServer();
  RunStatus PassLoop(PassContext& context, const Span& span);
  bool AfterPass(const PassResult& pass, Tally& tally);
  bool ModeDone(const PassResult& pass, std::int64_t records) const;
  void Pause(int seconds);
  void UpdateProgress(const Span& span);
  void NoteWhatIsStored();
  bool Aborted() const { return services_.abort.Requested(); }
  void Log(std::string_view line, LogPriority priority = LogPriority::kInfo);
  void LogError(std::string_view line);

  const RunServices& services_;
  const std::string profile_path_;
  ProfileSettings settings_;
  RunSummary summary_;
  // Records this run's import brought dated before the start, and before its look-back too,
  // until the run says them.
  struct LateRecords {
    std::int64_t before_start = 0;
    std::int64_t past_look_back = 0;
  } late_records_;
  bool looks_back_ = false;  // the memory of earlier runs holds: the passes look back
  std::optional<DestinationFiles> files_;
  std::optional<LockFile> lock_;
  DbConnection database_;
  const AbortPath::Reach reach_database_{services_.abort, database_};
  bool progress_shown_ = false;
  DateRange range_;
};

}  // namespace remoteccm
