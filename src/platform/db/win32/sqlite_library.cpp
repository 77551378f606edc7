// The Win32 side: SQLite ODBC drivers for Windows mostly have SQLite built in, out of reach of
// this process; one that runs on a shared sqlite3.dll is reached through that DLL, looked up
// once (LoadLibrary, GetProcAddress) and kept loaded for the life of the process.
#include "platform/db/sqlite_library.h"

#include <windows.h>

#include <mutex>

namespace remoteccm {
namespace {

// The few SQLite calls used here, with SQLite's own signatures and constants.
struct SqliteDll {
  int (*config)(int, ...) = nullptr;
  int (*auto_extension)(void (*)()) = nullptr;
  void (*progress_handler)(void*, int, int (*)(void*), void*) = nullptr;
};
constexpr int kSqliteOk = 0;
constexpr int kSqliteConfigMultithread = 2;
constexpr int kSqliteConfigMemstatus = 9;

thread_local const std::atomic<bool>* t_cancelled = nullptr;
constexpr int kProgressSteps = 10000;

SqliteDll& Dll() {
  static SqliteDll dll;
  return dll;
}

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

int StopWhenCancelled(void* flag) {
  return static_cast<const std::atomic<bool>*>(flag)->load(std::memory_order_relaxed) ? 1 : 0;
}

int WatchNewConnection(void* db, const char** /*error*/, const void* /*api*/) {
  if (t_cancelled != nullptr) {
    Dll().progress_handler(db, kProgressSteps, StopWhenCancelled,
                           const_cast<std::atomic<bool>*>(t_cancelled));  // NOLINT
  }
  return kSqliteOk;
}

}  // namespace

void PrepareSqliteLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    const HMODULE module = ::LoadLibraryW(L"sqlite3.dll");
    if (module == nullptr) return;
    SqliteDll found;
    found.config = Find<int (*)(int, ...)>(module, "sqlite3_config");
    found.auto_extension = Find<int (*)(void (*)())>(module, "sqlite3_auto_extension");
    found.progress_handler =
        Find<void (*)(void*, int, int (*)(void*), void*)>(module, "sqlite3_progress_handler");
    if (found.config == nullptr || found.auto_extension == nullptr ||
        found.progress_handler == nullptr) {
      ::FreeLibrary(module);
      return;
    }
    Dll() = found;
    found.config(kSqliteConfigMultithread);
    found.config(kSqliteConfigMemstatus, 0);
    found.auto_extension(reinterpret_cast<void (*)()>(&WatchNewConnection));
  });
}

bool SqliteWatchReachesDriver() {
  PrepareSqliteLibrary();
  return Dll().auto_extension != nullptr;
}

SqliteCancelWatch::SqliteCancelWatch(const std::atomic<bool>& cancelled)
    : previous_flag_(t_cancelled) {
  t_cancelled = &cancelled;
}

SqliteCancelWatch::~SqliteCancelWatch() { t_cancelled = previous_flag_; }

}  // namespace remoteccm
