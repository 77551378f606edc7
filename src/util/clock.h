// The program's time: the current moment and the 100 ms ticks of a pause. Profiles, the
// engine and the windows take it from here so that tests can fix it.
#pragma once

namespace remoteccm {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since 1970-01-01 00:00 UTC.
  virtual double Now() = 0;
  // Waits one tick of a pause (100 ms).
  virtual void Tick() = 0;
};

class SystemClock : public Clock {
 public:
  double Now() override;
  void Tick() override;
};

// The one system clock of the process, for whoever is given no other.
Clock& TheSystemClock();

}  // namespace remoteccm
