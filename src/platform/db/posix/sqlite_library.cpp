#include "platform/db/sqlite_library.h"

#include <sqlite3.h>

#include <mutex>

namespace remoteccm {
namespace {

// The flag that connections opened on this thread watch.
thread_local const std::atomic<bool>* t_cancelled = nullptr;

// SQLite asks this every kProgressSteps virtual-machine steps of a statement; a non-zero
// answer ends the statement with SQLITE_INTERRUPT.
constexpr int kProgressSteps = 10000;

int StopWhenCancelled(void* flag) {
  return static_cast<const std::atomic<bool>*>(flag)->load(std::memory_order_relaxed) ? 1 : 0;
}

// Runs for every connection SQLite opens in this process, on the opening thread.
int WatchNewConnection(sqlite3* db, const char** /*error*/,
                       const struct sqlite3_api_routines* /*api*/) {
  if (t_cancelled != nullptr) {
    // The flag is only read: SQLite's interface takes a plain pointer.
    sqlite3_progress_handler(db, kProgressSteps, StopWhenCancelled,
                             const_cast<std::atomic<bool>*>(t_cancelled));  // NOLINT
  }
  return SQLITE_OK;
}

}  // namespace

void PrepareSqliteLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Both fail harmlessly (SQLITE_MISUSE) when the library is in use already. Without memory
    // statistics no allocation takes the library's global lock; nothing here reads them.
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&WatchNewConnection));
  });
}

bool SqliteWatchReachesDriver() {
  PrepareSqliteLibrary();
  return true;  // the driver's SQLite is the process's, as the build links it
}

SqliteCancelWatch::SqliteCancelWatch(const std::atomic<bool>& cancelled)
    : previous_flag_(t_cancelled) {
  t_cancelled = &cancelled;
}

SqliteCancelWatch::~SqliteCancelWatch() { t_cancelled = previous_flag_; }

}  // namespace remoteccm
