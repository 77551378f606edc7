#include "util/clock.h"

#include <chrono>
#include <thread>

namespace remoteccm {

double SystemClock::Now() {
  using std::chrono::duration;
  using std::chrono::system_clock;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

void SystemClock::Tick() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

Clock& TheSystemClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace remoteccm
