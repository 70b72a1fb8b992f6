// The show on the headless platform, for comparing a desktop's screen with it: the one place
// the desktop tests run the core, so that a change of its interface is adapted here alone.
#include <memory>

#include "platform/common/pace.h"
#include "platform/headless/headless.h"
#include "shell/form1.h"
// The harness's Xlib macros after the core's headers.
#include "tests/desktop/harness.h"

namespace ps::desktop {

namespace {

bool same(const Surface& surface, const Screenshot& shot) {
  if (surface.width() != shot.width || surface.height() != shot.height) return false;
  const std::uint32_t* pixel = shot.pixels.data();
  for (int y = 0; y < surface.height(); ++y)
    for (const Surface::Ink ink : surface.row(y))
      if (surface.colour(ink) != *pixel++) return false;
  return true;
}

}  // namespace

std::optional<int> matching_tick(const Screenshot& shot, int max_ticks, const Run& run) {
  if (shot.pixels.empty()) return std::nullopt;
  auto headless = std::make_unique<Headless>(run.resize_at ? run.from_width : shot.width,
                                             run.resize_at ? run.from_height : shot.height);
  auto form = std::make_unique<Form1>(headless->platform());
  using Input = Headless::Input;
  if (run.scatter_tick) headless->post({Input::Tick, run.scatter_tick});
  if (run.resize_at)
    headless->post({Input::Resize, run.resize_at, float(shot.width), float(shot.height)});
  if (!headless->start(*form)) return std::nullopt;
  // After a change of size a tick counts once it drew after the change: the cleared screen alone
  // shows no show.
  for (int tick = 0; tick <= max_ticks; ++tick) {
    if (tick > 0 && !headless->tick()) break;
    if (headless->calls() > run.resize_at && same(headless->surface(), shot)) return tick;
  }
  return std::nullopt;
}

std::optional<int> resized_tick(const Screenshot& shot, int max_ticks, int from_width,
                                int from_height, int after) {
  // The services of pending events where it may have changed: those that end a tick (the
  // scatter makes one a particle, a tick one a particle and one more) and the looks inside.
  const auto end_of = [](int t) { return std::uint64_t(kParticles) * (t + 1) + t; };
  for (auto at = end_of(after); at <= end_of(after + 2); ++at)
    if (at % Pace::kCalls == 1 || (at - kParticles) % (kParticles + 1) == 0)
      if (auto tick = matching_tick(shot, max_ticks, {0, from_width, from_height, at})) return tick;
  return std::nullopt;
}

bool ticked_in_scatter(const Screenshot& shot, int max_ticks) {
  // The services where a backend looks: the first and every Pace::kCalls-th after it.
  for (std::uint64_t at = 1; at <= std::uint64_t{kParticles}; at += Pace::kCalls)
    if (matching_tick(shot, max_ticks, {at})) return true;
  return false;
}

}  // namespace ps::desktop
