// A platform of the saver's own that runs anywhere: a client area of a given size kept only in
// memory, an event queue that the caller fills, and an end that unwinds back to the caller.
// It has no clock: ticks fall due only when queued or asked for, so every run is repeatable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace ps {

class Headless final : public Backend {
 public:
  enum class Input { Key, Click, Move, Close, Tick, Resize };
  // An event waits in the queue until the service of pending events numbered `at` (counting
  // from 1 since start), or until the idle loop runs; Move carries the pointer, Resize the size.
  struct Event {
    Input kind;
    std::uint64_t at = 0;
    float x = 0;
    float y = 0;
  };

  Headless(int width, int height);
  Platform& platform() { return stage_; }
  const Surface& surface() const { return stage_.surface(); }
  void resize(int width, int height) { stage_.resize(width, height); }

  // Set-up by the caller.
  void set_another_instance(bool running) { another_instance_ = running; }
  void post(const Event& event);

  // Running, as the native event loop would. Each returns false once the process has ended.
  bool start(Events& show);  // raises Load; the window is shown when it returns
  bool tick();               // a tick falls due while the loop is idle
  bool run();                // the idle loop takes every queued event, due or not

  // What the process did.
  bool ended() const { return ended_; }
  bool shown() const { return shown_; }
  int cursor() const { return cursor_; }
  int cursor_shows() const { return cursor_shows_; }
  int cursor_hides() const { return cursor_hides_; }
  int window_state() const { return window_state_; }
  std::uint64_t ticks_run() const { return ticks_run_; }
  std::uint64_t calls() const { return stage_.calls(); }
  std::size_t pending() const { return queue_.size() - next_; }

  // Backend.
  void window_state(int state) override { window_state_ = state; }
  void set_interval(int) override {}
  bool another_instance() override { return another_instance_; }
  int show_cursor(std::int32_t show) override;
  int service() override;
  [[noreturn]] void end() override;

 private:
  struct Ended {};
  template <class F>
  bool guarded(F&& body);
  void deliver(const Event& event);
  void run_tick();

  Stage stage_{*this};
  std::vector<Event> queue_;
  std::size_t next_ = 0;
  std::uint64_t ticks_run_ = 0;
  int cursor_ = 0;
  int cursor_shows_ = 0;
  int cursor_hides_ = 0;
  int window_state_ = 0;
  bool another_instance_ = false;
  bool shown_ = false;
  bool ended_ = false;
};

}  // namespace ps
