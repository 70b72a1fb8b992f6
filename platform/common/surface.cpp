// Sizing and clearing of the shared surface, and its table of colours; plotting is inline in
// the header.
#include "platform/common/surface.h"

#include <algorithm>

namespace ps {

void Surface::resize(int width, int height, Rgb fill) {
  if (width < 1 || height < 1) width = height = 0;
  width = std::min(width, kMaxSide);
  height = std::min(height, kMaxSide);
  width_ = static_cast<std::uint32_t>(width);
  height_ = static_cast<std::uint32_t>(height);
  stride_ = (std::size_t{width_} + 3) & ~std::size_t{3};
  pixels_.resize(stride_ * height_);
  scale_width_ = static_cast<float>(width_);
  scale_height_ = static_cast<float>(height_);
  clear(fill);
}

void Surface::clear(Rgb fill) {
  std::fill(pixels_.begin(), pixels_.end(), Ink{0});
  colours_[0] = fill;
  used_ = 1;
  full_ = false;
  guess_.fill(0);
  touched_count_ = settled_ = 0;
  whole_ = true;
}

std::vector<Rgb> Surface::picture() const {
  std::vector<Rgb> out;
  out.reserve(std::size_t{width_} * height_);
  for (int y = 0; y < height(); ++y)
    for (const Ink ink : row(y)) out.push_back(colours_[ink]);
  return out;
}

// Walked from the last point back while the pixels still hold their inks at the last flush, the
// first point met on a pixel holds its final ink; an ink no pixel holds marks the pixels met.
void Surface::settle_changes() {
  Touch* touch = touched_.data();
  if (whole_ || settled_ != 0 || used_ == kInks) {
    // Points already settled, or no ink free to mark with: every point stays, in its final ink.
    settle();
    if (!whole_)
      for (std::size_t n = 0; n < touched_count_; ++n) touch[n].ink = pixels_[index(touch[n].at)];
    return;
  }
  const auto mark = static_cast<Ink>(used_);
  std::size_t first = touched_count_;  // the pixels met gather at the end, in drawing order
  for (std::size_t n = touched_count_; n-- > 0;) {
    // The pixels are scattered over megabytes: ask for one well ahead of its turn.
    if (n >= 16) __builtin_prefetch(&pixels_[index(touch[n - 16].at)], 1);
    Ink& pixel = pixels_[index(touch[n].at)];
    if (pixel == mark) continue;
    touch[--first] = {touch[n].at, touch[n].ink, touch[n].ink != pixel};
    pixel = mark;
  }
  std::size_t changed = 0;
  for (std::size_t n = first; n < touched_count_; ++n) {
    pixels_[index(touch[n].at)] = touch[n].ink;
    if (touch[n].changed) touch[changed++] = touch[n];
  }
  touched_count_ = settled_ = changed;
}

Surface::Ink Surface::add(Rgb colour) {
  auto found = std::find(colours_.begin(), colours_.begin() + used_, colour);
  if (found == colours_.begin() + used_ && used_ == kInks && !full_) {
    compact();
    full_ = used_ == kInks;  // until the next clear, a new colour takes the nearest held
    found = colours_.begin() + used_;
  }
  if (found == colours_.begin() + used_) {
    if (used_ < kInks) {
      colours_[used_++] = colour;
    } else {
      const auto distance = [colour](Rgb other) {
        int sum = 0;
        for (int shift = 0; shift < 24; shift += 8) {
          const int d = int(colour >> shift & 0xFF) - int(other >> shift & 0xFF);
          sum += d * d;
        }
        return sum;
      };
      return static_cast<Ink>(
          std::min_element(colours_.begin(), colours_.end(),
                           [&](Rgb a, Rgb b) { return distance(a) < distance(b); }) -
          colours_.begin());
    }
  }
  const auto ink = static_cast<Ink>(found - colours_.begin());
  guess_[place(colour)] = ink;
  return ink;
}

// Frees the inks that no pixel holds any more; the pixels keep their colours.
void Surface::compact() {
  settle();
  std::array<bool, kInks> held{};
  for (int y = 0; y < height(); ++y)
    for (const Ink ink : row(y)) held[ink] = true;
  std::array<Ink, kInks> moved{};
  std::size_t kept = 0;
  for (std::size_t ink = 0; ink < used_; ++ink) {
    if (!held[ink]) continue;
    colours_[kept] = colours_[ink];
    moved[ink] = static_cast<Ink>(kept++);
  }
  for (int y = 0; y < height(); ++y)
    for (Ink& ink : std::span(pixels_.data() + y * stride_, width_)) ink = moved[ink];
  used_ = kept;
  guess_.fill(0);
  // The inks held in the touched list are numbers of the old table: send the whole area instead.
  touched_count_ = settled_ = 0;
  whole_ = true;
}

}  // namespace ps
