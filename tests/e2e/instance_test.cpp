// One saver per user: a second start while one runs ends at once with status 0 and changes
// nothing on the screen, a saver killed outright leaves nothing that stops the next one, and
// another user's saver is not counted.
#include "desktop.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

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
// the network namespace, so the test enters a private one before it starts its X servers, with
// a private socket directory: a server started inside picks a display number that may be in use
// outside, and would otherwise replace that server's socket file.
class PerUser : public ::testing::Test {
 protected:
  static constexpr int kNobody = 65534;
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "running a saver as another user needs root";
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) GTEST_SKIP() << "no private namespaces";
    mkdir("/tmp/.X11-unix", 01777);
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/tmp/.X11-unix", "tmpfs", 0, "mode=1777") != 0)
      GTEST_SKIP() << "no private socket directory";
    x.emplace(1280, 720);
    other.emplace(640, 480);
  }
  std::optional<XServer> x, other;
};

TEST_F(PerUser, AnotherUsersSaverNeitherBlocksNorIsBlocked) {
  Saver mine(*x, "");
  ASSERT_TRUE(wait_until([&] { return shows_saver(*x); }, kStartLimit))
      << describe(mine.wait_exit(milliseconds(0)));
  Saver theirs(*other, "", {}, "", kNobody);
  EXPECT_TRUE(wait_until([&] { return shows_saver(*other); }, kStartLimit))
      << "another user's saver did not show: " << describe(theirs.wait_exit(milliseconds(0)));
  // The lock does hold for the same user, on any display.
  Saver again(*other, "");
  const auto status = again.wait_exit(kEndLimit);
  EXPECT_TRUE(exited_cleanly(status)) << describe(status);
  EXPECT_TRUE(mine.running());
  ASSERT_TRUE(theirs.running()) << describe(theirs.wait_exit(milliseconds(0)));
  press_key(other->dpy(), XK_a);
  EXPECT_TRUE(exited_cleanly(theirs.wait_exit(kEndLimit)));
  press_key(x->dpy(), XK_a);
  EXPECT_TRUE(exited_cleanly(mine.wait_exit(kEndLimit)));
}

}  // namespace
}  // namespace ps::e2e
