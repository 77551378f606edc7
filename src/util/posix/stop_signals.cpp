#include "util/stop_signals.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <thread>

#include "util/posix/stop_signal_set.h"

namespace remoteccm {
namespace {

// The rounds of the watcher that is running: each takes the stop signals that came, if any,
// and has handled them when it ends.
std::mutex g_rounds_mutex;
std::condition_variable g_round_ended;
std::uint64_t g_rounds = 0;
bool g_watching = false;

void EndRound() {
  {
    const std::lock_guard<std::mutex> hold(g_rounds_mutex);
    ++g_rounds;
  }
  g_round_ended.notify_all();
}

bool StopSignalPending() {
  sigset_t pending;
  if (sigpending(&pending) != 0) return false;
  return sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
         sigismember(&pending, SIGHUP) == 1;
}

}  // namespace

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  return signals;
}

void BlockStopSignals() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

StopSignalWatcher::StopSignalWatcher(std::function<void()> on_stop) : on_stop_(std::move(on_stop)) {
  const sigset_t signals = StopSignals();
  const timespec now{0, 0};
  while (sigtimedwait(&signals, nullptr, &now) > 0) on_stop_();
  {
    const std::lock_guard<std::mutex> hold(g_rounds_mutex);
    g_watching = true;
  }
  thread_ = std::thread([this] { Watch(); });
}

StopSignalWatcher::~StopSignalWatcher() {
  done_.store(true);
  thread_.join();
  const std::lock_guard<std::mutex> hold(g_rounds_mutex);
  g_watching = false;
}

void StopSignalWatcher::Watch() {
  const sigset_t signals = StopSignals();
  // Looks ten times a second whether the watcher is done.
  const timespec poll{0, 100'000'000};
  while (!done_.load()) {
    if (sigtimedwait(&signals, nullptr, &poll) > 0) on_stop_();
    EndRound();
  }
}

void WaitUntilStopSignalsTaken() {
  using std::chrono::milliseconds;
  // The watcher takes a pending signal within its round; the end of the round after that is
  // when it has been handled.
  for (int waited = 0; waited < 1000 && StopSignalPending(); ++waited) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  std::unique_lock<std::mutex> hold(g_rounds_mutex);
  const std::uint64_t seen = g_rounds;
  g_round_ended.wait_for(hold, milliseconds(1000), [&] { return !g_watching || g_rounds != seen; });
}

}  // namespace remoteccm
