// The headless backend: the queue is served in order, each event at the service it names; a
// tick runs through the platform's tick rule like any native one, and a flush only forgets.
#include "platform/headless/headless.h"

#include <algorithm>
#include <limits>

namespace ps {

Headless::Headless(int width, int height) { stage_.resize(width, height); }

void Headless::post(const Event& event) {
  // Kept in order of `at`, and in order of posting among equals.
  const auto place =
      std::upper_bound(queue_.begin() + static_cast<std::ptrdiff_t>(next_), queue_.end(), event.at,
                       [](std::uint64_t at, const Event& e) { return at < e.at; });
  queue_.insert(place, event);
  stage_.look_next();
}

template <class F>
bool Headless::guarded(F&& body) {
  if (ended_) return false;
  try {
    body();
  } catch (const Ended&) {
    return false;
  }
  stage_.surface().flushed();
  return true;
}

bool Headless::start(Events& show) {
  stage_.attach(show);
  return guarded([&] {
    show.Load();
    shown_ = true;
  });
}

bool Headless::tick() {
  return guarded([&] { run_tick(); });
}

bool Headless::run() {
  return guarded([&] {
    while (next_ < queue_.size()) deliver(queue_[next_++]);
  });
}

int Headless::service() {
  const std::uint64_t now = stage_.calls();
  // A handler run here may service the queue again; next_ is shared with it.
  while (next_ < queue_.size() && queue_[next_].at <= now) deliver(queue_[next_++]);
  stage_.surface().flushed();
  if (next_ == queue_.size()) return std::numeric_limits<int>::max();
  return static_cast<int>(
      std::min<std::uint64_t>(queue_[next_].at - now, std::numeric_limits<int>::max()));
}

void Headless::run_tick() {
  stage_.tick_due();
  if (stage_.run_pending_tick()) ++ticks_run_;
}

void Headless::deliver(const Event& event) {
  Events& show = stage_.show();
  switch (event.kind) {
    case Input::Key:
      show.KeyDown();
      break;
    case Input::Click:
      show.Click();
      break;
    case Input::Move:
      show.MouseMove(event.x, event.y);
      break;
    case Input::Close:
      show.QueryUnload();
      break;
    case Input::Tick:
      run_tick();
      break;
    case Input::Resize:
      stage_.resize(static_cast<int>(event.x), static_cast<int>(event.y));
      break;
  }
}

int Headless::show_cursor(std::int32_t show) {
  if (show != 0) {
    ++cursor_;
    ++cursor_shows_;
  } else {
    --cursor_;
    ++cursor_hides_;
  }
  return cursor_;
}

void Headless::end() {
  ended_ = true;
  throw Ended{};
}

}  // namespace ps
