// Exits: a key, a click, a close request or a sharp mouse jump shows the pointer again and ends
// the show at once, wherever it is, including in the middle of the scatter or of a tick.
#include <gtest/gtest.h>

#include "show.h"

namespace ps::test {
namespace {

using Input = Headless::Input;

void expect_ended_with_pointer_shown(const Show& show) {
  EXPECT_TRUE(show.headless.ended());
  EXPECT_EQ(show.headless.cursor(), 0);
  EXPECT_EQ(show.headless.cursor_shows(), 1);
  EXPECT_EQ(show.headless.cursor_hides(), 1);
}

class Ends : public ::testing::TestWithParam<Input> {};

TEST_P(Ends, ShowsThePointerOnceAndEndsAtOnce) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  ASSERT_TRUE(show->headless.tick());
  const int nn = show->field().nn;
  show->post(GetParam(), 0);
  EXPECT_FALSE(show->headless.run());
  expect_ended_with_pointer_shown(*show);
  EXPECT_EQ(show->field().nn, nn);
  // Nothing runs once the process has ended.
  show->post(Input::Tick, 0);
  EXPECT_FALSE(show->headless.run());
  EXPECT_FALSE(show->headless.tick());
  EXPECT_EQ(show->field().nn, nn);
  EXPECT_EQ(show->headless.cursor_shows(), 1);
}

INSTANTIATE_TEST_SUITE_P(Exits, Ends, ::testing::Values(Input::Key, Input::Click, Input::Close),
                         [](const auto& info) {
                           switch (info.param) {
                             case Input::Key:
                               return "Key";
                             case Input::Click:
                               return "Click";
                             default:
                               return "CloseRequest";
                           }
                         });

// The pointer moves from (100, 100) by (dx, dy) in one report.
struct Jump {
  float dx, dy;
  bool ends;
};

class MouseJumps : public ::testing::TestWithParam<Jump> {};

TEST_P(MouseJumps, EndOnlyWhenTheSquaredDistanceExceeds1000) {
  const Jump jump = GetParam();
  auto show = make_show();
  ASSERT_TRUE(show->start());
  show->move(100, 100);
  EXPECT_TRUE(show->headless.run());
  show->move(100 + jump.dx, 100 + jump.dy);
  EXPECT_EQ(show->headless.run(), !jump.ends);
  if (jump.ends) {
    expect_ended_with_pointer_shown(*show);
  } else {
    EXPECT_EQ(show->headless.cursor(), -1);
    EXPECT_EQ(show->form.xw, 100 + jump.dx);
    EXPECT_EQ(show->form.yw, 100 + jump.dy);
  }
}

INSTANTIATE_TEST_SUITE_P(Exits, MouseJumps,
                         ::testing::Values(Jump{0, 0, false}, Jump{10, 30, false},  // exactly 1000
                                           Jump{31, 0, false}, Jump{0, -31, false},
                                           Jump{32, 0, true}, Jump{0, -32, true},
                                           Jump{-23, 23, true}, Jump{22, 22, false},
                                           Jump{31.7f, 0, true}, Jump{-500, -400, true}));

TEST(Exits, FirstReportOnlyRecordsThePointerHoweverFarItIs) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  EXPECT_EQ(show->form.zw, 0);
  show->move(900, 700);
  EXPECT_TRUE(show->headless.run());
  EXPECT_EQ(show->form.zw, 1);
  EXPECT_EQ(show->form.xw, 900);
  EXPECT_EQ(show->form.yw, 700);
  EXPECT_EQ(show->headless.cursor(), -1);
}

TEST(Exits, SlowDragAcrossTheScreenNeverEnds) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  for (int step = 0; step <= 200; ++step) show->move(step * 10.0f, step * 3.0f);
  EXPECT_TRUE(show->headless.run());
  EXPECT_EQ(show->form.xw, 2000);
  EXPECT_EQ(show->headless.cursor(), -1);
}

TEST(Exits, ReportsFarOffTheWindowAreComparedLikeAnyOther) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  show->move(-1e30f, 1e30f);
  show->move(-1e30f, 1e30f);
  EXPECT_TRUE(show->headless.run());
  show->move(0, 0);
  EXPECT_FALSE(show->headless.run());
  expect_ended_with_pointer_shown(*show);
}

// An exit at the DoEvents call made after particle n of the scatter.
class ExitMidScatter : public ::testing::TestWithParam<int> {};

TEST_P(ExitMidScatter, LeavesTheNextParticleUntouched) {
  const int n = GetParam();
  auto show = make_show();
  show->post(Input::Key, static_cast<std::uint64_t>(n));
  EXPECT_FALSE(show->start());
  expect_ended_with_pointer_shown(*show);
  EXPECT_FALSE(show->headless.shown());
  const Field& f = show->field();
  EXPECT_NE(f.vy[n], 0.0);
  if (n < kParticles) {
    EXPECT_EQ(f.vx[1][n + 1], 0.0);
    EXPECT_EQ(f.px[2][n + 1], 0.0);
    EXPECT_EQ(f.py[n + 1], 0.0);
    EXPECT_EQ(f.pc[n + 1], 0.0f);
  }
  EXPECT_EQ(f.nn, 0) << "the counter starts only once the scatter is done";
}

INSTANTIATE_TEST_SUITE_P(Exits, ExitMidScatter, ::testing::Values(1, 2, 500, 999, 1000));

TEST(Exits, ExitMidTickLeavesTheNextParticleWhereItWas) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  const Field before = show->field();
  const std::uint64_t at = show->calls() + 300;  // after particle 300 of the tick
  show->post(Input::Click, at);
  EXPECT_FALSE(show->headless.tick());
  expect_ended_with_pointer_shown(*show);
  const Field& f = show->field();
  EXPECT_EQ(f.nn, 2501);
  EXPECT_NE(f.px[1][300], before.px[1][300]);
  EXPECT_EQ(f.px[1][301], before.px[1][301]);
  EXPECT_EQ(f.px[2][301], before.px[2][301]);
  EXPECT_EQ(f.py[301], before.py[301]);
}

TEST(Exits, ExitInATickThatRunsInsideTheScatterEndsEverything) {
  auto show = make_show();
  show->post(Input::Tick, 100);
  show->post(Input::Close, 100 + 50);  // particle 50 of the tick that runs after particle 100
  EXPECT_FALSE(show->start());
  expect_ended_with_pointer_shown(*show);
  const Field& f = show->field();
  EXPECT_EQ(f.nn, 1);
  EXPECT_EQ(f.vy[101], 0.0) << "the scatter never resumed";
  EXPECT_EQ(show->headless.platform().ticks_run(), 1u);
}

TEST(Exits, PendingInputAfterTheExitIsNeverSeen) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  show->post(Input::Key, 0);
  show->post(Input::Click, 0);
  show->post(Input::Close, 0);
  EXPECT_FALSE(show->headless.run());
  EXPECT_EQ(show->headless.cursor_shows(), 1);
  EXPECT_EQ(show->headless.pending(), 2u);
}

}  // namespace
}  // namespace ps::test
