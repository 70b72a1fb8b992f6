// How each desktop's way of starting a saver is read: Windows' "/s", "/p <window>" and "/c", and
// the X saver hosts' XSCREENSAVER_WINDOW, "-window-id <id>" and "-root".
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
  const char* variable = nullptr;  // XSCREENSAVER_WINDOW, for the X convention
  bool root = false;
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

class XStartup : public ::testing::TestWithParam<Start> {};

TEST_P(XStartup, DrawsIntoTheHostsWindowOrRunsTheShowOfItsOwn) {
  std::vector<const char*> argv{"pairstream"};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  argv.push_back(nullptr);
  const Mode mode = x11_mode(static_cast<int>(argv.size()) - 1, argv.data(), GetParam().variable);
  EXPECT_EQ(mode.kind, GetParam().kind);
  EXPECT_EQ(mode.window, GetParam().window);
  EXPECT_EQ(mode.root, GetParam().root);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, XStartup,
    ::testing::Values(Start{{}, Kind::Show, 0},
                      Start{{"-fps", "/p", "5", "-window"}, Kind::Show, 0},
                      Start{{}, Kind::Show, 0, ""}, Start{{}, Kind::Show, 0, "junk"},
                      Start{{}, Kind::Embedded, 0x1a00007, "0x1a00007"},
                      Start{{}, Kind::Embedded, 4194311, "4194311"},
                      Start{{"--root"}, Kind::Embedded, 0x2c, "0X2C"},
                      Start{{"-root"}, Kind::Embedded, 0, nullptr, true},
                      Start{{"--root"}, Kind::Embedded, 0, "0x", true},
                      Start{{"-window-id", "0x400001"}, Kind::Embedded, 0x400001},
                      Start{{"--window-id", "77", "-root"}, Kind::Embedded, 77, "0x99"},
                      Start{{"-window-id", "0xZZ"}, Kind::Embedded, 0, "0x99"},
                      Start{{"-window-id", "-5"}, Kind::Embedded, 0},
                      Start{{"-window-id"}, Kind::Embedded, 0},
                      Start{{"-window-id", "99999999999999999999"}, Kind::Embedded, 0}));

}  // namespace
}  // namespace ps::test
