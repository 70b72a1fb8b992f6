// Motion: each tick erases, moves and redraws every particle, restarts it at the centre when a
// dot leaves the screen, and closes the gap of its dots at a rate that follows a sawtooth.
#include <gtest/gtest.h>

#include "show.h"

namespace ps::test {
namespace {

// A started show on 1000 x 800 with particle i set by hand, bright red; nn is 2500, so the
// drift is 0.25.
struct Placed {
  Placed(int i, double x1, double x2, double y, double vx, double vy) {
    EXPECT_TRUE(show->start());
    Field& f = show->field();
    f.px[1][i] = x1;
    f.px[2][i] = x2;
    f.py[i] = y;
    f.vx[1][i] = f.vx[2][i] = vx;
    f.vy[i] = vy;
    f.pc[i] = 12;
  }
  Field& f() { return show->field(); }
  bool tick() { return show->headless.tick(); }
  Rgb at(int x, int y) const { return show->screen().at(x, y); }

  std::unique_ptr<Show> show = make_show(1000, 800);
};

constexpr Rgb kRed = 0xFF0000;

struct Edge {
  double x1, x2, y, vx, vy;
  bool restarts;
};

class Edges : public ::testing::TestWithParam<Edge> {};

// Particle 4 moves 1 x its velocity across (dot 2 at 0.75 x, drift 0.25) and 2 x down.
TEST_P(Edges, RestartTheParticleOnlyWhenADotIsPastAnEdge) {
  const Edge e = GetParam();
  Placed p(4, e.x1, e.x2, e.y, e.vx, e.vy);
  ASSERT_TRUE(p.tick());
  if (e.restarts) {
    EXPECT_EQ(p.f().px[1][4], 425.0);
    EXPECT_EQ(p.f().px[2][4], 500 / 0.85);
    EXPECT_EQ(p.f().py[4], 400.0);
  } else {
    EXPECT_EQ(p.f().px[1][4], e.x1 + e.vx / 100);
    EXPECT_EQ(p.f().py[4], e.y + 2 * e.vy / 100);
  }
  EXPECT_EQ(p.f().vx[1][4], e.vx) << "velocities stay";
}

// Each pair: the edge reached exactly (still on the screen), then passed.
INSTANTIATE_TEST_SUITE_P(
    Motion, Edges,
    ::testing::Values(Edge{999, 999, 400, 100, 0, false}, Edge{999.01, 999, 400, 100, 0, true},
                      Edge{500, 999.5, 400, 100, 0, true}, Edge{1, 2, 400, -100, 0, false},
                      Edge{0.5, 50, 400, -100, 0, true}, Edge{300, 0.5, 400, -100, 0, true},
                      Edge{500, 600, 798, 0, 100, false}, Edge{500, 600, 799, 0, 100, true},
                      Edge{500, 600, 2, 0, -100, false}, Edge{500, 600, 1, 0, -100, true}));

TEST(Motion, RestartedParticleIsNotDrawnUntilItMovesOn) {
  Placed p(4, 999.01, 999, 300.5, 100, 0);
  ASSERT_TRUE(p.tick());
  EXPECT_EQ(p.at(999, 300), 0u) << "erased at the old place";
  EXPECT_NE(p.at(425, 400), kRed);
  ASSERT_TRUE(p.tick());
  EXPECT_EQ(p.at(426, 400), kRed) << "one step on from the restart point";
}

TEST(Motion, StillParticleNeverMovesAndStaysLit) {
  Placed p(4, 300.5, 310.5, 200.5, 0, 0);
  for (int t = 0; t < 50; ++t) ASSERT_TRUE(p.tick());
  EXPECT_EQ(p.f().px[1][4], 300.5);
  EXPECT_EQ(p.f().px[2][4], 310.5);
  EXPECT_EQ(p.at(310, 200), kRed);
}

TEST(Motion, GapClosesByDriftTimesSpeedWhicheverWayThePairFlies) {
  for (const double vx : {40.0, -40.0}) {
    Placed p(4, 400, 600, 400, vx, 0);
    ASSERT_TRUE(p.tick());
    EXPECT_DOUBLE_EQ(p.f().px[2][4] - p.f().px[1][4], 200 - 0.25 * 40 / 100) << vx;
  }
}

TEST(Motion, DriftClimbsToHalfThenDropsBackToAQuarter) {
  // Particle 8 flies slowly across (vx = 1, 1 x its velocity) and never leaves.
  Placed p(8, 100, 900, 400, 1, 0);
  p.f().nn = 4999;
  for (const double drift : {0.4999, 0.5, 0.25}) {
    const double before = p.f().px[2][8];
    ASSERT_TRUE(p.tick());
    EXPECT_NEAR(p.f().px[2][8] - before, (1 - drift) / 100, 1e-12) << drift;
  }
  EXPECT_EQ(p.f().nn, 2501);
}

TEST(Motion, ErasingOneParticleBlanksAnotherOnTheSamePixelUntilItIsDrawnAgain) {
  Placed p(4, 300.5, 310.5, 200.5, 0, 0);  // still, drawn first
  Field& f = p.f();
  f.px[1][8] = 300.2;  // particle 8 sits on the same pixel, then flies off
  f.px[2][8] = 700;
  f.py[8] = 200.2;
  f.vx[1][8] = f.vx[2][8] = 100;
  f.vy[8] = 0;
  ASSERT_TRUE(p.tick());
  EXPECT_EQ(p.at(300, 200), 0u);
  ASSERT_TRUE(p.tick());
  EXPECT_EQ(p.at(300, 200), kRed);
}

TEST(TickRule, TickFallingDueDuringATickIsMergedIntoIt) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  show->post(Input::Tick, show->headless.calls() + 500);
  show->post(Input::Tick, show->headless.calls() + 501);
  ASSERT_TRUE(show->headless.tick());
  EXPECT_EQ(show->headless.ticks_run(), 1u);
  EXPECT_EQ(show->field().nn, 2501);
  EXPECT_EQ(show->headless.pending(), 0u);
  EXPECT_EQ(show->headless.interval_sets(), 1) << "the tick sets its period again";
}

}  // namespace
}  // namespace ps::test
