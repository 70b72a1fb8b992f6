// The client area as the saver drew it: W x H pixels of 24-bit RGB that persist between ticks,
// and the points plotted since the last flush, so a backend can send just those pixels in their
// final colours. Points reach the pixels when the surface settles, in one tight loop: the pixels
// are mostly out of cache, and stores in a row overlap their misses where stores spread between
// the show's arithmetic wait for each. Past the list's room, the next flush is whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/common/runtime.h"

namespace ps {

class Surface {
 public:
  // Room in the touched list: a tick touches at most 4000 pixels.
  static constexpr std::size_t kTouchedCapacity = 1u << 15;
  static constexpr int kMaxSide = 32767;

  // A pixel of the client area; 16-bit coordinates are why a side is at most kMaxSide.
  struct Point {
    std::int16_t x, y;
  };
  struct Touch {
    Point at;
    Rgb colour;
  };

  Surface() { touched_.resize(kTouchedCapacity); }

  // A new client size, cleared to the given colour. Sizes below 1 give an empty area. Shrinking,
  // or growing within a size held before, allocates nothing.
  void resize(int width, int height, Rgb fill);
  void clear(Rgb fill);

  // A point at (x, y) lands on the pixel (floor(x), floor(y)); one outside the area (or not a
  // number) is ignored.
  void plot(float x, float y, Rgb colour) {
    if (!(x >= 0.0f && y >= 0.0f && x < scale_width_ && y < scale_height_)) return;
    if (touched_count_ == kTouchedCapacity) {
      settle();
      touched_count_ = settled_ = 0;
      whole_ = true;
    }
    touched_[touched_count_++] = {{static_cast<std::int16_t>(static_cast<int>(x)),
                                   static_cast<std::int16_t>(static_cast<int>(y))},
                                  colour};
  }
  // Writes the points plotted so far to the pixels; what reads the pixels settles first.
  void settle() {
    for (; settled_ < touched_count_; ++settled_)
      pixels_[index(touched_[settled_].at)] = touched_[settled_].colour;
  }

  std::size_t index(Point p) const { return static_cast<std::size_t>(p.y) * width_ + p.x; }
  int width() const { return static_cast<int>(width_); }
  int height() const { return static_cast<int>(height_); }
  float scale_width() const { return scale_width_; }
  float scale_height() const { return scale_height_; }
  Rgb at(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
  std::span<const Rgb> pixels() const { return {pixels_.data(), std::size_t{width_} * height_}; }

  // Since the last flush: the points plotted (possibly on one pixel again, in the order drawn),
  // or whole() when the entire area must be sent.
  std::span<const Touch> touched() const { return {touched_.data(), touched_count_}; }
  bool whole() const { return whole_; }
  bool dirty() const { return whole_ || touched_count_ != 0; }
  void flushed() {
    settle();
    touched_count_ = settled_ = 0;
    whole_ = false;
  }

 private:
  std::vector<Rgb> pixels_;
  std::vector<Touch> touched_;
  std::size_t touched_count_ = 0;
  std::size_t settled_ = 0;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  float scale_width_ = 0.0f;
  float scale_height_ = 0.0f;
  bool whole_ = false;
};

}  // namespace ps
