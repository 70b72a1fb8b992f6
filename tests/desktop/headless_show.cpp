// The show on the headless platform, for comparing a desktop's screen with it: the one place
// the desktop tests run the core, so that a change of its interface is adapted here alone.
#include <memory>

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

std::optional<int> matching_tick(const Screenshot& shot, int max_ticks) {
  if (shot.pixels.empty()) return std::nullopt;
  auto headless = std::make_unique<Headless>(shot.width, shot.height);
  auto form = std::make_unique<Form1>(headless->platform());
  if (!headless->start(*form)) return std::nullopt;
  for (int tick = 0; tick <= max_ticks; ++tick) {
    if (tick > 0 && !headless->tick()) break;
    if (same(headless->surface(), shot)) return tick;
  }
  return std::nullopt;
}

}  // namespace ps::desktop
