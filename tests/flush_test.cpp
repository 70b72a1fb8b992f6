// The flush every desktop backend shares: what it sends after points that change a pixel, that
// draw it again in its own colour, and that touch it more than once between two flushes.
#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "platform/common/flush.h"

namespace ps::test {
namespace {

using Sent = std::map<std::pair<int, int>, std::vector<Rgb>>;

Sent flush(Surface& surface, Flush& flush) {
  Sent sent;
  surface.settle_changes();
  const bool drawn = flush.send(surface, [&](Rgb colour, std::span<const Flush::Point> points) {
    for (const Flush::Point p : points) sent[{p.x, p.y}].push_back(colour);
  });
  EXPECT_TRUE(drawn);
  surface.flushed();
  return sent;
}

TEST(Flush, SendsEachChangedPixelOnceInItsLastColourAndNoPixelThatEndsAsItWas) {
  constexpr Rgb kRed = 0xFF0000, kGreen = 0x00FF00;
  Surface surface;
  Flush sender;
  surface.resize(8, 4, 0);
  surface.flushed();  // the cleared area went out whole
  surface.plot(1, 1, kRed);
  surface.plot(2, 1, kGreen);
  surface.plot(4, 1, kRed);
  EXPECT_EQ(flush(surface, sender), (Sent{{{1, 1}, {kRed}}, {{2, 1}, {kGreen}}, {{4, 1}, {kRed}}}));

  surface.plot(1, 1, 0);  // erased and drawn again in its colour: no change
  surface.plot(1, 1, kRed);
  surface.plot(2, 1, 0);  // erased
  surface.plot(3, 1, kRed);  // drawn twice: green on the screen
  surface.plot(3, 1, kGreen);
  surface.plot(5, 1, kRed);  // drawn and erased: black, as it was
  surface.plot(5, 1, 0);
  surface.plot(4, 1, kGreen);  // red to green to red
  surface.plot(4, 1, kRed);
  EXPECT_EQ(flush(surface, sender), (Sent{{{2, 1}, {0}}, {{3, 1}, {kGreen}}}));
  EXPECT_EQ(surface.at(1, 1), kRed);
  EXPECT_EQ(surface.at(3, 1), kGreen);
  EXPECT_EQ(surface.at(5, 1), 0u);
}

}  // namespace
}  // namespace ps::test
