// pairstream.scr end to end under Wine, in a private Xvfb at 1280x1024: what the user sees at
// start-up, the pointer, every way the show ends, the single instance and how Windows starts a
// saver. One prefix and wineserver serve the whole run; the .scr comes from PAIRSTREAM_SCR.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/wine/wine.h"
#include "tests/wine/xserver.h"

namespace ps::e2e {
namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
// Wine's traces of the pointer's display counter and of the saver's window.
constexpr char kDebug[] = "-all,trace+cursor,trace+win";
constexpr char kHide[] = "NtUserShowCursor 0,";
constexpr char kShow[] = "NtUserShowCursor -1,";
constexpr char kCreate[] = "WIN_CreateWindowEx L\"pairstream\"";

// The X server, the prefix and the .scr, shared by every test of the run.
struct Session {
  std::string scr;
  std::string skip;  // why nothing can run here, if so
  XServer x;
  Wine wine;
};
Session* session = nullptr;

class SessionEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    session = new Session;
    const char* scr = std::getenv("PAIRSTREAM_SCR");
    if (!scr || !std::filesystem::exists(scr)) {
      session->skip = "no pairstream.scr (PAIRSTREAM_SCR): build the windows preset first";
      return;
    }
    session->scr = std::filesystem::absolute(scr).string();
    if (!session->x.start(kWidth, kHeight, "/dev/null"))
      session->skip = "no Xvfb: " + session->x.why();
    else if (!session->wine.start(session->x))
      session->skip = "no Wine: " + session->wine.why();
  }
  void TearDown() override {
    delete session;
    session = nullptr;
  }
};

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool is_palette_colour(std::uint32_t rgb) {
  static constexpr std::array<std::uint32_t, 16> kPalette = {
      0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0,
      0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
  return std::find(kPalette.begin(), kPalette.end(), rgb) != kPalette.end();
}

std::size_t coloured_pixels(const Screenshot& shot) {
  return static_cast<std::size_t>(
      std::count_if(shot.pixels.begin(), shot.pixels.end(), [](auto p) { return p != 0; }));
}

class Saver : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!session->skip.empty()) GTEST_SKIP() << session->skip;
    x().move_pointer(kWidth / 2, kHeight / 2);
  }
  void TearDown() override {
    if (!session->skip.empty()) return;
    for (const auto& launch : launches_) stop(launch.pid);
    // The next test starts on an empty screen.
    poll_until([&] { return x().toplevels("pairstream").empty(); }, milliseconds(5000));
  }

  static XServer& x() { return session->x; }

  Launch launch(const std::vector<std::string>& args) {
    launches_.push_back(session->wine.launch(session->scr, args, kDebug));
    return launches_.back();
  }

  // The saver's window, once it shows with particles on it; 0 when it never does.
  unsigned long shown(const Launch& launch) {
    unsigned long window = 0;
    poll_until(
        [&] {
          const auto found = x().toplevels("pairstream");
          if (found.size() == 1 && found[0].viewable) window = found[0].id;
          return window != 0 || !running(launch.pid);
        },
        milliseconds(15000), milliseconds(20));
    if (window == 0) return 0;
    const bool particles = poll_until([&] { return coloured_pixels(x().screenshot()) > 200; },
                                      milliseconds(5000), milliseconds(50));
    return particles ? window : 0;
  }

  // Starts the show and waits until it runs; fails the test when it does not.
  Launch running_show(const std::vector<std::string>& args = {"/s"}) {
    Launch show = launch(args);
    EXPECT_NE(shown(show), 0u) << show.text();
    return show;
  }

  static std::optional<int> ended(const Launch& launch) {
    return wait_exit(launch.pid, milliseconds(5000));
  }

  static void expect_pointer_restored_once(const Launch& launch) {
    const std::string trace = launch.text();
    EXPECT_EQ(count(trace, kHide), 1u) << "the pointer is hidden once";
    EXPECT_EQ(count(trace, kShow), 1u) << "and shown again once";
  }

  std::vector<Launch> launches_;
};

