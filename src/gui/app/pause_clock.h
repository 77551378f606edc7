// The clock the window gives the engine: the engine's pause counts its ticks, and while the
// abort question is open the window holds it, so that the question's time is not pause time.
#pragma once

#include <condition_variable>
#include <mutex>

#include "util/clock.h"

namespace remoteccm::gui {

class PauseClock : public Clock {
 public:
  explicit PauseClock(Clock& base) : base_(base) {}

  double Now() override { return base_.Now(); }
  // Waits while the clock is held, then one tick of the base clock.
  void Tick() override;

  // Called on the window's thread around the abort question.
  void Hold();
  void Release();
  bool Held() const;

 private:
  Clock& base_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
};

}  // namespace remoteccm::gui
