// The drawing surface and the flush every desktop backend sends it with: where a point lands,
// what is ignored, what a change of size does, and that a flush sends each touched pixel once
// per touch in its final colour, grouped by colour, or asks for the whole picture.
#include "platform/common/surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include "platform/common/flush.h"

namespace ps::test {
namespace {

struct Landing {
  float x, y;
  int px, py;
};

class PointLands : public ::testing::TestWithParam<Landing> {};

TEST_P(PointLands, OnThePixelWhoseCornerIsBelowAndLeftOfIt) {
  const Landing c = GetParam();
  Surface s;
  s.resize(10, 8, 0);
  s.plot(c.x, c.y, 0xFFFFFF);
  s.settle();
  EXPECT_EQ(s.at(c.px, c.py), 0xFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(Surface, PointLands,
                         ::testing::Values(Landing{0, 0, 0, 0}, Landing{0.999f, 0.5f, 0, 0},
                                           Landing{9.99f, 7.99f, 9, 7}, Landing{4.5f, 3.5f, 4, 3}));

TEST(Surface, IgnoresPointsOutsideTheClientAreaOrNotANumber) {
  constexpr float nan = std::numeric_limits<float>::quiet_NaN();
  constexpr float inf = std::numeric_limits<float>::infinity();
  Surface s;
  s.resize(10, 8, 0);
  s.flushed();
  for (const auto& [x, y] : {std::pair{-0.001f, 1.0f},
                             {1.0f, -0.5f},
                             {10.0f, 1.0f},
                             {1.0f, 8.0f},
                             {nan, 1.0f},
                             {1.0f, nan},
                             {inf, 1.0f},
                             {1e30f, -1e30f}})
    s.plot(x, y, 0xFFFFFF);
  EXPECT_FALSE(s.dirty());
  for (const Rgb p : s.pixels()) EXPECT_EQ(p, 0u);
}

TEST(Surface, ChangeOfSizeClearsToTheBackColourAndAsksForAWholeFlush) {
  Surface s;
  s.resize(4, 4, 0);
  s.plot(1, 1, 0xFF0000);
  s.flushed();
  s.resize(6, 3, 0x123456);
  EXPECT_EQ(s.scale_width(), 6.0f);
  EXPECT_EQ(s.scale_height(), 3.0f);
  EXPECT_TRUE(s.whole());
  for (const Rgb p : s.pixels()) EXPECT_EQ(p, 0x123456u);
  for (const auto& [w, h] : {std::pair{0, 5}, {5, 0}, {-3, 7}}) {
    s.resize(w, h, 0);
    s.plot(0, 0, 0xFFFFFF);
    EXPECT_EQ(s.scale_width(), 0.0f) << "an empty area draws nothing";
    EXPECT_TRUE(s.pixels().empty());
  }
}

// What a flush draws, as (colour, x, y) in the order it draws them; empty when it asks for all.
std::vector<std::tuple<Rgb, int, int>> drawn(Surface& s, Flush& flush) {
  std::vector<std::tuple<Rgb, int, int>> out;
  s.settle();
  if (!flush.send(s, [&](Rgb colour, std::span<const Flush::Point> points) {
        for (const auto& p : points) out.emplace_back(colour, p.x, p.y);
      }))
    out.clear();
  return out;
}

TEST(Flush, SendsEveryTouchInItsPixelsFinalColourOneListPerColour) {
  Surface s;
  s.resize(300, 200, 0);
  s.flushed();
  s.plot(3, 0, 0xFF0000);
  s.plot(299, 199, 0x00FF00);
  s.plot(3, 0, 0x0000FF);  // drawn over: only its last colour reaches the screen
  s.plot(7, 5, 0xFF0000);
  Flush flush;
  const auto sent = drawn(s, flush);
  const std::vector<std::tuple<Rgb, int, int>> expected{
      {0x0000FF, 3, 0}, {0x0000FF, 3, 0}, {0x00FF00, 299, 199}, {0xFF0000, 7, 5}};
  EXPECT_EQ(sent, expected);
}

TEST(Flush, AsksForTheWholePictureWhenTooManyColoursOrTouchesCame) {
  Surface s;
  s.resize(256, 256, 0);
  Flush flush;
  EXPECT_TRUE(drawn(s, flush).empty()) << "a fresh surface is sent whole";
  s.flushed();
  for (Rgb c = 1; c <= Flush::kColours + 1; ++c) s.plot(static_cast<float>(c), 0, c);
  EXPECT_TRUE(drawn(s, flush).empty());
  s.flushed();
  for (std::size_t n = 0; n <= Surface::kTouchedCapacity; ++n) s.plot(n % 256, n / 256 % 256, 1);
  EXPECT_TRUE(s.whole());
  s.settle();
  EXPECT_EQ(s.at(0, 128), 1u) << "the points past the list are kept all the same";
}

}  // namespace
}  // namespace ps::test