TEST_F(Saver, StartsAsABlackFullScreenWindowWithPaletteParticlesAndNoPointer) {
  const Launch show = launch({"/s"});
  ASSERT_NE(shown(show), 0u) << show.text();
  const auto windows = x().toplevels("pairstream");
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].x, 0);
  EXPECT_EQ(windows[0].y, 0);
  EXPECT_EQ(windows[0].width, kWidth);
  EXPECT_EQ(windows[0].height, kHeight);

  const Screenshot first = x().screenshot();
  ASSERT_EQ(first.width, kWidth);
  const std::size_t dots = coloured_pixels(first);
  // 1000 pairs of one-pixel dots on black: some off the screen, a few black, some shared.
  EXPECT_GT(dots, 300u);
  EXPECT_LT(dots, 2001u);
  EXPECT_TRUE(std::all_of(first.pixels.begin(), first.pixels.end(), is_palette_colour));
  EXPECT_FALSE(x().pointer_visible());

  // The particles move: a tenth of a second later the picture differs.
  sleep_for(milliseconds(100));
  EXPECT_NE(first.pixels, x().screenshot().pixels);
  EXPECT_TRUE(running(show.pid));
}

TEST_F(Saver, ThePointerShowsAgainOnceTheShowEnds) {
  const Launch show = running_show();
  EXPECT_FALSE(x().pointer_visible());
  x().tap(XK_a);
  ASSERT_EQ(ended(show), 0);
  expect_pointer_restored_once(show);
  EXPECT_TRUE(x().pointer_visible());
}

struct KeyCase {
  const char* name;
  unsigned long keysym;
};

void PrintTo(const KeyCase& key, std::ostream* out) { *out << key.name; }

class AnyKey : public Saver, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(AnyKey, EndsTheShow) {
  const Launch show = running_show();
  x().tap(GetParam().keysym);
  EXPECT_EQ(ended(show), 0);
  expect_pointer_restored_once(show);
}

// Alt and F10 reach the window as system keys.
INSTANTIATE_TEST_SUITE_P(Keys, AnyKey,
                         ::testing::Values(KeyCase{"Letter", XK_a}, KeyCase{"Escape", XK_Escape},
                                           KeyCase{"Alt", XK_Alt_L}, KeyCase{"F10", XK_F10}),
                         [](const auto& info) { return std::string(info.param.name); });

class AnyButton : public Saver, public ::testing::WithParamInterface<unsigned> {};

TEST_P(AnyButton, EndsTheShowWhenReleased) {
  const Launch show = running_show();
  x().button(GetParam(), true);
  sleep_for(milliseconds(300));
  EXPECT_TRUE(running(show.pid)) << "a press alone is no click";
  x().button(GetParam(), false);
  EXPECT_EQ(ended(show), 0);
  expect_pointer_restored_once(show);
}

INSTANTIATE_TEST_SUITE_P(Buttons, AnyButton, ::testing::Values(1u, 2u, 3u),
                         [](const auto& info) { return "Button" + std::to_string(info.param); });

TEST_F(Saver, AWindowManagersCloseRequestEndsTheShow) {
  const Launch show = launch({"/s"});
  const unsigned long window = shown(show);
  ASSERT_NE(window, 0u);
  x().request_close(window);
  EXPECT_EQ(ended(show), 0);
  expect_pointer_restored_once(show);
}

TEST_F(Saver, TaskkillsCloseRequestEndsTheShow) {
  const Launch show = running_show();
  // Without /f taskkill asks the window to close, as Windows does at sign-out.
  const std::string image = std::filesystem::path(session->scr).filename().string();
  EXPECT_EQ(session->wine.run({"taskkill", "/im", image}, milliseconds(10000)), 0);
  EXPECT_EQ(ended(show), 0);
  expect_pointer_restored_once(show);
}

struct MouseCase {
  const char* name;
  int dx;  // each step, in screen pixels
  int dy;
  int steps;
  bool ends;
};

void PrintTo(const MouseCase& move, std::ostream* out) {
  *out << move.steps << " x (" << move.dx << ", " << move.dy << ")";
}

class MouseRule : public Saver, public ::testing::WithParamInterface<MouseCase> {};

