// The flush every desktop backend shares: the pixels changed since the last flush, each in its
// final colour, grouped into one list of points per colour, so that the screen ends as if every
// point had been drawn in order while the backend makes one native call per colour.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/common/surface.h"

namespace ps {

class Flush {
 public:
  using Point = Surface::Point;

  Flush() : points_(Surface::kTouchedCapacity), inks_(Surface::kTouchedCapacity) {}

  // Calls draw(colour, points) once per colour that the changed pixels end in. False, having
  // drawn nothing, when the whole surface must be sent instead; the surface is not marked flushed.
  // The surface must be settled by settle_changes().
  template <class Draw>
  bool send(const Surface& surface, Draw&& draw) {
    if (surface.whole()) return false;
    group(surface);
    for (std::size_t ink = 0; ink < Surface::kInks; ++ink)
      if (starts_[ink + 1] != starts_[ink])
        draw(surface.colour(static_cast<Surface::Ink>(ink)),
             std::span<const Point>(&points_[starts_[ink]], starts_[ink + 1] - starts_[ink]));
    return true;
  }

 private:
  void group(const Surface& surface);

  std::vector<Point> points_;
  std::vector<Surface::Ink> inks_;
  std::array<std::uint32_t, Surface::kInks + 1> starts_{};
};

}  // namespace ps
