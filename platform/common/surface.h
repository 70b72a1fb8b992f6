// The client area as the saver drew it, W x H pixels that persist between ticks, and the points
// plotted since the last flush, so a backend can send just those pixels in their final colours.
// A pixel is one byte, an ink: the place of its colour in the surface's table of at most 256, so
// that a tick's scattered stores stay in cache at any screen size. Points reach the pixels when
// the surface settles, in one tight loop; a flush then keeps only the pixels whose colour changed
// since the last flush. Past the list's room, the next flush is whole.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "platform/common/runtime.h"

namespace ps {

class Surface {
 public:
  // Room in the touched list: a tick touches at most 4000 pixels.
  static constexpr std::size_t kTouchedCapacity = 1u << 15;
  static constexpr int kMaxSide = 32767;
  static constexpr std::size_t kInks = 256;

  using Ink = std::uint8_t;
  // A pixel of the client area; 16-bit coordinates are why a side is at most kMaxSide.
  struct Point {
    std::int16_t x, y;
  };
  struct Touch {
    Point at;
    Ink ink;
    bool changed;  // for settle_changes()
  };

  Surface() { touched_.resize(kTouchedCapacity); }

  // A new client size, cleared to the given colour. Sizes below 1 give an empty area. Shrinking,
  // or growing within a size held before, allocates nothing.
  void resize(int width, int height, Rgb fill);
  // Every pixel in `fill`, which is then the table's only colour.
  void clear(Rgb fill);

  // A point at (x, y) lands on the pixel (floor(x), floor(y)); one outside the area (or not a
  // number) is ignored.
  void plot(float x, float y, Rgb colour) {
    if (!(x >= 0.0f && y >= 0.0f && x < scale_width_ && y < scale_height_)) return;
    const Ink ink = ink_of(colour);
    if (touched_count_ == kTouchedCapacity) {
      settle();
      touched_count_ = settled_ = 0;
      whole_ = true;
    }
    touched_[touched_count_++] = {{static_cast<std::int16_t>(static_cast<int>(x)),
                                   static_cast<std::int16_t>(static_cast<int>(y))},
                                  ink, false};
  }
  // Writes the points plotted so far to the pixels; what reads the pixels settles first.
  void settle() {
    const Touch* touch = touched_.data();
    for (std::size_t n = settled_; n < touched_count_; ++n)
      pixels_[index(touch[n].at)] = touch[n].ink;
    settled_ = touched_count_;
  }
  // Settles, then leaves in touched() each pixel whose ink differs from its ink at the last flush
  // once, with that final ink: a point erased and drawn again in its colour is no change.
  void settle_changes();

  std::size_t index(Point p) const { return static_cast<std::size_t>(p.y) * stride_ + p.x; }
  int width() const { return static_cast<int>(width_); }
  int height() const { return static_cast<int>(height_); }
  float scale_width() const { return scale_width_; }
  float scale_height() const { return scale_height_; }
  // Rows lie `stride()` inks apart, a multiple of 4, as bitmaps of one byte a pixel want them.
  std::size_t stride() const { return stride_; }
  Ink ink(Point p) const { return pixels_[index(p)]; }
  Rgb colour(Ink ink) const { return colours_[ink]; }
  Rgb at(int x, int y) const {
    return colour(ink({static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)}));
  }
  std::span<const Ink> row(int y) const {
    return {pixels_.data() + static_cast<std::size_t>(y) * stride_, width_};
  }
  const Ink* inks() const { return pixels_.data(); }
  // The bytes that hold the pixels from inks() on: whole large blocks for a large area.
  std::size_t held_bytes() const { return block_bytes(pixels_.capacity()); }
  static constexpr std::size_t kLargeBlock = std::size_t{1} << 21;
  static constexpr bool large(std::size_t bytes) { return bytes >= kLargeBlock / 2; }
  static constexpr std::size_t block_bytes(std::size_t bytes) {
    return large(bytes) ? (bytes + kLargeBlock - 1) & ~(kLargeBlock - 1) : bytes;
  }
  // Rows to a band of about 64 K pixels: how a backend sends the whole area in pieces, so that a
  // conversion to the screen's format needs little memory at any size. At least 1.
  int band_rows() const {
    return width_ == 0
               ? 1
               : static_cast<int>(std::clamp<std::uint32_t>((1u << 16) / width_, 1, height_));
  }
  const std::array<Rgb, kInks>& colours() const { return colours_; }
  // The whole area in 0xRRGGBB, row by row, for the tools and tests that read it.
  std::vector<Rgb> picture() const;

  // Since the last flush: the points plotted (possibly on one pixel again, in the order drawn),
  // or after settle_changes() the pixels changed, or whole() when the entire area must be sent.
  std::span<const Touch> touched() const { return {touched_.data(), touched_count_}; }
  bool whole() const { return whole_; }
  bool dirty() const { return whole_ || touched_count_ != 0; }
  void flushed() {
    settle();
    touched_count_ = settled_ = 0;
    whole_ = false;
  }

 private:
  // The ink of a colour: the one remembered at its place in `guess_`, else the table's search.
  // Under this hash the palette's 16 colours and a new window's grey take 17 different places.
  static std::size_t place(Rgb colour) {
    return ((colour + (colour >> 9) + (colour >> 18)) * 2654435769u) >> 26;
  }
  Ink ink_of(Rgb colour) {
    if (colour == colours_[last_] && last_ < used_) return last_;
    const Ink guess = guess_[place(colour)];
    return last_ = colours_[guess] == colour && guess < used_ ? guess : add(colour);
  }
  Ink add(Rgb colour);
  void compact();

  // Areas of 1 MiB or more take whole blocks of 2 MiB that start on a 2 MiB boundary, where a
  // system can back them with large pages: a flush's scattered reads then find their pages
  // without a walk of the page tables.
  template <class T>
  struct LargeAligned {
    using value_type = T;
    LargeAligned() = default;
    template <class U>
    LargeAligned(const LargeAligned<U>&) {}
    T* allocate(std::size_t n) {
      const std::size_t bytes = n * sizeof(T);
      return static_cast<T*>(large(bytes) ? ::operator new(block_bytes(bytes), align())
                                          : ::operator new(bytes));
    }
    void deallocate(T* p, std::size_t n) {
      if (large(n * sizeof(T)))
        ::operator delete(p, align());
      else
        ::operator delete(p);
    }
    static std::align_val_t align() { return std::align_val_t{kLargeBlock}; }
    bool operator==(const LargeAligned&) const = default;
  };
  std::vector<Ink, LargeAligned<Ink>> pixels_;
  std::vector<Touch> touched_;
  std::array<Rgb, kInks> colours_{};
  std::array<Ink, 64> guess_{};
  Ink last_ = 0;
  std::size_t used_ = 0;  // inks in the table
  bool full_ = false;     // all 256 held on the screen at the last look
  std::size_t touched_count_ = 0;
  std::size_t settled_ = 0;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::size_t stride_ = 0;
  float scale_width_ = 0.0f;
  float scale_height_ = 0.0f;
  bool whole_ = false;
};

}  // namespace ps
