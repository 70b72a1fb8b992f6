// A platform of the saver's own that runs anywhere: a client area of a given size kept only in
// memory, an event queue that the caller fills, and an end that unwinds back to the caller.
// It has no clock: ticks fall due only when queued or asked for, so every run is repeatable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/platform.h"

namespace ps {

class Headless final : public Backend {
 public:
  enum class Input { Key, Click, Move, Close, Tick, Resize };
  // An event waits in the queue until the DoEvents call numbered `at` (counting from 1 since
  // start), or until the idle loop runs; Move carries the pointer, Resize the new size.
  struct Event {
    Input kind;
    std::uint64_t at = 0;
    float x = 0;
    float y = 0;
  };
  // What reached the native side, in order, with the state of the window at that moment.
  enum class Call { PrevInstance, Repaint, WindowState, ShowCursor, End };
  struct Entry {
    Call call;
    Rgb back_color;
    int scale_mode;
    int window_state;
    int cursor;
  };

  Headless(int width, int height);
  Platform& platform() { return platform_; }
  const Platform& platform() const { return platform_; }
  const Surface& surface() const { return platform_.surface(); }

  // Set-up by the caller.
  void set_previous_instance(bool running) { previous_instance_ = running; }
  void post(const Event& event);

  // Running, as the native event loop would. Each returns false once the process has ended.
  bool start(Events& form);  // raises Load; the window is shown when it returns
  bool tick();               // a tick falls due while the loop is idle
  bool run();                // the idle loop takes every queued event, due or not
  bool ended() const { return ended_; }

  // What the process did.
  bool shown() const { return shown_; }
  int cursor() const { return cursor_; }
  int cursor_shows() const { return cursor_shows_; }
  int cursor_hides() const { return cursor_hides_; }
  int window_state() const { return window_state_; }
  int interval_sets() const { return interval_sets_; }
  std::size_t flushes() const { return flushes_; }
  std::span<const Entry> journal() const { return {journal_.data(), journal_count_}; }
  std::size_t pending() const { return queue_.size() - next_; }

  // Backend.
  void repaint() override { note(Call::Repaint); }
  void window_state(int state) override;
  void set_interval(int) override { ++interval_sets_; }
  bool previous_instance() override;
  int show_cursor(std::int32_t show) override;
  int service() override;
  [[noreturn]] void end() override;

 private:
  struct Ended {};
  template <class F>
  bool guarded(F&& body);
  void deliver(const Event& event);
  void flush();
  void note(Call call);

  Platform platform_{*this};
  std::vector<Event> queue_;
  std::size_t next_ = 0;
  std::array<Entry, 32> journal_{};
  std::size_t journal_count_ = 0;
  std::size_t flushes_ = 0;
  int cursor_ = 0;
  int cursor_shows_ = 0;
  int cursor_hides_ = 0;
  int window_state_ = 0;
  int interval_sets_ = 0;
  bool previous_instance_ = false;
  bool shown_ = false;
  bool ended_ = false;
};

}  // namespace ps
