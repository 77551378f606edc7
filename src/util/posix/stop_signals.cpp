#include "util/stop_signals.h"

#include <pthread.h>

#include <ctime>

#include "util/posix/stop_signal_set.h"

namespace remoteccm {

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
  thread_ = std::thread([this] { Watch(); });
}

StopSignalWatcher::~StopSignalWatcher() {
  done_.store(true);
  thread_.join();
}

void StopSignalWatcher::Watch() {
  const sigset_t signals = StopSignals();
  // Looks ten times a second whether the watcher is done.
  const timespec poll{0, 100'000'000};
  while (!done_.load()) {
    if (sigtimedwait(&signals, nullptr, &poll) > 0) on_stop_();
  }
}

}  // namespace remoteccm
