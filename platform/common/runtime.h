// The run-time pieces every platform shares, so that every build shows the same field:
// the never-seeded random sequence and the 16-colour palette.
#pragma once

#include <array>
#include <cstdint>

namespace ps {

// 24-bit RGB, 0xRRGGBB; 0 is black.
using Rgb = std::uint32_t;

// A 24-bit linear congruential sequence: x <- (x * 1140671485 + 12820163) mod 2^24, from 327680.
// Every value x / 2^24 is exact in single precision and lies in [0, 1).
class Random {
 public:
  float next() {
    state_ = (state_ * 1140671485u + 12820163u) & 0xFFFFFFu;
    return static_cast<float>(state_) / 16777216.0f;
  }

 private:
  std::uint32_t state_ = 327680u;
};

inline constexpr std::array<Rgb, 16> kPalette = {
    0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0,
    0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF,
};

// The palette colour of an index; indices outside 0 to 15 wrap into it rather than read past.
constexpr Rgb palette_colour(int index) { return kPalette[static_cast<unsigned>(index) & 15u]; }

}  // namespace ps
