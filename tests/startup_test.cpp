// Start-up: the screen the show opens on, a second instance that changes nothing, and the show
// itself, which must stay the picture it is at every size and tick (the golden images).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "picture.h"
#include "show.h"

namespace ps::test {
namespace {

TEST(StartUp, OpensABlackMaximisedScreenOfLitDotsWithThePointerHidden) {
  auto show = make_show(1280, 720);
  ASSERT_TRUE(show->start());
  EXPECT_TRUE(show->headless.shown());
  EXPECT_EQ(show->headless.window_state(), 2);
  EXPECT_EQ(show->headless.cursor(), -1);
  EXPECT_EQ(show->field().nn, 2500);
  const auto pixels = show->screen().pixels();
  for (const Rgb p : pixels)
    ASSERT_NE(std::find(kPalette.begin(), kPalette.end(), p), kPalette.end()) << std::hex << p;
  // 2000 dots, less those past the right edge, black or sharing a pixel.
  const auto lit = std::count_if(pixels.begin(), pixels.end(), [](Rgb p) { return p != 0; });
  EXPECT_GT(lit, 1500);
  EXPECT_LT(lit, 2000);
}

TEST(StartUp, SecondInstanceEndsBeforeTouchingAnything) {
  auto show = make_show();
  show->headless.set_another_instance(true);
  show->post(Input::Key, 0);
  EXPECT_FALSE(show->start());
  EXPECT_TRUE(show->headless.ended());
  EXPECT_FALSE(show->headless.shown());
  EXPECT_EQ(show->headless.cursor_hides() + show->headless.cursor_shows(), 0);
  EXPECT_EQ(show->headless.window_state(), 0);
  for (const Rgb p : show->screen().pixels()) ASSERT_EQ(p, 0xF0F0F0u) << "a new window's grey";
  EXPECT_EQ(show->field().vx[1][1], 0.0);
  // An ended process takes no further event.
  EXPECT_FALSE(show->headless.run());
  EXPECT_FALSE(show->headless.tick());
  EXPECT_EQ(show->headless.ticks_run(), 0u);
}

struct Golden {
  int width, height, ticks;
  const char* file;  // under the source tree
};

class Pictures : public ::testing::TestWithParam<Golden> {};

TEST_P(Pictures, StayThePictureTheShowWasMadeWith) {
  const Golden g = GetParam();
  const Picture golden = read_png(std::string(PAIRSTREAM_SOURCE_DIR "/") + g.file);
  ASSERT_EQ(golden.width, g.width) << g.file;
  ASSERT_EQ(golden.height, g.height);
  auto show = make_show(g.width, g.height);
  ASSERT_TRUE(show->start());
  for (int t = 0; t < g.ticks; ++t) ASSERT_TRUE(show->headless.tick());
  const auto pixels = show->screen().pixels();
  const auto differing = std::mismatch(pixels.begin(), pixels.end(), golden.pixels.begin());
  EXPECT_TRUE(differing.first == pixels.end())
      << "first difference at pixel " << differing.first - pixels.begin();
}

// The scatter alone; 50 ticks; past the sawtooth's first wrap on a small screen, where most
// particles have restarted many times; the README's picture.
INSTANTIATE_TEST_SUITE_P(Show, Pictures,
                         ::testing::Values(Golden{640, 480, 0, "tests/golden/640x480-0.png"},
                                           Golden{1000, 800, 50, "tests/golden/1000x800-50.png"},
                                           Golden{320, 200, 2600, "tests/golden/320x200-2600.png"},
                                           Golden{1280, 720, 300, "docs/show.png"}),
                         [](const auto& info) {
                           const Golden& g = info.param;
                           return std::to_string(g.width) + "x" + std::to_string(g.height) +
                                  "_after_" + std::to_string(g.ticks) + "_ticks";
                         });

}  // namespace
}  // namespace ps::test
