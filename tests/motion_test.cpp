// Motion: a particle restarts at the centre only once a dot is past an edge. The rest of the
// motion (the steps, the drift's sawtooth, the erasing, the restarted pair left undrawn) is held
// by the golden pictures; that ticks never nest, by the fuzz target.
#include <gtest/gtest.h>

#include "show.h"

namespace ps::test {
namespace {

struct Edge {
  double x1, x2, y, vx, vy;
  bool restarts;
};

class Edges : public ::testing::TestWithParam<Edge> {};

TEST_P(Edges, RestartTheParticleOnlyWhenADotIsPastAnEdge) {
  // Particle 4 of a started show on 1000 x 800, set by hand. It moves 1 x its velocity across
  // (dot 2 at 0.75 x: the drift is 0.25) and 2 x down.
  const Edge e = GetParam();
  auto show = make_show(1000, 800);
  ASSERT_TRUE(show->start());
  Field& f = show->field();
  f.px[1][4] = e.x1, f.px[2][4] = e.x2, f.py[4] = e.y;
  f.vx[1][4] = f.vx[2][4] = e.vx, f.vy[4] = e.vy;
  ASSERT_TRUE(show->headless.tick());
  if (e.restarts) {
    EXPECT_EQ(f.px[1][4], 425.0);
    EXPECT_EQ(f.px[2][4], 500 / 0.85);
    EXPECT_EQ(f.py[4], 400.0);
  } else {
    EXPECT_EQ(f.px[1][4], e.x1 + e.vx / 100);
    EXPECT_EQ(f.py[4], e.y + 2 * e.vy / 100);
  }
  EXPECT_EQ(f.vx[1][4], e.vx) << "velocities stay";
}

// Each pair: the edge reached exactly (still on the screen), then passed.
INSTANTIATE_TEST_SUITE_P(
    Motion, Edges,
    ::testing::Values(Edge{999, 999, 400, 100, 0, false}, Edge{999.01, 999, 400, 100, 0, true},
                      Edge{500, 999.5, 400, 100, 0, true}, Edge{1, 2, 400, -100, 0, false},
                      Edge{0.5, 50, 400, -100, 0, true}, Edge{300, 0.5, 400, -100, 0, true},
                      Edge{500, 600, 798, 0, 100, false}, Edge{500, 600, 799, 0, 100, true},
                      Edge{500, 600, 2, 0, -100, false}, Edge{500, 600, 1, 0, -100, true}));

}  // namespace
}  // namespace ps::test
