// pairstream.scr under Wine against the faults a desktop throws at it, as far as the shared run
// allows: a flood of small moves, windows shown over the saver again and again, and second
// starts over and over. The run's X server serves every test, so it is neither killed nor resized.
#include <X11/keysym.h>

#include <cstdio>

#include "tests/wine/show.h"

namespace ps::e2e {
namespace {

using Faults = Saver;

TEST_F(Faults, AFloodOfSmallMovesLeavesTicksRunningAndAKeyStillEnds) {
  const Launch show = running_show({"/s"}, "-all,trace+relay,+timestamp");
  const auto begin = Clock::now();
  const long moves = x().jiggle_pointer(kWidth / 2, kHeight / 2, 10, milliseconds(5000));
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  // Counted from the trace's own times, so the figure does not hang on when the file is read.
  // Wine merges queued moves, as Windows does: the window sees about one per tick.
  const double per_second = ticks_per_second_while_moving(show.text());
  std::printf("%.1f ticks per second under %.0f moves per second\n", per_second, moves / seconds);
  EXPECT_GE(moves / seconds, 9000.0) << "the flood was not sent as meant";
  EXPECT_GE(per_second, 90.0);
  ASSERT_TRUE(running(show.pid)) << "small moves must not end the show";
  x().tap(XK_Return);
  EXPECT_EQ(ended(show), 0);
}

TEST_F(Faults, WindowsShownOverTheSaverAHundredTimesLeaveNoTrace) {
  const Launch show = running_show();
  sleep_for(milliseconds(300));
  const long before = resident_kb(show.pid);
  x().flash_window(200, 150, 600, 400, 0x123456, 100);  // a colour the saver never draws
  sleep_for(milliseconds(500));
  const Screenshot shot = x().screenshot();
  EXPECT_EQ(std::count(shot.pixels.begin(), shot.pixels.end(), 0x123456u), 0)
      << "the covered part was not repaired";
  EXPECT_GT(shot.lit(200, 150, 800, 550), 100u);
  EXPECT_LT(resident_kb(show.pid) - before, 1024) << "kB gained over the storm";
  x().tap(XK_a);
  EXPECT_EQ(ended(show), 0);
}

TEST_F(Faults, SecondStartsTwentyTimesOverEachEndAndLeaveTheFirstAlone) {
  const Launch first = running_show();
  const auto windows = x().toplevels("pairstream");
  ASSERT_EQ(windows.size(), 1u);
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    const Launch second = launch({"/s"});
    EXPECT_EQ(ended(second), 0);
    EXPECT_EQ(count(second.text(), kCreate), 0u) << "no window";
  }
  const auto after = x().toplevels("pairstream");
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].id, windows[0].id);
  EXPECT_TRUE(running(first.pid));
  EXPECT_FALSE(x().pointer_visible());
  x().tap(XK_Escape);
  EXPECT_EQ(ended(first), 0);
  expect_pointer_restored_once(first);
}

}  // namespace
}  // namespace ps::e2e
