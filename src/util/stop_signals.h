// The signals that stop a run, and the watcher that turns them into a request to stop: both
// programs end a run stopped so as an aborted run, with its status written.
// On Windows the stops are the console's: Ctrl-C, Ctrl-Break, the console closed, the system
// shutting down.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace remoteccm {

// Blocks the stop signals in the calling thread and so in every thread it starts afterwards:
// call it before the program starts any thread, so that only the watcher takes them.
void BlockStopSignals();

// Waits, a second or two at most, until the stop signals pending for the process are taken and
// handled by the watcher: a test that halts the process at a fault point and stops it as it
// goes on sees the stop at once, whatever the threads' order. Returns at once without a watcher.
void WaitUntilStopSignalsTaken();

// Takes the stop signals on a thread of its own and calls on_stop there for each one; the
// signals must be blocked in every thread (BlockStopSignals) before it is made. One that came
// before (pending while blocked) is taken before the constructor returns, on its thread.
// Stopping a run cancels database calls, which a signal handler may not do.
class StopSignalWatcher {
 public:
  explicit StopSignalWatcher(std::function<void()> on_stop);
  ~StopSignalWatcher();
  StopSignalWatcher(const StopSignalWatcher&) = delete;
  StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

 private:
  void Watch();

  std::function<void()> on_stop_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace remoteccm
