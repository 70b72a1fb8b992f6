// Start-up: the screen is prepared in order, a second instance leaves everything untouched, and
// the never-seeded sequence and palette are the same in every build.
#include <gtest/gtest.h>

#include <algorithm>

#include "show.h"

namespace ps::test {
namespace {

using Call = Headless::Call;

TEST(StartUp, PreparesTheScreenInOrderBeforeTheScatter) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  const auto journal = show->headless.journal();
  ASSERT_GE(journal.size(), 5u);
  EXPECT_EQ(journal[0].call, Call::PrevInstance);
  // BackColor repaints in black while the window is not yet maximised nor in pixel units.
  EXPECT_EQ(journal[1].call, Call::Repaint);
  EXPECT_EQ(journal[1].back_color, 0u);
  EXPECT_EQ(journal[1].window_state, 0);
  EXPECT_EQ(journal[2].call, Call::WindowState);
  EXPECT_EQ(show->headless.window_state(), 2);
  EXPECT_EQ(journal[3].call, Call::ShowCursor);
  EXPECT_EQ(journal[3].cursor, -1);
  EXPECT_EQ(journal[3].scale_mode, 1);
  // Cls comes once the units are pixels, with the pointer hidden.
  EXPECT_EQ(journal[4].call, Call::Repaint);
  EXPECT_EQ(journal[4].scale_mode, 3);
  EXPECT_EQ(journal[4].cursor, -1);
  EXPECT_EQ(journal.size(), 5u) << "nothing else reaches the window during start-up";

  EXPECT_TRUE(show->headless.shown());
  EXPECT_FALSE(show->headless.ended());
  EXPECT_EQ(show->headless.cursor(), -1);
  EXPECT_EQ(show->headless.platform().draw_width(), 1);
  EXPECT_EQ(show->field().nn, 2500);
}

TEST(StartUp, ShowsABlackScreenWithOnlyPaletteColoursLit) {
  auto show = make_show(1280, 720);
  ASSERT_TRUE(show->start());
  for (const Rgb p : show->screen().pixels())
    ASSERT_NE(std::find(kPalette.begin(), kPalette.end(), p), kPalette.end()) << std::hex << p;
  // About 1900 dots land on screen; a few share a pixel or are black.
  EXPECT_GT(show->lit_pixels(), 1500);
  EXPECT_LT(show->lit_pixels(), 2000);
}

TEST(StartUp, SecondInstanceEndsBeforeTouchingAnything) {
  auto show = make_show();
  show->headless.set_previous_instance(true);
  EXPECT_FALSE(show->start());
  EXPECT_TRUE(show->headless.ended());
  EXPECT_FALSE(show->headless.shown());
  EXPECT_EQ(show->headless.cursor(), 0);
  EXPECT_EQ(show->headless.cursor_hides() + show->headless.cursor_shows(), 0);
  const auto journal = show->headless.journal();
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[0].call, Call::PrevInstance);
  EXPECT_EQ(journal[1].call, Call::End);
  for (const Rgb p : show->screen().pixels()) ASSERT_EQ(p, Platform::kDefaultBackColor);
  EXPECT_EQ(show->field().nn, 0);
  EXPECT_EQ(show->field().vx[1][1], 0.0);
}

TEST(StartUp, EndedProcessTakesNoFurtherEvents) {
  auto show = make_show();
  show->headless.set_previous_instance(true);
  ASSERT_FALSE(show->start());
  show->post(Headless::Input::Key, 0);
  EXPECT_FALSE(show->headless.run());
  EXPECT_FALSE(show->headless.tick());
  EXPECT_EQ(show->headless.platform().ticks_run(), 0u);
  EXPECT_EQ(show->headless.cursor(), 0);
}

TEST(RandomSequence, StartsTheSameInEveryBuild) {
  Random r;
  EXPECT_EQ(r.next(), 0.7055475115776062f);
  EXPECT_EQ(r.next(), 0.5334240198135376f);
  EXPECT_EQ(r.next(), 0.5795186161994934f);
}

TEST(RandomSequence, StaysInUnitRangeOnTwentyFourBitSteps) {
  Random r;
  for (int i = 0; i < 1 << 16; ++i) {
    const float v = r.next();
    ASSERT_GE(v, 0.0f);
    ASSERT_LT(v, 1.0f);
    ASSERT_EQ(v * 16777216.0f, static_cast<float>(static_cast<std::uint32_t>(v * 16777216.0f)));
  }
}

TEST(Palette, HasTheSixteenStandardColours) {
  const Rgb expected[16] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                            0x808000, 0xC0C0C0, 0x808080, 0x0000FF, 0x00FF00, 0x00FFFF,
                            0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(qb_color(i), expected[i]) << i;
}

}  // namespace
}  // namespace ps::test
