// Grouping the touched pixels by final colour: a counting sort by the ink each pixel ended in.
#include "platform/common/flush.h"

#include <algorithm>

namespace ps {

void Flush::group(const Surface& surface) {
  const auto touched = surface.touched();
  starts_.fill(0);
  for (std::size_t n = 0; n < touched.size(); ++n) {
    inks_[n] = touched[n].ink;
    ++starts_[inks_[n] + 1u];
  }
  for (std::size_t ink = 0; ink < Surface::kInks; ++ink) starts_[ink + 1] += starts_[ink];
  std::array<std::uint32_t, Surface::kInks> next;
  std::copy(starts_.begin(), starts_.end() - 1, next.begin());
  for (std::size_t n = 0; n < touched.size(); ++n) points_[next[inks_[n]]++] = touched[n].at;
}

}  // namespace ps
