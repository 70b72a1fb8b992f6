// The drawing surface and the flush every desktop backend sends it with: where a point lands,
// what is ignored, what a change of size does, and what a flush is told to send.
#include "platform/common/surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "platform/common/flush.h"

namespace ps::test {
namespace {

TEST(Surface, PutsAPointOnThePixelBelowAndLeftOfItAndIgnoresOthers) {
  Surface s;
  s.resize(10, 8, 0);
  for (const auto& [x, y] : {std::pair{0.999f, 0.5f}, {9.99f, 7.99f}, {4.5f, 3.5f}}) {
    s.plot(x, y, 0xFFFFFF);
    s.settle();
    EXPECT_EQ(s.at(static_cast<int>(x), static_cast<int>(y)), 0xFFFFFFu) << x << "," << y;
  }
  s.flushed();
  for (const auto& [x, y] : {std::pair{-0.001f, 1.0f},
                             {1.0f, -0.5f},
                             {10.0f, 1.0f},
                             {1.0f, 8.0f},
                             {std::nanf(""), 1.0f},
                             {1.0f, INFINITY},
                             {1e30f, -1e30f}})
    s.plot(x, y, 0x123456);
  EXPECT_FALSE(s.dirty());
}

TEST(Surface, ChangeOfSizeClearsToTheBackColourAndAnEmptyOneDrawsNothing) {
  Surface s;
  s.resize(4, 4, 0);
  s.plot(1, 1, 0xFF0000);
  s.flushed();
  s.resize(6, 3, 0x123456);
  EXPECT_TRUE(s.whole());
  for (const Rgb p : s.pixels()) EXPECT_EQ(p, 0x123456u);
  for (const auto& [w, h] : {std::pair{0, 5}, {5, 0}, {-3, 7}}) {
    s.resize(w, h, 0);
    s.plot(0, 0, 0xFFFFFF);
    EXPECT_EQ(s.scale_width(), 0.0f);
    EXPECT_TRUE(s.pixels().empty());
  }
}

// What a flush draws, as (colour, x, y); empty when it asks for the whole picture.
std::vector<std::tuple<Rgb, int, int>> drawn(Surface& s) {
  Flush flush;
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
  EXPECT_TRUE(drawn(s).empty()) << "a fresh surface is sent whole";
  s.flushed();
  s.plot(3, 0, 0xFF0000);
  s.plot(299, 199, 0x00FF00);
  s.plot(3, 0, 0x0000FF);  // drawn over: only its last colour reaches the screen
  s.plot(7, 5, 0xFF0000);
  const std::vector<std::tuple<Rgb, int, int>> expected{
      {0x0000FF, 3, 0}, {0x0000FF, 3, 0}, {0x00FF00, 299, 199}, {0xFF0000, 7, 5}};
  EXPECT_EQ(drawn(s), expected);
}

TEST(Flush, AsksForTheWholePictureWhenTooManyColoursOrPointsCame) {
  Surface s;
  s.resize(256, 256, 0);
  s.flushed();
  for (Rgb c = 1; c <= Flush::kColours + 1; ++c) s.plot(static_cast<float>(c), 0, c);
  EXPECT_TRUE(drawn(s).empty());
  s.flushed();
  for (std::size_t n = 0; n <= Surface::kTouchedCapacity; ++n) s.plot(n % 256, n / 256 % 256, 1);
  EXPECT_TRUE(s.whole());
  s.settle();
  EXPECT_EQ(s.at(0, 128), 1u) << "the points past the list are kept all the same";
}

}  // namespace
}  // namespace ps::test
