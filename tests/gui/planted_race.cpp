// A data race planted between RunController's worker and the window's thread, which
// ThreadSanitizer must report: the suppressions of Qt's own hand-offs (tests/tsan.supp) would
// otherwise be free to hide every race of ours whose stack passes through Qt's event loop.
// Built only with ThreadSanitizer; its test passes when the report is there.
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <thread>

#include "gui/app/log_buffer.h"
#include "gui/app/run_controller.h"
#include "platform/dialup/dialer.h"
#include "profile/profile_file.h"

namespace {

// Written by the worker, read by the window's thread, with nothing ordering the two: relaxed
// atomics tell each thread that the other has gone on, and make no happens-before edge.
int planted = 0;
std::atomic<bool> written{false};
std::atomic<bool> seen_by_window{false};

// The worker's first call: the engine asks the time at the start of a delete-all.
class PlantingClock : public remoteccm::Clock {
 public:
  double Now() override {
    if (std::this_thread::get_id() != window_thread_ && !written.load(std::memory_order_relaxed)) {
      planted = 1;
      written.store(true, std::memory_order_relaxed);
      while (!seen_by_window.load(std::memory_order_relaxed)) std::this_thread::yield();
    }
    return 1'800'000'000;
  }
  void Tick() override {}

 private:
  std::thread::id window_thread_ = std::this_thread::get_id();
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QTemporaryDir home;
  remoteccm::ProfileEnvironment env;
  env.program_home = home.path().toStdString();
  PlantingClock clock;
  remoteccm::gui::LogBuffer log;
  remoteccm::UnavailableDialer dialer;
  remoteccm::gui::RunController controller(env, clock, log, dialer);

  int seen = 0;
  // A timer's slot, as the window's own code runs: under Qt's event loop.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!written.load(std::memory_order_relaxed)) return;
    seen = planted;
    seen_by_window.store(true, std::memory_order_relaxed);
    poll.stop();
  });
  QObject::connect(&controller, &remoteccm::gui::RunController::DeleteAllFinished, &app,
                   &QCoreApplication::quit);
  poll.start(0);
  controller.StartDeleteAll(remoteccm::ProfileSettings(), true);
  QApplication::exec();
  std::printf("planted race not reported (read %d)\n", seen);
  return 0;
}
