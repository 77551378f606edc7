// The SQLite library that the SQLite ODBC driver runs on, set up by the process: once, before
// the first connection, and for each connection the driver opens. On POSIX it is the one this
// process links; on Windows the sqlite3.dll a driver may share, when there is one (a driver
// with SQLite built in cannot be reached, and its statements are cancelled through ODBC).
#pragma once

#include <atomic>

namespace remoteccm {

// Call before the first connection (the ODBC environment does). Switches SQLite to its
// multi-thread mode and off its memory statistics, so that no call and no allocation takes a
// lock (40 % of the time of reading wide rows went into those locks): each connection of ours
// is used by one thread at a time, and a cancel from another thread never calls into SQLite
// (the watch below). From then on every connection SQLite opens meets the watch.
void PrepareSqliteLibrary();

// Whether the watch below reaches the connections of the SQLite ODBC driver; when it does not,
// a cancel goes to the driver (SQLCancel). Calls PrepareSqliteLibrary.
bool SqliteWatchReachesDriver();

// While one lives on a thread, every SQLite connection opened on that thread stops the
// statement it runs (SQLITE_INTERRUPT) as soon as `cancelled` is true. The check runs on the
// statement's own thread, so a cancel is a plain store into the flag. The flag must outlive the
// connections opened under the watch.
class SqliteCancelWatch {
 public:
  explicit SqliteCancelWatch(const std::atomic<bool>& cancelled);
  ~SqliteCancelWatch();
  SqliteCancelWatch(const SqliteCancelWatch&) = delete;
  SqliteCancelWatch& operator=(const SqliteCancelWatch&) = delete;

 private:
  const std::atomic<bool>* previous_flag_;
};

}  // namespace remoteccm
