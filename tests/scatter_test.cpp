// The scatter: the rounding of the colours, and the ticks that may run in the middle of it.
// Where the particles start is held by the golden picture of the scatter.
#include <gtest/gtest.h>

#include <cmath>

#include "show.h"

namespace ps::test {
namespace {

struct Rounding {
  float pc;
  int index;
};

class ColourIndex : public ::testing::TestWithParam<Rounding> {};

TEST_P(ColourIndex, RoundsToTheNearestWithHalvesToEven) {
  EXPECT_EQ(colour_index(GetParam().pc), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Scatter, ColourIndex,
                         ::testing::Values(Rounding{0.49f, 0}, Rounding{0.5f, 0}, Rounding{1.5f, 2},
                                           Rounding{2.5f, 2}, Rounding{7.5f, 8},
                                           Rounding{14.5f, 14}, Rounding{14.51f, 15},
                                           Rounding{std::nextafter(3.5f, 0.0f), 3},
                                           Rounding{std::nextafter(3.5f, 4.0f), 4}));

TEST(Scatter, TicksDuringItLeaveTheCounterAt2500AndDrawOnlyOnceItPassesFive) {
  for (const int ticks : {5, 6}) {
    SCOPED_TRACE(ticks);
    // Each tick falls due at the scatter's next service after the one before has run.
    auto show = make_show();
    for (int t = 0; t < ticks; ++t) show->post(Input::Tick, 10 + 1002 * static_cast<unsigned>(t));
    ASSERT_TRUE(show->start());
    ASSERT_EQ(show->headless.ticks_run(), static_cast<std::uint64_t>(ticks));
    const Field& f = show->field();
    EXPECT_EQ(f.nn, 2500);
    // Particle 1 has moved once per tick; only a sixth tick draws it where it now stands.
    const int x = static_cast<int>(static_cast<float>(f.px[1][1]));
    const int y = static_cast<int>(static_cast<float>(f.py[1]));
    ASSERT_TRUE(x >= 0 && x < 1000 && y >= 0 && y < 800);
    const Rgb colour = palette_colour(colour_index(f.pc[1]));
    ASSERT_NE(colour, 0u);
    EXPECT_EQ(show->screen().at(x, y) == colour, ticks == 6);
  }
}

}  // namespace
}  // namespace ps::test
