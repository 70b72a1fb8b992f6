// The drawing surface and the flush every desktop backend sends it with: where a point lands,
// what is ignored, that a flush sends each touched pixel in its final colour, and when it asks
// for the whole picture instead. The show's own flushes are checked on the desktops.
#include "platform/common/surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "platform/common/flush.h"

namespace ps::test {
namespace {

// What a flush draws, as (colour, x, y); empty when it asks for the whole picture.
std::vector<std::tuple<Rgb, int, int>> drawn(Surface& s) {
  Flush flush;
  std::vector<std::tuple<Rgb, int, int>> out;
  s.settle();
  if (!flush.send(s, [&](Rgb colour, std::span<const Flush::Point> points) {
        for (const auto& p : points) out.emplace_back(colour, p.x, p.y);
      }))
    out.clear();
  s.flushed();
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Surface, SendsEachPointOnThePixelBelowAndLeftOfItInThatPixelsFinalColour) {
  Surface s;
  s.resize(300, 200, 0);
  EXPECT_TRUE(drawn(s).empty()) << "a fresh surface is sent whole";
  for (const auto& [x, y] :
       {std::pair{-0.001f, 1.0f}, {1.0f, -0.5f}, {300.0f, 1.0f}, {1.0f, 200.0f}})
    s.plot(x, y, 0x123456);
  EXPECT_FALSE(s.dirty()) << "points off the area are ignored";
  s.plot(3.99f, 0.5f, 0xFF0000);
  s.plot(299.9f, 199.9f, 0x00FF00);
  s.plot(3, 0, 0x0000FF);  // drawn over: only its last colour reaches the screen
  s.plot(7.5f, 5, 0xFF0000);
  const std::vector<std::tuple<Rgb, int, int>> expected{
      {0x0000FF, 3, 0}, {0x0000FF, 3, 0}, {0x00FF00, 299, 199}, {0xFF0000, 7, 5}};  // sorted
  EXPECT_EQ(drawn(s), expected);
}

TEST(Surface, AsksForTheWholePictureWhenMorePointsCameThanItsListHolds) {
  Surface s;
  s.resize(256, 256, 0);
  s.flushed();
  for (std::size_t n = 0; n <= Surface::kTouchedCapacity; ++n) s.plot(n % 256, n / 256 % 256, 1);
  EXPECT_TRUE(drawn(s).empty());
  EXPECT_EQ(s.at(0, 128), 1u) << "the points past the list are kept all the same";
}

}  // namespace
}  // namespace ps::test
