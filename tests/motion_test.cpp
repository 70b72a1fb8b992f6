// Motion: each tick erases, moves and redraws every particle, restarts it at the centre when a
// dot leaves the screen, and closes the gap of its two dots at a rate that follows a sawtooth.
#include <gtest/gtest.h>

#include "show.h"

namespace ps::test {
namespace {

// A started show on 1000 x 800 with particle i set by hand; nn is 2500, so drift is 0.25.
struct Placed {
  Placed(int i, double x1, double x2, double y, double vx, double vy) : i(i) {
    EXPECT_TRUE(show->start());
    Field& f = show->field();
    f.px[1][i] = x1;
    f.px[2][i] = x2;
    f.py[i] = y;
    f.vx[1][i] = f.vx[2][i] = vx;
    f.vy[i] = vy;
    f.pc[i] = 12;  // bright red
  }
  Field& f() { return show->field(); }
  bool tick() { return show->headless.tick(); }
  Rgb at(int x, int y) const { return show->screen().at(x, y); }

  std::unique_ptr<Show> show = make_show(1000, 800);
  int i;
};

struct Step {
  int i;
  int k;  // the factor across
  int m;  // the factor down
};

class StepFactors : public testing::TestWithParam<Step> {};

TEST_P(StepFactors, MoveEachParticleAtItsMultipleOfItsVelocity) {
  const auto [i, k, m] = GetParam();
  Placed p(i, 500, 600, 400, 10, 20);
  ASSERT_TRUE(p.tick());
  EXPECT_EQ(p.f().px[1][i], 500 + k * 10.0 / 100);
  EXPECT_EQ(p.f().px[2][i], 600 + (k - 0.25) * 10.0 / 100);
  EXPECT_EQ(p.f().py[i], 400 + m * 20.0 / 100);
}

INSTANTIATE_TEST_SUITE_P(Motion, StepFactors,
                         testing::Values(Step{4, 1, 2}, Step{8, 1, 3}, Step{12, 1, 1},
                                         Step{1, 2, 2}, Step{5, 2, 3}, Step{2, 3, 3}, Step{6, 3, 1},
                                         Step{3, 4, 1}, Step{7, 4, 2}, Step{11, 4, 3},
                                         Step{1000, 1, 2}, Step{999, 4, 1}));

struct Edge {
  const char* what;
  double x1, x2, y, vx, vy;
  bool restarts;
};

class Edges : public testing::TestWithParam<Edge> {};

// Particle 4 moves 1 x its velocity across (dot 2 at 0.75 x, drift 0.25) and 2 x down.
TEST_P(Edges, RestartTheParticleWhenEitherDotLeavesTheScreen) {
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

INSTANTIATE_TEST_SUITE_P(
    Motion, Edges,
    testing::Values(Edge{"dot 1 lands exactly on the right edge", 999, 999, 400, 100, 0, false},
                    Edge{"dot 1 passes the right edge", 999.01, 999, 400, 100, 0, true},
                    Edge{"dot 2 alone passes the right edge", 500, 999.5, 400, 100, 0, true},
                    Edge{"dot 1 lands exactly on the left edge", 1, 2, 400, -100, 0, false},
                    Edge{"dot 1 passes the left edge", 0.5, 50, 400, -100, 0, true},
                    Edge{"dot 2 alone passes the left edge", 300, 0.5, 400, -100, 0, true},
                    Edge{"the pair lands exactly on the bottom", 500, 600, 798, 0, 100, false},
                    Edge{"the pair passes the bottom", 500, 600, 799, 0, 100, true},
                    Edge{"the pair lands exactly on the top", 500, 600, 2, 0, -100, false},
                    Edge{"the pair passes the top", 500, 600, 1, 0, -100, true}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(Motion, RestartedParticleIsNotDrawnUntilItMovesOn) {
  Placed p(4, 999.01, 999, 300.5, 100, 0);
  ASSERT_TRUE(p.tick());
  EXPECT_EQ(p.at(999, 300), 0u) << "erased at the old place";
  EXPECT_EQ(p.f().px[1][4], 425.0);
  EXPECT_NE(p.at(425, 400), qb_color(12));
  ASSERT_TRUE(p.tick());
  // Next tick it moves one step from the restart points and shows.
  EXPECT_EQ(p.at(426, 400), qb_color(12));
}

TEST(Motion, DotOnTheRightEdgeIsKeptButShowsNothing) {
  Placed p(4, 999, 998.5, 100.5, 100, 0);
  ASSERT_TRUE(p.tick());
  EXPECT_EQ(p.f().px[1][4], 1000.0);
  EXPECT_EQ(p.at(999, 100), qb_color(12)) << "dot 2 at 999.25";
}

TEST(Motion, StillParticleNeverMovesAndStaysLit) {
  Placed p(4, 300.5, 310.5, 200.5, 0, 0);
  for (int t = 0; t < 50; ++t) ASSERT_TRUE(p.tick());
  EXPECT_EQ(p.f().px[1][4], 300.5);
  EXPECT_EQ(p.f().px[2][4], 310.5);
  EXPECT_EQ(p.f().py[4], 200.5);
  EXPECT_EQ(p.at(310, 200), qb_color(12));
}

TEST(Motion, GapClosesByDriftTimesSpeedWhicheverWayThePairFlies) {
  for (const double vx : {40.0, -40.0}) {
    Placed p(4, 400, 600, 400, vx, 0);
    ASSERT_TRUE(p.tick());
    EXPECT_DOUBLE_EQ(p.f().px[2][4] - p.f().px[1][4], 200 - 0.25 * 40 / 100) << vx;
  }
}

TEST(Motion, DriftClimbsFromQuarterToHalfThenDropsBack) {
  Placed p(4, 400, 600, 400, 0, 0);
  p.f().vx[1][4] = p.f().vx[2][4] = 0;
  // Watch the drift through a slow particle that never leaves: particle 8 at vx = 1.
  Field& f = p.f();
  f.px[1][8] = 100;
  f.px[2][8] = 900;
  f.py[8] = 400;
  f.vx[1][8] = f.vx[2][8] = 1;
  f.vy[8] = 0;
  f.nn = 4999;
  double before = f.px[2][8];
  ASSERT_TRUE(p.tick());
  EXPECT_NEAR(f.px[2][8] - before, (1 - 0.4999) / 100, 1e-9);
  EXPECT_EQ(f.nn, 5000);
  before = f.px[2][8];
  ASSERT_TRUE(p.tick());
  EXPECT_NEAR(f.px[2][8] - before, (1 - 0.5) / 100, 1e-9) << "the tick starting at 5000";
  EXPECT_EQ(f.nn, 2500);
  before = f.px[2][8];
  ASSERT_TRUE(p.tick());
  EXPECT_NEAR(f.px[2][8] - before, (1 - 0.25) / 100, 1e-9);
  EXPECT_EQ(f.nn, 2501);
}

TEST(Motion, CounterRepeatsEvery2501Ticks) {
  auto show = make_show(320, 200);
  ASSERT_TRUE(show->start());
  int highest = 0;
  for (int t = 0; t < 2501; ++t) {
    ASSERT_TRUE(show->headless.tick());
    highest = std::max(highest, show->field().nn);
    ASSERT_GE(show->field().nn, 2500);
  }
  EXPECT_EQ(highest, 5000);
  EXPECT_EQ(show->field().nn, 2500);
}

TEST(Motion, ErasingOneParticleBlanksAnotherOnTheSamePixelUntilItIsDrawnAgain) {
  Placed p(4, 300.5, 310.5, 200.5, 0, 0);  // still, drawn first
  Field& f = p.f();
  f.px[1][8] = 300.2;  // particle 8 sits on the same pixel, then flies off
  f.px[2][8] = 700;
  f.py[8] = 200.2;
  f.vx[1][8] = f.vx[2][8] = 100;
  f.vy[8] = 0;
  f.pc[8] = 10;
  ASSERT_TRUE(p.tick());
  EXPECT_EQ(p.at(300, 200), 0u);
  EXPECT_EQ(p.at(310, 200), qb_color(12));
  ASSERT_TRUE(p.tick());
  EXPECT_EQ(p.at(300, 200), qb_color(12));
}

TEST(Motion, EveryTickSetsTheIntervalAgain) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  for (int t = 0; t < 7; ++t) ASSERT_TRUE(show->headless.tick());
  EXPECT_EQ(show->headless.interval_sets(), 7);
  EXPECT_EQ(show->headless.platform().Timer1.interval(), 10);
}

// A tick inside the scatter meets particles still at zero: it erases and moves the ones placed
// so far, draws nothing (the counter is still at 5 or less) and leaves the rest to the scatter.
TEST(TicksDuringScatter, EraseAndMoveWhatIsPlacedAndDrawNothing) {
  auto plain = make_show();
  auto ticked = make_show();
  ticked->post(Headless::Input::Tick, 10);
  ASSERT_TRUE(plain->start());
  ASSERT_TRUE(ticked->start());
  const Field& a = plain->field();
  const Field& b = ticked->field();
  for (int i = 1; i <= kParticles; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(b.vx[1][i], a.vx[1][i]);
    if (i <= 10) {
      EXPECT_NE(b.px[1][i], a.px[1][i]);
    } else {
      EXPECT_EQ(b.px[1][i], a.px[1][i]);
      EXPECT_EQ(b.px[2][i], a.px[2][i]);
      EXPECT_EQ(b.py[i], a.py[i]);
    }
  }
  int differing = 0;
  for (int y = 0; y < 800; ++y)
    for (int x = 0; x < 1000; ++x)
      if (ticked->screen().at(x, y) != plain->screen().at(x, y)) {
        ++differing;
        EXPECT_EQ(ticked->screen().at(x, y), 0u);
      }
  EXPECT_GT(differing, 5) << "the first ten particles were erased";
  EXPECT_LE(differing, 21);
  EXPECT_EQ(b.nn, 2500);
}

TEST(TicksDuringScatter, DrawOnceTheCounterPassesFive) {
  // Each tick falls due at the scatter's next call after the one before has run.
  for (const std::uint64_t ticks : {5u, 6u}) {
    SCOPED_TRACE(ticks);
    auto show = make_show();
    for (std::uint64_t t = 0; t < ticks; ++t) show->post(Headless::Input::Tick, 10 + 1002 * t);
    ASSERT_TRUE(show->start());
    EXPECT_EQ(show->headless.platform().ticks_run(), ticks);
    EXPECT_EQ(show->field().nn, 2500);
    // Particle 1 has moved once per tick; only a sixth tick draws it where it now stands.
    const Field& f = show->field();
    const int x = static_cast<int>(static_cast<float>(f.px[1][1]));
    const int y = static_cast<int>(static_cast<float>(f.py[1]));
    ASSERT_TRUE(x >= 0 && x < 1000 && y >= 0 && y < 800);
    const Rgb colour = qb_color(colour_index(f.pc[1]));
    ASSERT_NE(colour, 0u);
    EXPECT_EQ(show->screen().at(x, y) == colour, ticks == 6);
  }
}

TEST(TickRule, TickFallingDueDuringATickIsMergedIntoIt) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  show->post(Headless::Input::Tick, show->calls() + 500);
  show->post(Headless::Input::Tick, show->calls() + 501);
  ASSERT_TRUE(show->headless.tick());
  EXPECT_EQ(show->headless.platform().ticks_run(), 1u);
  EXPECT_EQ(show->field().nn, 2501);
  EXPECT_EQ(show->headless.pending(), 0u);
}

TEST(TickRule, TwoTicksDueTogetherInTheScatterRunOnce) {
  auto show = make_show();
  show->post(Headless::Input::Tick, 50);
  show->post(Headless::Input::Tick, 50);
  ASSERT_TRUE(show->start());
  EXPECT_EQ(show->headless.platform().ticks_run(), 1u);
}

}  // namespace
}  // namespace ps::test
