// The scatter: where the 1000 particles start, in which colours, and that every run places them
// the same way.
#include <gtest/gtest.h>

#include <cmath>

#include "show.h"

namespace ps::test {
namespace {

TEST(Scatter, PlacesEveryParticleWithinTheClientArea) {
  auto show = make_show(1000, 800);
  ASSERT_TRUE(show->start());
  const Field& f = show->field();
  for (int i = 1; i <= kParticles; ++i) {
    SCOPED_TRACE(i);
    EXPECT_GE(f.vx[1][i], -500.0);
    EXPECT_LT(f.vx[1][i], 500.0);
    EXPECT_EQ(f.vx[1][i], f.vx[2][i]);
    EXPECT_GE(f.vy[i], -400.0);
    EXPECT_LT(f.vy[i], 400.0);
    EXPECT_GE(f.py[i], 0.0);
    EXPECT_LT(f.py[i], 800.0);
    EXPECT_GE(f.pc[i], 0.0f);
    EXPECT_LT(f.pc[i], 15.0f);
    // Dot 2 stands right of dot 1, at X / 0.85 against 0.85 X.
    EXPECT_LE(f.px[1][i], f.px[2][i]);
  }
  EXPECT_EQ(f.vx[1][0], 0.0) << "index 0 is never used";
}

TEST(Scatter, DrawsTheSequenceInOrderXThenYThenColour) {
  auto show = make_show(1000, 800);
  ASSERT_TRUE(show->start());
  const Field& f = show->field();
  Random r;
  for (int i = 1; i <= kParticles; ++i) {
    const double x = r.next();
    const double y = r.next();
    const float c = r.next();
    ASSERT_EQ(f.vx[1][i], (x - 0.5) * 1000.0) << i;
    ASSERT_EQ(f.vy[i], (y - 0.5) * 800.0) << i;
    ASSERT_EQ(f.pc[i], c * 15.0f) << i;
    ASSERT_EQ(f.py[i], f.vy[i] + 400.0) << i;
    ASSERT_EQ(f.px[1][i], (f.vx[1][i] + 500.0) * 0.85) << i;
    ASSERT_EQ(f.px[2][i], (f.vx[2][i] + 500.0) * std::pow(0.85, -1)) << i;
  }
}

TEST(Scatter, GivesTheSameFieldAndPictureOnEveryRun) {
  auto first = make_show(1280, 720);
  auto second = make_show(1280, 720);
  ASSERT_TRUE(first->start());
  ASSERT_TRUE(second->start());
  for (int i = 1; i <= kParticles; ++i) {
    ASSERT_EQ(first->field().px[1][i], second->field().px[1][i]);
    ASSERT_EQ(first->field().px[2][i], second->field().px[2][i]);
    ASSERT_EQ(first->field().py[i], second->field().py[i]);
    ASSERT_EQ(first->field().pc[i], second->field().pc[i]);
  }
  ASSERT_TRUE(std::equal(first->screen().pixels().begin(), first->screen().pixels().end(),
                         second->screen().pixels().begin()));
}

TEST(Scatter, PlotsEachDotInItsParticlesColourOrNotAtAllOffScreen) {
  auto show = make_show(1000, 800);
  ASSERT_TRUE(show->start());
  const Field& f = show->field();
  int black = 0, beyond_right = 0;
  for (int i = 1; i <= kParticles; ++i) {
    const Rgb colour = qb_color(colour_index(f.pc[i]));
    black += colour == 0;
    const int y = static_cast<int>(static_cast<float>(f.py[i]));
    const auto x2 = static_cast<float>(f.px[2][i]);
    if (x2 >= 1000.0f) {
      ++beyond_right;
      continue;
    }
    // Another particle drawn later may have covered the pixel; that is the only exception.
    const Rgb seen = show->screen().at(static_cast<int>(x2), y);
    if (seen != colour) {
      bool covered = false;
      for (int j = i + 1; j <= kParticles && !covered; ++j)
        covered = static_cast<int>(static_cast<float>(f.py[j])) == y;
      EXPECT_TRUE(covered) << i;
    }
  }
  // About one in thirty is black and one in seven has dot 2 past the right edge.
  EXPECT_GT(black, 10);
  EXPECT_LT(black, 70);
  EXPECT_GT(beyond_right, 100);
  EXPECT_LT(beyond_right, 200);
}

struct Rounding {
  float pc;
  int index;
};

class ColourIndex : public testing::TestWithParam<Rounding> {};

TEST_P(ColourIndex, RoundsHalvesToTheEvenNeighbour) {
  EXPECT_EQ(colour_index(GetParam().pc), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Scatter, ColourIndex,
                         testing::Values(Rounding{0.0f, 0}, Rounding{0.49f, 0}, Rounding{0.5f, 0},
                                         Rounding{0.51f, 1}, Rounding{1.5f, 2}, Rounding{2.5f, 2},
                                         Rounding{7.5f, 8}, Rounding{14.5f, 14},
                                         Rounding{14.51f, 15}, Rounding{14.999999f, 15},
                                         Rounding{std::nextafter(3.5f, 0.0f), 3},
                                         Rounding{std::nextafter(3.5f, 4.0f), 4},
                                         Rounding{-1.5f, -2}, Rounding{1e30f, 0},
                                         Rounding{std::nanf(""), 0}));

TEST(Scatter, EndsWithTheCounterAt2500WhateverTicksRanDuringIt) {
  auto show = make_show();
  // Each tick falls due at the scatter's next call after the one before has run.
  for (std::uint64_t t = 0; t < 30; ++t) show->post(Headless::Input::Tick, 10 + 1002 * t);
  ASSERT_TRUE(show->start());
  EXPECT_EQ(show->headless.platform().ticks_run(), 30u);
  EXPECT_EQ(show->field().nn, 2500);
}

}  // namespace
}  // namespace ps::test
