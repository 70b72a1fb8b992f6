// How often a desktop backend looks at its native queue while the show services pending events
// after every particle: a clock read costs more than a particle's work, so the backend reads the
// steady clock only every kCalls services and looks only when kGap has passed since its last look.
#pragma once

#include <chrono>

namespace ps {

class Pace {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kCalls = 32;
  static constexpr Clock::duration kGap = std::chrono::milliseconds(1);

  // True when a look is due at `now`; the gap then counts from `now`.
  bool due(Clock::time_point now) {
    if (now - last_ < kGap) return false;
    last_ = now;
    return true;
  }
  // A look made by other means (the idle loop) also restarts the gap.
  void looked(Clock::time_point now) { last_ = now; }

 private:
  Clock::time_point last_{};
};

}  // namespace ps
