// What the Linux saver's two backends share, and their entries: the per-user lock, the end
// signals read as events, and the tick's countdown. POSIX and Linux calls only, no display system.
#pragma once

#include <algorithm>
#include <optional>

#include "platform/common/pace.h"
#include "platform/common/surface.h"
#include "platform/desktop.h"

namespace ps {

// Whether another saver of this user runs: a lock held for the life of the process, released
// by the kernel however it ends.
bool lock_held_by_another();

// A signalfd of the end signals (SIGTERM, SIGINT, SIGHUP), blocked from before main so that one
// sent while the saver starts is never lost nor fatal; and whether one arrived (read them all).
int end_signals();
bool end_signalled(int fd);

// Asks the kernel to back the surface's pixels with large pages, now and as they grow.
void prefer_large_pages(const Surface& surface);

// The tick's countdown. Each tick falls due one period after the last fell due. A loop that
// wakes once per frame runs the ticks that fell due within that frame one after another; after
// a longer stall the next is one period away, never a burst to catch up.
class Countdown {
 public:
  // The tick sets its own period again first thing; its countdown restarted when it fell due,
  // and restarting it again then would add the delivery delay to every period.
  void arm(int ms, bool in_tick, Pace::Clock::time_point now = Pace::Clock::now()) {
    if (ms == interval_ && in_tick) return;
    interval_ = ms;
    next_ = now + std::chrono::milliseconds(ms);
  }
  // The time between two refreshes of the screen, 60 Hz until told: the loops wake about once a
  // frame, and a tick may run up to a frame late.
  void set_frame(Pace::Clock::duration frame) { frame_ = frame; }
  Pace::Clock::duration frame() const { return frame_; }
  bool due(Pace::Clock::time_point now) {
    if (interval_ <= 0 || now < next_) return false;
    const auto period = std::chrono::milliseconds(interval_);
    next_ += period;
    if (next_ + frame_ <= now) next_ = now + period;
    return true;
  }
  bool armed() const { return interval_ > 0; }
  Pace::Clock::duration left(Pace::Clock::time_point now) const {
    return std::max(next_ - now, Pace::Clock::duration::zero());
  }
  // Until the first tick that falls due at or after `from`.
  Pace::Clock::duration left(Pace::Clock::time_point now, Pace::Clock::time_point from) const {
    auto at = next_;
    if (interval_ > 0 && at < from) {
      const auto period = std::chrono::milliseconds(interval_);
      at += (from - at + period - Pace::Clock::duration(1)) / period * period;
    }
    return std::max(at - now, Pace::Clock::duration::zero());
  }

 private:
  Pace::Clock::time_point next_{};
  Pace::Clock::duration frame_ = std::chrono::microseconds(16667);
  int interval_ = 0;
};

// Runs the ticks due by now, one after another.
inline void run_due_ticks(Countdown& ticks, Stage& stage) {
  do
    if (ticks.due(Pace::Clock::now())) stage.tick_due();
  while (stage.run_pending_tick());
}

int run_x11(const Mode& mode, const MakeShow& make_show);
// The show on the compositor WAYLAND_DISPLAY names; none when no compositor answers there.
std::optional<int> run_wayland(const MakeShow& make_show);

}  // namespace ps
