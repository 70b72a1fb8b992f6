// The contract between the saver's core and the platform it runs on.
// The core (Form1) calls Platform; every backend implements Backend and raises Events.
// Platform keeps the parts every backend shares (surface, random, palette, the tick rule,
// the cheap event check) so that the calls made per particle never cross a virtual call.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "platform/common/runtime.h"
#include "platform/common/surface.h"

namespace ps {

// What the window raises on Form1, always on the one thread. Load comes once; the window is
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

// What only a native backend can do: one native service per call.
class Backend {
 public:
  // Window: the client area changed colour or was cleared and must be shown again in whole;
  // the window's state (2 is maximised).
  virtual void repaint() = 0;
  virtual void window_state(int state) = 0;

  // Timer1: (re)arm the tick countdown at this many milliseconds.
  virtual void set_interval(int ms) = 0;

  // Run time: whether another instance runs; the pointer's display counter, raised for a
  // nonzero argument and lowered for zero, returning the new count.
  virtual bool previous_instance() = 0;
  virtual int show_cursor(std::int32_t show) = 0;

  // Look at the native queue: deliver pending input and a due tick to Form1, then flush the
  // surface. Form1's handlers run inside this call, and one of them may end the process, in
  // which case it never returns. Returns how many further DoEvents calls may pass before the
  // backend wants to look again (at least 1).
  virtual int service() = 0;

  // End the process at once; never returns to the caller.
  [[noreturn]] virtual void end() = 0;

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

// The services Form1 calls, under the names it knows them by.
class Platform {
 public:
  // A new window's background, before Form1 sets its own: a light grey.
  static constexpr Rgb kDefaultBackColor = 0xF0F0F0;

  explicit Platform(Backend& backend) : Timer1(backend), backend_(backend) {
    surface_.resize(0, 0, back_color_);
  }
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;

  // Form1's window. Sizes are client-area pixels; ScaleMode is recorded, pixels are all
  // this platform knows.
  void BackColor(Rgb colour) {
    back_color_ = colour;
    surface_.clear(colour);
    backend_.repaint();
  }
  void WindowState(int state) { backend_.window_state(state); }
  void ScaleMode(int mode) { scale_mode_ = mode; }
  float ScaleWidth() const { return surface_.scale_width(); }
  float ScaleHeight() const { return surface_.scale_height(); }
  void DrawWidth(int width) { draw_width_ = width; }
  void Cls() {
    surface_.clear(back_color_);
    backend_.repaint();
  }
  void PSet(float x, float y, Rgb colour) { surface_.plot(x, y, colour); }
  Timer Timer1;

  // Run time. DoEvents is the one call here that runs Form1's handlers inside it (and so may
  // not return at all); it looks at the native queue only when the backend asked to be asked.
  bool PrevInstance() { return backend_.previous_instance(); }
  float Rnd() { return rnd_.next(); }
  Rgb QBColor(int index) const { return qb_color(index); }
  void DoEvents() {
    if (++calls_ >= look_at_) look_at_ = calls_ + static_cast<std::uint64_t>(backend_.service());
  }
  [[noreturn]] void End() {
    backend_.end();
    std::abort();  // a backend's end that came back would resume the core: never allow it
  }
  int ShowCursor(std::int32_t show) { return backend_.show_cursor(show); }

  // For backends: the window and its surface.
  void attach(Events& form) { form_ = &form; }
  Events& form() { return *form_; }
  Surface& surface() { return surface_; }
  const Surface& surface() const { return surface_; }
  void resize(int width, int height) { surface_.resize(width, height, back_color_); }

  // For backends: the tick rule. At most one tick is pending; one that falls due while a tick
  // is pending or running is merged into it; ticks never nest.
  void tick_due() {
    if (!in_tick_) tick_pending_ = true;
  }
  bool tick_pending() const { return tick_pending_; }
  bool in_tick() const { return in_tick_; }
  std::uint64_t ticks_run() const { return ticks_run_; }
  void run_pending_tick() {
    if (!tick_pending_ || in_tick_) return;
    tick_pending_ = false;
    in_tick_ = true;
    ++ticks_run_;
    form_->Timer1_Timer();
    in_tick_ = false;
  }

  // For backends and tests: the count of DoEvents calls so far, and a request to be asked on
  // the next one (new input arrived by another way).
  std::uint64_t calls() const { return calls_; }
  void look_next() { look_at_ = calls_ + 1; }

  Rgb back_color() const { return back_color_; }
  int scale_mode() const { return scale_mode_; }
  int draw_width() const { return draw_width_; }

 private:
  Backend& backend_;
  Events* form_ = nullptr;
  Surface surface_;
  Random rnd_;
  std::uint64_t calls_ = 0;
  std::uint64_t look_at_ = 1;
  std::uint64_t ticks_run_ = 0;
  Rgb back_color_ = kDefaultBackColor;
  int scale_mode_ = 1;
  int draw_width_ = 1;
  bool tick_pending_ = false;
  bool in_tick_ = false;
};

}  // namespace ps
