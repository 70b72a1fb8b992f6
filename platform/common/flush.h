// The flush every desktop backend shares: the pixels touched since the last flush, each in its
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
  // A flush of more colours than this is sent whole: past it the grouping costs more.
  static constexpr std::size_t kColours = 32;

  Flush() : points_(Surface::kTouchedCapacity), slots_(Surface::kTouchedCapacity) {}

  // Calls draw(colour, points) once per colour that the touched pixels end in. False, having
  // drawn nothing, when the whole surface must be sent instead; the surface is not marked flushed.
  // The surface must be settled.
  template <class Draw>
  bool send(const Surface& surface, Draw&& draw) {
    if (surface.whole() || !group(surface)) return false;
    for (std::size_t c = 0; c < colours_; ++c)
      draw(colour_[c], std::span<const Point>(&points_[starts_[c]], starts_[c + 1] - starts_[c]));
    return true;
  }

 private:
  bool group(const Surface& surface);

  std::vector<Point> points_;
  std::vector<std::uint8_t> slots_;
  std::array<Rgb, kColours> colour_{};
  std::array<std::uint8_t, 64> slot_of_{};  // a colour's likely slot, by a hash of the colour
  std::array<std::size_t, kColours + 1> starts_{};
  std::size_t colours_ = 0;
};

}  // namespace ps
