// How each desktop's way of starting a saver is read: Windows' "/s", "/p <window>" and "/c", and
// the X saver hosts' XSCREENSAVER_WINDOW, "-window-id <id>" and "-root".
#include "platform/common/mode.h"

#include <gtest/gtest.h>

#include <vector>

namespace ps::test {
namespace {

using Kind = Mode::Kind;

struct Start {
  bool windows;  // else the X convention
  std::vector<const char*> args;
  Kind kind;
  std::uint64_t window;
  const char* variable = nullptr;  // XSCREENSAVER_WINDOW
  bool root = false;
};

class Starts : public ::testing::TestWithParam<Start> {};

TEST_P(Starts, AskForTheShowAHostsWindowOrTheSettings) {
  const Start& s = GetParam();
  std::vector<const char*> argv{"pairstream"};
  argv.insert(argv.end(), s.args.begin(), s.args.end());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size()) - 1;
  const Mode mode =
      s.windows ? windows_mode(argc, argv.data()) : x11_mode(argc, argv.data(), s.variable);
  EXPECT_EQ(mode.kind, s.kind);
  EXPECT_EQ(mode.window, s.window);
  EXPECT_EQ(mode.root, s.root);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Starts,
    ::testing::Values(
        Start{true, {}, Kind::Show, 0}, Start{true, {"/S", "/p", "5"}, Kind::Show, 0},
        Start{true, {"/"}, Kind::Show, 0}, Start{true, {"/preview", "5"}, Kind::Show, 0},
        Start{true, {"/p", "1234"}, Kind::Embedded, 1234},
        Start{true, {"/p:77"}, Kind::Embedded, 77}, Start{true, {"-P", "12x"}, Kind::Embedded, 0},
        Start{true, {"/p", "99999999999999999999"}, Kind::Embedded, 0},
        Start{true, {"/c"}, Kind::Settings, 0}, Start{true, {"-C:4242"}, Kind::Settings, 4242},
        Start{true, {"/c", "17"}, Kind::Settings, 17},
        Start{false, {"-fps", "/p", "5", "-window"}, Kind::Show, 0},
        Start{false, {}, Kind::Show, 0, "junk"},
        Start{false, {}, Kind::Embedded, 0x1a00007, "0x1a00007"},
        Start{false, {"--root"}, Kind::Embedded, 44, "44"},
        Start{false, {"-root"}, Kind::Embedded, 0, nullptr, true},
        Start{false, {"--window-id", "0x400001", "-root"}, Kind::Embedded, 0x400001, "0x99"},
        Start{false, {"-window-id", "0xZZ"}, Kind::Embedded, 0, "0x99"},
        Start{false, {"-window-id"}, Kind::Embedded, 0}));

}  // namespace
}  // namespace ps::test