TEST_P(MouseRule, EndsTheShowOnlyOnASharpJump) {
  const MouseCase& move = GetParam();
  int px = 300, py = 300;
  x().move_pointer(px, py);
  const Launch show = running_show();
  // A first small report, so the steps below are measured from a recorded position.
  x().move_pointer(++px, py);
  sleep_for(milliseconds(50));
  for (int i = 0; i < move.steps; ++i) {
    px += move.dx;
    py += move.dy;
    x().move_pointer(px, py);
    sleep_for(milliseconds(15));  // Windows merges moves that queue up; pace them like a hand
  }
  if (move.ends) {
    EXPECT_EQ(ended(show), 0);
    expect_pointer_restored_once(show);
  } else {
    sleep_for(milliseconds(300));
    EXPECT_TRUE(running(show.pid));
    x().tap(XK_a);
    EXPECT_EQ(ended(show), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Moves, MouseRule,
                         ::testing::Values(MouseCase{"Step31Across", 31, 0, 1, false},
                                           MouseCase{"Step31Down", 0, 31, 1, false},
                                           MouseCase{"Jump32Across", 32, 0, 1, true},
                                           MouseCase{"Jump32Up", 0, -32, 1, true},
                                           MouseCase{"Diagonal23By23", 23, 23, 1, true},
                                           MouseCase{"SlowDragOf10PixelSteps", 10, 4, 40, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Saver, ASecondInstanceEndsAtOnceAndLeavesTheFirstRunning) {
  const Launch first = running_show();
  const Launch second = launch({"/s"});
  EXPECT_EQ(ended(second), 0);
  const std::string trace = second.text();
  EXPECT_EQ(count(trace, kCreate), 0u) << "no window";
  EXPECT_EQ(count(trace, "NtUserShowCursor"), 0u) << "the pointer untouched";
  EXPECT_TRUE(running(first.pid));
  EXPECT_EQ(x().toplevels("pairstream").size(), 1u);
  EXPECT_FALSE(x().pointer_visible());
  x().tap(XK_a);
  EXPECT_EQ(ended(first), 0);
  expect_pointer_restored_once(first);
}

TEST_F(Saver, StartsAgainAfterTheRunningOneWasKilled) {
  const Launch killed = running_show();
  kill(killed.pid, SIGKILL);
  ASSERT_TRUE(wait_exit(killed.pid, milliseconds(5000)).has_value());
  ASSERT_TRUE(poll_until([&] { return x().toplevels("pairstream").empty(); }, milliseconds(5000)));
  const Launch again = running_show();
  EXPECT_TRUE(running(again.pid));
  x().tap(XK_a);
  EXPECT_EQ(ended(again), 0);
}

class PreviewOrSettings : public Saver,
                          public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(PreviewOrSettings, EndsAtOnceWithoutTouchingAnything) {
  const Launch asked = launch(GetParam());
  EXPECT_EQ(ended(asked), 0);
  const std::string trace = asked.text();
  EXPECT_EQ(count(trace, kCreate), 0u) << "no window";
  EXPECT_EQ(count(trace, "NtUserShowCursor"), 0u) << "the pointer untouched";
  // It took no lock either: the show starts right after.
  const Launch show = running_show();
  x().tap(XK_a);
  EXPECT_EQ(ended(show), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, PreviewOrSettings,
    ::testing::Values(std::vector<std::string>{"/p", "1234"}, std::vector<std::string>{"/P", "99"},
                      std::vector<std::string>{"-p", "5678"}, std::vector<std::string>{"/c"},
                      std::vector<std::string>{"/C"}, std::vector<std::string>{"-c"},
                      std::vector<std::string>{"/c:1234"}, std::vector<std::string>{"/C:65552"}),
    [](const auto& info) {
      std::string name;
      for (const auto& arg : info.param)
        for (char c : arg) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name + "_" + std::to_string(info.index);
    });

class ShowArguments : public Saver,
                      public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(ShowArguments, RunTheShow) {
  const Launch show = running_show(GetParam());
  EXPECT_FALSE(x().pointer_visible());
  x().tap(XK_a);
  EXPECT_EQ(ended(show), 0);
  expect_pointer_restored_once(show);
}

INSTANTIATE_TEST_SUITE_P(Arguments, ShowArguments,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"/s"},
                                           std::vector<std::string>{"/S"},
                                           std::vector<std::string>{"/x", "1"}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace ps::e2e

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new ps::e2e::SessionEnvironment);
  return RUN_ALL_TESTS();
}
