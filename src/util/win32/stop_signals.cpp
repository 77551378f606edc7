// The Win32 side of the stop signals: the console's control events, which Windows hands to a
// handler on a thread of its own, so the watcher needs none.
#include "util/stop_signals.h"

#include <windows.h>

#include <mutex>

namespace remoteccm {
namespace {

std::mutex g_watcher_mutex;
std::function<void()>* g_on_stop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      {
        const std::lock_guard<std::mutex> hold(g_watcher_mutex);
        if (g_on_stop == nullptr) return FALSE;
        (*g_on_stop)();
      }
      // Windows ends the process as soon as the handler of a closed console or of a shutdown
      // returns: held here, the run ends as stopped, writes its status and exits by itself,
      // which ends this thread too (or Windows does, after the seconds it gives).
      if (event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT) ::Sleep(INFINITE);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

// Console events are not signals: nothing is blocked, each comes to the handler's thread.
void BlockStopSignals() {}

StopSignalWatcher::StopSignalWatcher(std::function<void()> on_stop) : on_stop_(std::move(on_stop)) {
  const std::lock_guard<std::mutex> hold(g_watcher_mutex);
  g_on_stop = &on_stop_;
  // A process started in a new process group (as some schedulers start theirs) ignores Ctrl-C
  // until it asks for it.
  ::SetConsoleCtrlHandler(nullptr, FALSE);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopSignalWatcher::~StopSignalWatcher() {
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  const std::lock_guard<std::mutex> hold(g_watcher_mutex);
  g_on_stop = nullptr;
  done_.store(true);
}

void StopSignalWatcher::Watch() {}

// Windows hands each console event to the handler at once: nothing waits to be taken.
void WaitUntilStopSignalsTaken() {}

}  // namespace remoteccm
