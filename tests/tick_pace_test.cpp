// The Linux saver's tick countdown as its loops use it: waking about once a frame, they run the
// ticks that fell due meanwhile one after another, and the show keeps 100 ticks a second; after
// a stall it goes on one period later, with no burst of ticks to catch up.
#include <gtest/gtest.h>

#include "platform/linux/linux.h"

namespace ps::test {
namespace {

using Clock = Pace::Clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// Ticks run by the wakes from `start` on, each `every` after the last, over `span`.
int ticks_run(Countdown& ticks, Clock::time_point start, Clock::duration every,
              Clock::duration span) {
  int run = 0;
  for (auto now = start; now < start + span; now += every)
    while (ticks.due(now)) ++run;
  return run;
}

struct Wakes {
  const char* loop;
  Clock::duration every;  // between two wakes
  Clock::duration frame;  // of the monitor
};

void PrintTo(const Wakes& wakes, std::ostream* out) { *out << wakes.loop; }

class TickPace : public testing::TestWithParam<Wakes> {};

TEST_P(TickPace, HundredTicksASecondWhenTheSaverWakesOnceAFrame) {
  const Wakes wakes = GetParam();
  const auto start = Clock::now();
  Countdown ticks;
  ticks.set_frame(wakes.frame);
  ticks.arm(10, false, start);
  // The ticks due after the last wake wait for the next.
  EXPECT_NEAR(ticks_run(ticks, start, wakes.every, std::chrono::seconds(10)), 1000, 3);
}

INSTANTIATE_TEST_SUITE_P(
    Loops, TickPace,
    testing::Values(Wakes{"WaylandFramesAt60Hz", microseconds(16667), microseconds(16667)},
                    Wakes{"X11FlushesAt60Hz", milliseconds(20), microseconds(16667)},
                    Wakes{"FramesAt30Hz", microseconds(33333), microseconds(33333)},
                    Wakes{"FramesAt144Hz", microseconds(6944), microseconds(6944)}),
    [](const auto& info) { return std::string(info.param.loop); });

TEST(TickPaceAfterAStall, TheShowGoesOnOnePeriodLaterWithoutABurst) {
  const auto start = Clock::now();
  Countdown ticks;
  ticks.set_frame(microseconds(16667));
  ticks.arm(10, false, start);
  const auto late = start + milliseconds(500);
  EXPECT_EQ(ticks_run(ticks, late, milliseconds(1), milliseconds(1)), 1);
  EXPECT_EQ(ticks.left(late), milliseconds(10));
  EXPECT_EQ(ticks_run(ticks, late + milliseconds(10), milliseconds(1), milliseconds(1)), 1);
}

// The X11 loop sleeps until the first tick due once a flush may go again.
TEST(TickPaceOfTheX11Loop, WakesOnTheTickThatFallsDueOnceAFlushMayGo) {
  const auto start = Clock::now();
  Countdown ticks;
  ticks.arm(10, false, start);
  EXPECT_EQ(ticks.left(start, start + microseconds(12500)), milliseconds(20));
  EXPECT_EQ(ticks.left(start, start + milliseconds(10)), milliseconds(10));
  EXPECT_EQ(ticks.left(start, start), milliseconds(10));
  EXPECT_EQ(ticks.left(start + milliseconds(15), start), Clock::duration::zero());
}

}  // namespace
}  // namespace ps::test
