// The headless backend: the queue is served in order, each event at the DoEvents call it names;
// a tick runs through the platform's tick rule like any native one.
#include "platform/headless/headless.h"

#include <algorithm>
#include <limits>

namespace ps {

Headless::Headless(int width, int height) { platform_.resize(width, height); }

void Headless::post(const Event& event) {
  // Kept in order of `at`, and in order of posting among equals.
  const auto place = std::upper_bound(queue_.begin() + static_cast<std::ptrdiff_t>(next_),
                                      queue_.end(), event.at,
                                      [](std::uint64_t at, const Event& e) { return at < e.at; });
  queue_.insert(place, event);
  platform_.look_next();
}

template <class F>
bool Headless::guarded(F&& body) {
  if (ended_) return false;
  try {
    body();
  } catch (const Ended&) {
    return false;
  }
  return true;
}

bool Headless::start(Events& form) {
  platform_.attach(form);
  return guarded([&] {
    form.Load();
    shown_ = true;
    flush();
  });
}

bool Headless::tick() {
  return guarded([&] {
    platform_.tick_due();
    platform_.run_pending_tick();
    flush();
  });
}

bool Headless::run() {
  return guarded([&] {
    while (next_ < queue_.size()) deliver(queue_[next_++]);
    flush();
  });
}

int Headless::service() {
  const std::uint64_t now = platform_.calls();
  // A handler run here may service the queue again; next_ is shared with it.
  while (next_ < queue_.size() && queue_[next_].at <= now) deliver(queue_[next_++]);
  flush();
  if (next_ == queue_.size()) return std::numeric_limits<int>::max();
  const std::uint64_t wait = queue_[next_].at - now;
  return static_cast<int>(std::min<std::uint64_t>(wait, std::numeric_limits<int>::max()));
}

void Headless::deliver(const Event& event) {
  Events& form = platform_.form();
  switch (event.kind) {
    case Input::Key:
      form.KeyDown();
      break;
    case Input::Click:
      form.Click();
      break;
    case Input::Move:
      form.MouseMove(event.x, event.y);
      break;
    case Input::Close:
      form.QueryUnload();
      break;
    case Input::Tick:
      platform_.tick_due();
      platform_.run_pending_tick();
      break;
    case Input::Resize:
      platform_.resize(static_cast<int>(event.x), static_cast<int>(event.y));
      break;
  }
}

void Headless::flush() {
  platform_.surface().flushed();
  ++flushes_;
}

void Headless::note(Call call) {
  if (journal_count_ < journal_.size())
    journal_[journal_count_++] = {call, platform_.back_color(), platform_.scale_mode(),
                                  window_state_, cursor_};
}

void Headless::window_state(int state) {
  window_state_ = state;
  note(Call::WindowState);
}

bool Headless::previous_instance() {
  note(Call::PrevInstance);
  return previous_instance_;
}

int Headless::show_cursor(std::int32_t show) {
  if (show != 0) {
    ++cursor_;
    ++cursor_shows_;
  } else {
    --cursor_;
    ++cursor_hides_;
  }
  note(Call::ShowCursor);
  return cursor_;
}

void Headless::end() {
  note(Call::End);
  ended_ = true;
  throw Ended{};
}

}  // namespace ps
