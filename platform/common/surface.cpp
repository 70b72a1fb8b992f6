// Sizing and clearing of the shared surface; plotting is inline in the header.
#include "platform/common/surface.h"

#include <algorithm>

namespace ps {

void Surface::resize(int width, int height, Rgb fill) {
  if (width < 1 || height < 1) width = height = 0;
  width = std::min(width, kMaxSide);
  height = std::min(height, kMaxSide);
  width_ = static_cast<std::uint32_t>(width);
  height_ = static_cast<std::uint32_t>(height);
  pixels_.resize(std::size_t{width_} * height_);
  scale_width_ = static_cast<float>(width_);
  scale_height_ = static_cast<float>(height_);
  clear(fill);
}

void Surface::clear(Rgb fill) {
  std::fill(pixels_.begin(), pixels_.end(), fill);
  touched_count_ = settled_ = 0;
  whole_ = true;
}

}  // namespace ps
