// pairstream.scr end to end under Wine, in a private Xvfb at 1280x1024: what the user sees at
// start-up, the pointer, every way the show ends, the single instance and how Windows starts a
// saver. The faults file adds its tests to this run, which this file's main starts.
#include <X11/keysym.h>
#include <signal.h>

#include <ostream>

#include "tests/wine/show.h"

namespace ps::e2e {
namespace {

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
  const std::size_t dots = first.lit();
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
