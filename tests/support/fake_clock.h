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
  int ticks = 0;

 private:
  double now_;
};

}  // namespace remoteccm::testing
