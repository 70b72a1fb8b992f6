// The show as it opens and plays: after start-up and after some ticks, at several sizes, the
// screen must stay the picture it was made with (the golden images). How a second instance and
// the pointer behave, the fuzz target checks on every input.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "picture.h"
#include "show.h"

namespace ps::test {
namespace {

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
  const auto pixels = show->screen().picture();
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
