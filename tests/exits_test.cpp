// Exits: a key, a click or a close request shows the pointer again and ends the show at once,
// wherever it is, including in the middle of the scatter or of a tick; the first mouse report
// only records. The mouse rule's limits are the desktop suite's and the fuzz target's.
#include <gtest/gtest.h>

#include "show.h"

namespace ps::test {
namespace {

void expect_ended_with_pointer_shown_once(const Show& show) {
  EXPECT_TRUE(show.headless.ended());
  EXPECT_EQ(show.headless.cursor(), 0);
  EXPECT_EQ(show.headless.cursor_shows(), 1);
}

class Ends : public ::testing::TestWithParam<Input> {};

TEST_P(Ends, ShowThePointerOnceAndEndAtOnce) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  show->post(GetParam(), 0);
  show->post(Input::Key, 0);  // never seen: the process has ended
  EXPECT_FALSE(show->headless.run());
  expect_ended_with_pointer_shown_once(*show);
  EXPECT_EQ(show->headless.pending(), 1u);
  EXPECT_FALSE(show->headless.tick());
  EXPECT_EQ(show->field().nn, 2500);
}

INSTANTIATE_TEST_SUITE_P(Exits, Ends, ::testing::Values(Input::Key, Input::Click, Input::Close));

TEST(Exits, FirstReportOnlyRecordsThePointerHoweverFarItIs) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  show->post(Input::Move, 0, -1e30f, 1e30f);
  EXPECT_TRUE(show->headless.run());
  EXPECT_EQ(show->form.zw, 1);
  EXPECT_EQ(show->form.xw, -1e30f);
  show->post(Input::Move, 0, 0, 0);
  EXPECT_FALSE(show->headless.run()) << "and the next is measured from it";
}

// An exit at the service of pending events made after particle n of the scatter.
class ExitMidScatter : public ::testing::TestWithParam<int> {};

TEST_P(ExitMidScatter, LeavesTheNextParticleUntouchedAndTheWindowUnshown) {
  const int n = GetParam();
  auto show = make_show();
  show->post(Input::Click, static_cast<std::uint64_t>(n));
  EXPECT_FALSE(show->start());
  expect_ended_with_pointer_shown_once(*show);
  EXPECT_FALSE(show->headless.shown());
  const Field& f = show->field();
  EXPECT_NE(f.vy[n], 0.0);
  if (n < kParticles) {
    EXPECT_EQ(f.vx[1][n + 1], 0.0);
    EXPECT_EQ(f.py[n + 1], 0.0);
  }
  EXPECT_EQ(f.nn, 0) << "the counter starts only once the scatter is done";
}

INSTANTIATE_TEST_SUITE_P(Exits, ExitMidScatter, ::testing::Values(1, 500, 1000));

TEST(Exits, ExitMidTickLeavesTheNextParticleWhereItWas) {
  auto show = make_show();
  ASSERT_TRUE(show->start());
  const Field before = show->field();
  show->post(Input::Close, show->headless.calls() + 300);  // after particle 300 of the tick
  EXPECT_FALSE(show->headless.tick());
  expect_ended_with_pointer_shown_once(*show);
  const Field& f = show->field();
  EXPECT_NE(f.px[1][300], before.px[1][300]);
  EXPECT_EQ(f.px[1][301], before.px[1][301]);
  EXPECT_EQ(f.py[301], before.py[301]);
}

}  // namespace
}  // namespace ps::test
