// The mouse rule with a real pointer: the first report only records where the pointer is; after
// that one jump whose squared length exceeds 1000 pixels ends the show, and anything shorter,
// however often repeated, does not.
#include "desktop.h"

#include <X11/keysym.h>

#include <ostream>
#include <thread>

namespace ps::e2e {
namespace {

// Time for the saver to take in a report before the next one is made.
constexpr milliseconds kSettle{100};

class Mouse : public Desktop {
 protected:
  // The first report, a small move to a known place, which the saver only records.
  void first_report_at(int px, int py) {
    move_pointer(x.dpy(), px, py);
    std::this_thread::sleep_for(kSettle);
  }

  // The saver still runs, and is still listening: a key ends it.
  void expect_still_running_then_key_ends_it(Saver& saver) {
    EXPECT_FALSE(saver.wait_exit(kStaysUp)) << describe(saver.wait_exit(milliseconds(0)));
    press_key(x.dpy(), XK_a);
    expect_ends_cleanly(saver);
  }
};

struct Jump {
  const char* name;
  int dx, dy;
  bool ends;
};
std::ostream& operator<<(std::ostream& o, const Jump& j) {
  return o << "(" << j.dx << ", " << j.dy << ")";
}

class Jumps : public Mouse, public ::testing::WithParamInterface<Jump> {};

TEST_P(Jumps, EndTheShowOnlyBeyondASquaredDistanceOf1000) {
  const Jump jump = GetParam();
  auto saver = start_show();
  const int cx = x.width() / 2, cy = x.height() / 2;
  first_report_at(cx + 3, cy + 3);
  move_pointer(x.dpy(), cx + 3 + jump.dx, cy + 3 + jump.dy);
  if (jump.ends)
    expect_ends_cleanly(*saver);
  else
    expect_still_running_then_key_ends_it(*saver);
}

INSTANTIATE_TEST_SUITE_P(MouseRule, Jumps,
                         ::testing::Values(Jump{"Right31Stays", 31, 0, false},
                                           Jump{"Down31Stays", 0, 31, false},
                                           Jump{"Exactly1000Stays", 30, 10, false},
                                           Jump{"Diagonal22Stays", -22, 22, false},
                                           Jump{"Right32Ends", 32, 0, true},
                                           Jump{"Up32Ends", 0, -32, true},
                                           Jump{"Diagonal23Ends", 23, 23, true}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Mouse, TheFirstReportOnlyRecordsHoweverFarItIs) {
  auto saver = start_show();
  first_report_at(20, 20);
  EXPECT_FALSE(saver->wait_exit(kStaysUp)) << describe(saver->wait_exit(milliseconds(0)));
  // It was recorded: a jump of 40 pixels from there ends the show.
  move_pointer(x.dpy(), 60, 20);
  expect_ends_cleanly(*saver);
}

TEST_F(Mouse, ALongSlowDragOfTenPixelStepsDoesNotEnd) {
  auto saver = start_show();
  const int y = x.height() / 2;
  first_report_at(40, y);
  int px = 40;
  for (; px + 10 < x.width() - 40 && saver->running(); px += 10) {
    move_pointer(x.dpy(), px + 10, y);
    std::this_thread::sleep_for(milliseconds(5));
  }
  EXPECT_GT(px, x.width() / 2) << "the drag was cut short: " << describe(saver->wait_exit({}));
  EXPECT_FALSE(saver->wait_exit(kStaysUp)) << describe(saver->wait_exit(milliseconds(0)));
  // Motion still counts: a jump of 40 pixels back from the end of the drag ends the show.
  move_pointer(x.dpy(), px - 40, y);
  expect_ends_cleanly(*saver);
}

}  // namespace
}  // namespace ps::e2e
