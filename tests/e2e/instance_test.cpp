// One saver per user: a second start while one runs ends at once with status 0 and changes
// nothing on the screen, a saver killed outright leaves nothing that stops the next one, and
// another user's saver is not counted.
#include "desktop.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

namespace ps::e2e {
namespace {

using Instance = Desktop;

TEST_F(Instance, ASecondStartEndsAtOnceAndLeavesTheFirstRunning) {
  auto first = start_show();
  const Window w = full_screen_window(x);
  // Watch the root for any window the second start creates, however briefly.
  XSelectInput(x.dpy(), x.root(), SubstructureNotifyMask);
  XSync(x.dpy(), True);
  Saver second(x, runtime.path());
  const auto status = second.wait_exit(kEndLimit);
  EXPECT_TRUE(exited_cleanly(status)) << describe(status);
  XSync(x.dpy(), False);
  int created = 0;
  XEvent e;
  while (XCheckTypedWindowEvent(x.dpy(), x.root(), CreateNotify, &e)) ++created;
  EXPECT_EQ(created, 0) << "the second start created a window";
  EXPECT_EQ(full_screen_window(x), w);
  EXPECT_EQ(viewable_windows(x).size(), 1u);
  EXPECT_EQ(visible_cursor_pixels(x.dpy()), 0);
  ASSERT_TRUE(first->running()) << describe(first->wait_exit(milliseconds(0)));
  press_key(x.dpy(), XK_a);
  expect_ends_cleanly(*first);
}

TEST_F(Instance, AStartAfterTheFirstWasKilledRuns) {
  auto first = start_show();
  first->signal(SIGKILL);
  ASSERT_TRUE(first->wait_exit(kEndLimit));
  ASSERT_TRUE(wait_until([&] { return full_screen_window(x) == 0; }, kEndLimit));
  auto next = start_show();
  press_key(x.dpy(), XK_a);
  expect_ends_cleanly(*next);
}

TEST_F(Instance, AStartAfterAnEndedOneRuns) {
  auto first = start_show();
  press_key(x.dpy(), XK_a);
  expect_ends_cleanly(*first);
  auto next = start_show();
  press_key(x.dpy(), XK_a);
  expect_ends_cleanly(*next);
}

// Without a runtime directory the saver locks a name made from the user id. Such names live in
// the network namespace, so a private one keeps this test apart from savers others run here.
class PerUser : public Desktop {
 protected:
  static constexpr int kNobody = 65534;
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "running a saver as another user needs root";
    if (unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "no private network namespace";
  }
};

TEST_F(PerUser, AnotherUsersSaverNeitherBlocksNorIsBlocked) {
  XServer other(640, 480);
  Saver mine(x, "");
  ASSERT_TRUE(wait_until([&] { return shows_saver(x); }, kStartLimit))
      << describe(mine.wait_exit(milliseconds(0)));
  Saver theirs(other, "", {}, "", kNobody);
  EXPECT_TRUE(wait_until([&] { return shows_saver(other); }, kStartLimit))
      << "another user's saver did not show: " << describe(theirs.wait_exit(milliseconds(0)));
  // The lock does hold for the same user, on any display.
  Saver again(other, "");
  const auto status = again.wait_exit(kEndLimit);
  EXPECT_TRUE(exited_cleanly(status)) << describe(status);
  EXPECT_TRUE(mine.running());
  ASSERT_TRUE(theirs.running()) << describe(theirs.wait_exit(milliseconds(0)));
  press_key(other.dpy(), XK_a);
  EXPECT_TRUE(exited_cleanly(theirs.wait_exit(kEndLimit)));
  press_key(x.dpy(), XK_a);
  expect_ends_cleanly(mine);
}

}  // namespace
}  // namespace ps::e2e
