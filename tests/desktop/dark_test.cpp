// While its display is off the saver sleeps: no ticks, no flushes, two wakes a second at most; a
// key or an end signal still ends it at once, and when the display comes back the show goes on
// from where it stopped, with no burst of the ticks it missed. On X11 through DPMS (Xorg with
// the dummy driver), on sway through its outputs' dpms, under Wine as Windows tells a window.
#include "tests/desktop/harness.h"

namespace ps::desktop {
namespace {

enum class Then { Lit, Key, Sigterm };
struct Dark {
  const char* name;
  Then then;
};
std::ostream& operator<<(std::ostream& o, const Dark& dark) { return o << dark.name; }
const Dark kDark[] = {{"TheShowGoesOnFromWhereItStoppedOnceLit", Then::Lit},
                      {"AKeyEndsItWithStatus0", Then::Key},
                      {"ASigtermEndsItWithStatus0", Then::Sigterm}};

class InTheDark : public ::testing::TestWithParam<std::tuple<std::string, Dark>> {
 protected:
  void SetUp() override {
    on = target(std::get<0>(GetParam()), true);
    if (!(screen = on.screen)) GTEST_SKIP() << on.why;
    ASSERT_TRUE(screen->up()) << "no desktop";
  }
  void TearDown() override {
    if (screen && screen->up()) screen->power(true), screen->gone();
  }
  // Whether the saver came to wake at most twice a second (once, for a round trip to X), and to
  // spend under a twentieth of its time on a CPU, which a spin without sleeping would not.
  bool asleep(Child& saver) {
    return poll_until([&] {
      const long wakes = screen->wakes(saver);
      const auto cpu = saver.cpu();
      poll_until([] { return false; }, 2s);
      return screen->wakes(saver) - wakes <= 4 && saver.cpu() - cpu < 100ms;
    }, 10s);
  }

  Target on;
  Screen* screen = nullptr;
};

TEST_P(InTheDark, ItSleepsAnd) {
  auto saver = screen->launch();
  std::optional<int> lit;
  ASSERT_TRUE(poll_until([&] {
    return (lit = matching_tick(screen->shot(), saver->ticks_at_most())).has_value();
  }, 5s)) << "the show never equalled the headless show";
  const auto seen = Clock::now();
  screen->power(false);
  const auto dark = Clock::now();
  ASSERT_TRUE(asleep(*saver)) << "it went on waking more than twice a second, or spinning, in the dark";
  switch (std::get<1>(GetParam()).then) {
    case Then::Key:
      screen->type(*saver);
      EXPECT_EQ(saver->wait(screen->limit()), 0);
      return;
    case Then::Sigterm:
      saver->signal(SIGTERM);
      EXPECT_EQ(saver->wait(screen->limit()), 0);
      return;
    case Then::Lit:
      break;
  }
  // The screen stood still where it can be read in the dark (not sway's output, then off), at
  // the tick the show stopped at; on sway, it stopped within a few frames of the dark.
  const Screenshot before = screen->shot();
  poll_until([] { return false; }, 1s);
  EXPECT_TRUE(before.pixels == screen->shot().pixels) << "the screen changed in the dark";
  const int stopped = before.pixels.empty()
                          ? *lit + int((dark - seen) / 10ms) + 20
                          : matching_tick(before, saver->ticks_at_most()).value_or(-1);
  ASSERT_GE(stopped, *lit) << "the screen in the dark is no tick of the show";
  screen->power(true);
  const auto light = Clock::now();
  std::optional<int> tick;
  EXPECT_TRUE(poll_until([&] {
    return (tick = matching_tick(screen->shot(), saver->ticks_at_most())) > stopped;
  }, 3s)) << "the show did not go on from tick " << stopped;
  // However long the dark lasted, no more ticks than it could have run since the light.
  EXPECT_LE(tick.value_or(0), stopped + int((Clock::now() - light) / 10ms) + 10)
      << "it ran the ticks it missed in the dark";
  EXPECT_TRUE(saver->running());
}

const auto kTargets = [](const auto& info) { return std::string(std::get<1>(info.param).name); };
INSTANTIATE_TEST_SUITE_P(X11, InTheDark, ::testing::Combine(::testing::Values("X11"),
                                                            ::testing::ValuesIn(kDark)), kTargets);
INSTANTIATE_TEST_SUITE_P(Wayland, InTheDark,
                         ::testing::Combine(::testing::Values("Wayland"), ::testing::ValuesIn(kDark)),
                         kTargets);
INSTANTIATE_TEST_SUITE_P(Wine, InTheDark,  // Windows has no end signals
                         ::testing::Combine(::testing::Values("Wine"),
                                            ::testing::ValuesIn(kDark, kDark + 2)),
                         kTargets);

}  // namespace
}  // namespace ps::desktop
