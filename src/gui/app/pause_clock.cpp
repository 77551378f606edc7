#include "gui/app/pause_clock.h"

namespace remoteccm::gui {

void PauseClock::Tick() {
  {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return !held_; });
  }
  base_.Tick();
}

void PauseClock::Hold() {
  std::lock_guard lock(mutex_);
  held_ = true;
}

void PauseClock::Release() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  released_.notify_all();
}

bool PauseClock::Held() const {
  std::lock_guard lock(mutex_);
  return held_;
}

}  // namespace remoteccm::gui
