// One saver per user: a second start while one runs ends at once with status 0 and changes
// nothing on the screen, and a saver killed outright leaves nothing that stops the next one.
#include "desktop.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <signal.h>

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

}  // namespace
}  // namespace ps::e2e
