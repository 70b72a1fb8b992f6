// How each desktop's way of starting a saver is read: Windows' "/s", "/p <window>" and "/c".
#include "platform/common/mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ps::test {
namespace {

using Kind = Mode::Kind;

struct Start {
  std::vector<const char*> args;
  Kind kind;
  std::uint64_t window;
};

class WindowsStart : public ::testing::TestWithParam<Start> {};

TEST_P(WindowsStart, AsksForTheShowThePreviewOrTheSettings) {
  std::vector<const char*> argv{"pairstream.scr"};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  argv.push_back(nullptr);
  const Mode mode = windows_mode(static_cast<int>(argv.size()) - 1, argv.data());
  EXPECT_EQ(mode.kind, GetParam().kind);
  EXPECT_EQ(mode.window, GetParam().window);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, WindowsStart,
    ::testing::Values(Start{{}, Kind::Show, 0}, Start{{"/s"}, Kind::Show, 0},
                      Start{{"/S", "/p", "5"}, Kind::Show, 0}, Start{{"/"}, Kind::Show, 0},
                      Start{{"/preview", "5"}, Kind::Show, 0}, Start{{"p", "5"}, Kind::Show, 0},
                      Start{{"/p", "1234"}, Kind::Embedded, 1234},
                      Start{{"-P", "65552"}, Kind::Embedded, 65552},
                      Start{{"/p:77"}, Kind::Embedded, 77}, Start{{"/p", "12x"}, Kind::Embedded, 0},
                      Start{{"/p"}, Kind::Embedded, 0},
                      Start{{"/p", "99999999999999999999"}, Kind::Embedded, 0},
                      Start{{"/c"}, Kind::Settings, 0}, Start{{"-C:4242"}, Kind::Settings, 4242},
                      Start{{"/c", "17"}, Kind::Settings, 17}));

}  // namespace
}  // namespace ps::test
