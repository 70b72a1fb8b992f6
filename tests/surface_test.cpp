// The drawing surface every backend flushes from: where a point lands, what it ignores, what a
// change of size does, and what a flush is told to send.
#include "platform/common/surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ps::test {
namespace {

struct Landing {
  float x, y;
  int px, py;
};

class PointLands : public ::testing::TestWithParam<Landing> {};

TEST_P(PointLands, OnThePixelBelowAndLeftOfIt) {
  const Landing c = GetParam();
  Surface s;
  s.resize(10, 8, 0);
  s.plot(c.x, c.y, 0xFFFFFF);
  EXPECT_EQ(s.at(c.px, c.py), 0xFFFFFFu);
  ASSERT_EQ(s.touched().size(), 1u);
  EXPECT_EQ(s.touched()[0], static_cast<std::uint32_t>(c.py * 10 + c.px));
}

INSTANTIATE_TEST_SUITE_P(Surface, PointLands,
                         ::testing::Values(Landing{0, 0, 0, 0}, Landing{0.999f, 0.5f, 0, 0},
                                           Landing{1, 1, 1, 1}, Landing{9.99f, 7.99f, 9, 7},
                                           Landing{4.5f, 3.5f, 4, 3}));

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
                             {-inf, -inf},
                             {1e30f, 1e30f}})
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
  EXPECT_EQ(s.width(), 6);
  EXPECT_EQ(s.height(), 3);
  EXPECT_EQ(s.scale_width(), 6.0f);
  EXPECT_TRUE(s.whole());
  for (const Rgb p : s.pixels()) EXPECT_EQ(p, 0x123456u);
}

TEST(Surface, EmptyOrNegativeSizeIsAnAreaThatDrawsNothing) {
  for (const auto& [w, h] : {std::pair{0, 0}, {0, 5}, {5, 0}, {-3, 7}, {-1, -1}}) {
    Surface s;
    s.resize(w, h, 0);
    EXPECT_EQ(s.width(), 0);
    EXPECT_EQ(s.height(), 0);
    s.plot(0, 0, 0xFFFFFF);
    EXPECT_TRUE(s.pixels().empty());
    EXPECT_TRUE(s.touched().empty());
  }
}

TEST(Surface, KeepsEveryTouchInOrderThenFlushesWholeWhenTheListOverflows) {
  Surface s;
  s.resize(256, 256, 0);
  s.flushed();
  s.plot(3, 0, 1);
  s.plot(3, 0, 2);
  ASSERT_EQ(s.touched().size(), 2u);
  EXPECT_EQ(s.at(3, 0), 2u) << "the last colour drawn wins";
  for (std::size_t n = 2; n <= Surface::kTouchedCapacity; ++n) s.plot(n % 256, n / 256 % 256, 3);
  EXPECT_TRUE(s.whole());
  EXPECT_EQ(s.touched().size(), Surface::kTouchedCapacity);
  s.flushed();
  EXPECT_FALSE(s.dirty());
}

}  // namespace
}  // namespace ps::test
