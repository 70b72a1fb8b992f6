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

struct XStart {
  std::vector<const char*> args;
  const char* variable;  // XSCREENSAVER_WINDOW, null when unset
  Kind kind;
  std::uint64_t window;
  bool root;
};

class XStartup : public ::testing::TestWithParam<XStart> {};

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
    ::testing::Values(
        XStart{{}, nullptr, Kind::Show, 0, false},
        XStart{{"-fps", "/p", "5", "-window"}, nullptr, Kind::Show, 0, false},
        XStart{{}, "", Kind::Show, 0, false}, XStart{{}, "junk", Kind::Show, 0, false},
        XStart{{}, "0x1a00007", Kind::Embedded, 0x1a00007, false},
        XStart{{}, "4194311", Kind::Embedded, 4194311, false},
        XStart{{"--root"}, "0X2C", Kind::Embedded, 0x2c, false},
        XStart{{"-root"}, nullptr, Kind::Embedded, 0, true},
        XStart{{"--root"}, "0x", Kind::Embedded, 0, true},
        XStart{{"-window-id", "0x400001"}, nullptr, Kind::Embedded, 0x400001, false},
        XStart{{"--window-id", "77", "-root"}, "0x99", Kind::Embedded, 77, false},
        XStart{{"-window-id", "0xZZ"}, "0x99", Kind::Embedded, 0, false},
        XStart{{"-window-id", "-5"}, nullptr, Kind::Embedded, 0, false},
        XStart{{"-window-id"}, nullptr, Kind::Embedded, 0, false},
        XStart{{"-window-id", "99999999999999999999"}, nullptr, Kind::Embedded, 0, false}));

}  // namespace
}  // namespace ps::test
