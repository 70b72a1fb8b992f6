// Grouping the touched pixels by final colour: a counting sort over at most kColours colours,
// written so that most points take no branch that depends on their colour.
#include "platform/common/flush.h"

#include <algorithm>

namespace ps {

bool Flush::group(const Surface& surface) {
  const auto touched = surface.touched();
  const auto pixels = surface.pixels();
  colours_ = 0;
  starts_.fill(0);
  for (std::size_t n = 0; n < touched.size(); ++n) {
    const Rgb colour = pixels[surface.index(touched[n].at)];
    const std::size_t hash = (colour * 2654435769u) >> 26;
    std::size_t slot = slot_of_[hash];
    if (slot >= colours_ || colour_[slot] != colour) {
      slot = static_cast<std::size_t>(
          std::find(colour_.begin(), colour_.begin() + colours_, colour) - colour_.begin());
      if (slot == colours_) {
        if (colours_ == kColours) return false;
        colour_[colours_++] = colour;
      }
      slot_of_[hash] = static_cast<std::uint8_t>(slot);
    }
    slots_[n] = static_cast<std::uint8_t>(slot);
    ++starts_[slot + 1];
  }
  for (std::size_t c = 0; c < colours_; ++c) starts_[c + 1] += starts_[c];
  std::array<std::size_t, kColours> next{};
  std::copy(starts_.begin(), starts_.begin() + colours_, next.begin());
  for (std::size_t n = 0; n < touched.size(); ++n) points_[next[slots_[n]]++] = touched[n].at;
  return true;
}

}  // namespace ps
