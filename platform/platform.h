// The contract between the saver's show and the platform it runs on. The show (Form1) calls
// Platform; each backend implements Backend, drives the show through its Stage and raises Events.
// Of every call here, only Platform::service_events() (through Backend::service()) can run the
// show's handlers inside it, and so may never return.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "platform/common/runtime.h"
#include "platform/common/surface.h"

namespace ps {

// What the window raises on the show, always on the one thread. Load comes once; the window is
// shown when it returns.
class Events {
 public:
  virtual void Load() = 0;
  virtual void Click() = 0;
  virtual void KeyDown() = 0;
  virtual void MouseMove(float x, float y) = 0;
  virtual void QueryUnload() = 0;
  virtual void Timer1_Timer() = 0;

 protected:
  ~Events() = default;
};

// What only a native backend can do, one native service per call; called by Platform only.
class Backend {
 public:
  virtual void window_state(int state) = 0;  // 2 is maximised
  virtual void set_interval(int ms) = 0;     // (re)arm the tick countdown
  virtual bool another_instance() = 0;
  // The pointer's display counter, raised for a nonzero argument and lowered for zero.
  virtual int show_cursor(std::int32_t show) = 0;
  // Look at the native queue: deliver pending input and a due tick to the show, then flush the
  // surface. Returns how many further services of pending events may pass before the backend
  // wants to look again (at least 1).
  virtual int service() = 0;
  [[noreturn]] virtual void end() = 0;  // ends the process at once

 protected:
  ~Backend() = default;
};

// Form1's timer: setting Interval restarts the countdown.
class Timer {
 public:
  explicit Timer(Backend& backend) : backend_(backend) {}
  void Interval(int ms) {
    interval_ = ms;
    backend_.set_interval(ms);
  }
  int interval() const { return interval_; }

 private:
  Backend& backend_;
  int interval_ = 10;
};

// What the show calls, under the names it knows them by. The parts every backend shares live
// here (surface, random sequence, palette, the cheap check before a look at the queue), so the
// calls made per particle never cross a virtual call.
class Platform {
 public:
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;

  // Form1's window. Sizes and positions are client-area pixels and a point is one pixel: the
  // only units and width this platform knows, so ScaleMode and DrawWidth change nothing.
  void BackColor(Rgb colour) {
    back_colour_ = colour;
    surface_.clear(colour);
  }
  void WindowState(int state) { backend_.window_state(state); }
  void ScaleMode(int) {}
  float ScaleWidth() const { return surface_.scale_width(); }
  float ScaleHeight() const { return surface_.scale_height(); }
  void DrawWidth(int) {}
  void Cls() { surface_.clear(back_colour_); }
  void PSet(float x, float y, Rgb colour) { surface_.plot(x, y, colour); }
  Timer Timer1;

  // Run time.
  bool another_instance_runs() { return backend_.another_instance(); }
  float next_random() { return random_.next(); }
  Rgb palette(int index) const { return palette_colour(index); }
  int ShowCursor(std::int32_t show) { return backend_.show_cursor(show); }
  // Handles every pending event, the show's handlers included. It looks at the native queue
  // only when the backend asked to be asked, so that most calls cost a counter.
  void service_events() {
    if (++calls_ >= look_at_) look_at_ = calls_ + static_cast<std::uint64_t>(backend_.service());
  }
  [[noreturn]] void end_process() {
    backend_.end();
    std::abort();  // a backend's end that came back would resume the show: never allow it
  }

 protected:
  // A new window's background, before the show sets its own: a light grey.
  static constexpr Rgb kNewBackColour = 0xF0F0F0;

  explicit Platform(Backend& backend) : Timer1(backend), backend_(backend) {
    surface_.resize(0, 0, back_colour_);
  }

  Backend& backend_;
  Surface surface_;
  Random random_;
  std::uint64_t calls_ = 0;
  std::uint64_t look_at_ = 1;
  Rgb back_colour_ = kNewBackColour;
};

// A backend's side of the platform: the show it drives, the surface it flushes, and the tick
// rule. At most one tick is pending; one that falls due while a tick is pending or running is
// merged into it; ticks never nest.
class Stage final : public Platform {
 public:
  explicit Stage(Backend& backend) : Platform(backend) {}

  void attach(Events& show) { show_ = &show; }
  Events& show() { return *show_; }
  Surface& surface() { return surface_; }
  const Surface& surface() const { return surface_; }
  void resize(int width, int height) { surface_.resize(width, height, back_colour_); }

  void tick_due() {
    if (!in_tick_) tick_pending_ = true;
  }
  bool in_tick() const { return in_tick_; }
  // Runs the pending tick, if any; true when one ran.
  bool run_pending_tick() {
    if (!tick_pending_ || in_tick_) return false;
    tick_pending_ = false;
    in_tick_ = true;
    show_->Timer1_Timer();
    in_tick_ = false;
    return true;
  }

  // Services of pending events made so far, and a request to be asked on the next one (new
  // input arrived by another way).
  std::uint64_t calls() const { return calls_; }
  void look_next() { look_at_ = calls_ + 1; }

 private:
  Events* show_ = nullptr;
  bool tick_pending_ = false;
  bool in_tick_ = false;
};

}  // namespace ps
