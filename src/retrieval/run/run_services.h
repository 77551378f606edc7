// What the engine lends each run for its length, and a run its passes: the injected services,
// the hooks that tests stop and watch a run with, and the abort that reaches the run's
// connections.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string_view>
#include <vector>

#include "cdrfiles/cdr_file_import.h"
#include "platform/db/database.h"
#include "platform/dialup/dialer.h"
#include "profile/profile_file.h"
#include "retrieval/run/engine_observer.h"
#include "util/clock.h"

namespace remoteccm {

// The points between the phases where a run may be killed; tests stop a run at each.
enum class PassPoint {
  kBackupOpen,    // the backup file is open for the pass's lines (with SQLBackup=Y)
  kSpoolDurable,  // the lines are on disk, nothing deleted yet
  kDeleted,       // the deletion ran, not committed
  kOwedNoted,     // the lines are owed (noted beside the profile, not yet beside the destination)
  kReadyNoted,    // the lines are owed to the destination, the deletion not committed
  kCommitted,     // the deletion is committed, nothing appended
  kMidAppend,     // part of the lines are appended
  kAppended,      // all lines are appended, the start not stored
  kStartStored,   // the start is stored, the spool not yet removed
  kUnmarked,      // the lines are no longer owed, the spool not yet removed
};

struct EngineHooks {
  // Called between a pass's selection and its deletion (tests insert a row here).
  std::function<void(DbConnection&)> before_deletion;
  // Called once the run's connection to the CDR database is open (tests watch its calls).
  std::function<void(DbConnection&)> connected;
  // Called at each point of a pass.
  std::function<void(PassPoint)> at_point;
  // Called at each point of a CDR file's import.
  std::function<void(CdrImportPoint)> at_import_point;
  // Every column read as text, integers too (tests compare the lines of both ways).
  bool integers_as_text = false;
};

// The request to stop, and the connections it must reach. Safe from any thread (not from a
// signal handler).
class AbortPath {
 public:
  void Clear() { requested_.store(false); }
  // Sets the request and cancels every connection reached now.
  void Request();
  bool Requested() const { return requested_.load(); }

  // While it lives, a request cancels the connection; at once when one came already.
  class Reach {
   public:
    Reach(AbortPath& path, DbConnection& connection);
    ~Reach();
    Reach(const Reach&) = delete;
    Reach& operator=(const Reach&) = delete;

   private:
    AbortPath& path_;
    DbConnection& connection_;
  };

 private:
  std::atomic<bool> requested_{false};
  std::mutex mutex_;
  std::vector<DbConnection*> reached_;
};

// What the engine lends a run for its length.
struct RunServices {
  const ProfileEnvironment& env;
  EngineObserver& observer;
  Clock& clock;
  Dialer& dialer;
  const EngineHooks& hooks;
  AbortPath& abort;
  std::function<void(std::string_view, LogPriority)> log;  // the engine's one log routine
};

}  // namespace remoteccm
