// A clock that stands still: tests set the moment, and ticks are only counted.
#pragma once

#include "util/clock.h"

namespace remoteccm::testing {

class FakeClock : public Clock {
 public:
  explicit FakeClock(double now = 0) : now_(now) {}
  double Now() override { return now_; }
  void Tick() override { ++ticks; }
  void Set(double now) { now_ = now; }
  // As made anew at that moment: no ticks counted.
  void Restart(double now) {
    now_ = now;
    ticks = 0;
  }
  int ticks = 0;

 private:
  double now_;
};

}  // namespace remoteccm::testing
