// The Linux saver under the faults a desktop throws at it, in a private Xvfb per test: the
// server going away, the screen changing size, floods of input, windows exposing it over and
// over, a signal during start-up, and repeated second starts.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/desktop/xserver.h"

// Xlib last: its macros (None, Status) clash with names in the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>

namespace ps::e2e {
namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

// Our own connection to the test's server, for what the shared harness does not do.
struct Connection {
  explicit Connection(const std::string& name) : display(XOpenDisplay(name.c_str())) {}
  ~Connection() {
    if (display) XCloseDisplay(display);
  }
  Display* display;
};

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x_.start(kWidth, kHeight, "/dev/null")) << x_.why();
    std::string dir = (std::filesystem::temp_directory_path() / "pairstream-faults-XXXXXX");
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    runtime_ = dir;
  }
  void TearDown() override {
    for (const pid_t pid : pids_) stop(pid);
    x_.close();
    std::filesystem::remove_all(runtime_);
  }

  pid_t start() {
    const pid_t pid = spawn(
        {{PAIRSTREAM_SAVER}, {"DISPLAY=" + x_.display_name(), "XDG_RUNTIME_DIR=" + runtime_}, ""});
    pids_.push_back(pid);
    return pid;
  }

  // The saver's window once it shows particles; 0 if it never does.
  unsigned long shown(pid_t pid) {
    unsigned long window = 0;
    poll_until(
        [&] {
          const auto found = x_.toplevels("pairstream");
          if (found.size() == 1 && found[0].viewable) window = found[0].id;
          return window != 0 || !running(pid);
        },
        milliseconds(5000), milliseconds(10));
    if (window && !poll_until([&] { return x_.screenshot().lit() > 500; }, milliseconds(3000),
                              milliseconds(20)))
      return 0;
    return window;
  }

  XServer x_;
  std::string runtime_;
  std::vector<pid_t> pids_;
};

TEST_F(Faults, ServerGoingAwayEndsTheSaverAtOnce) {
  const pid_t saver = start();
  ASSERT_NE(shown(saver), 0u);
  x_.crash();
  const auto status = wait_exit(saver, milliseconds(2000));
  ASSERT_TRUE(status.has_value()) << "the saver outlived its display";
  EXPECT_NE(*status, 0) << "losing the display is not a user's end";
}

TEST_F(Faults, ScreenChangingSizeKeepsTheShowGoingInTheNewSize) {
  const pid_t saver = start();
  ASSERT_NE(shown(saver), 0u);
  {
    // Switch the one output off and shrink the screen, as a monitor change would.
    Connection c(x_.display_name());
    ASSERT_NE(c.display, nullptr);
    const Window root = DefaultRootWindow(c.display);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(c.display, root);
    ASSERT_NE(resources, nullptr);
    for (int i = 0; i < resources->ncrtc; ++i)
      XRRSetCrtcConfig(c.display, resources, resources->crtcs[i], CurrentTime, 0, 0, None,
                       RR_Rotate_0, nullptr, 0);
    XRRFreeScreenResources(resources);
    XRRSetScreenSize(c.display, root, 800, 600, 200, 150);
    XSync(c.display, False);
  }
  ASSERT_TRUE(poll_until(
      [&] {
        const auto found = x_.toplevels("pairstream");
        return found.size() == 1 && found[0].width == 800 && found[0].height == 600;
      },
      milliseconds(3000)));
  // The particles stream from the new centre and reach every quarter of the new screen.
  sleep_for(milliseconds(1500));
  const Screenshot shot = x_.screenshot();
  ASSERT_EQ(shot.width, 800);
  EXPECT_GT(shot.lit(0, 0, 400, 300), 50u);
  EXPECT_GT(shot.lit(400, 300, 800, 600), 50u);
  EXPECT_GT(shot.lit(350, 250, 450, 350), 20u) << "restarts gather at the new centre";
  EXPECT_TRUE(running(saver));
  x_.tap(XK_space);
  EXPECT_EQ(wait_exit(saver, milliseconds(1000)), 0);
}

TEST_F(Faults, FloodOfSmallMovesLeavesTicksRunningAndAKeyStillEnds) {
  const pid_t saver = start();
  const unsigned long window = shown(saver);
  ASSERT_NE(window, 0u);
  Connection c(x_.display_name());
  ASSERT_NE(c.display, nullptr);
  int damage_event = 0, damage_error = 0;
  ASSERT_TRUE(XDamageQueryExtension(c.display, &damage_event, &damage_error));
  // Each drawing the saver sends after the last look makes one report: about one per tick.
  const Damage damage = XDamageCreate(c.display, window, XDamageReportNonEmpty);
  XTestFakeMotionEvent(c.display, 0, 640, 360, CurrentTime);
  XSync(c.display, False);

  int reports = 0;
  long moves = 0;
  const auto begin = Clock::now();
  for (auto next = begin; Clock::now() - begin < milliseconds(5000); next += milliseconds(1)) {
    for (int i = 0; i < 10; ++i, ++moves)
      XTestFakeMotionEvent(c.display, 0, 640 + static_cast<int>(moves % 2), 360, CurrentTime);
    XFlush(c.display);
    while (XPending(c.display) > 0) {
      XEvent event;
      XNextEvent(c.display, &event);
      if (event.type == damage_event + XDamageNotify) {
        ++reports;
        XDamageSubtract(c.display, damage, None, None);
      }
    }
    std::this_thread::sleep_until(next);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  const double per_second = reports / seconds;
  std::printf("%.1f ticks per second under %.0f moves per second\n", per_second, moves / seconds);
  EXPECT_GE(moves / seconds, 9000.0) << "the flood was not sent as meant";
  EXPECT_GE(per_second, 90.0);
  ASSERT_TRUE(running(saver)) << "small moves must not end the show";
  x_.tap(XK_Return);
  EXPECT_EQ(wait_exit(saver, milliseconds(1000)), 0);
}

TEST_F(Faults, WindowsShownOverTheSaverAHundredTimesLeaveNoTrace) {
  const pid_t saver = start();
  ASSERT_NE(shown(saver), 0u);
  sleep_for(milliseconds(300));
  const long before = resident_kb(saver);
  x_.flash_window(200, 150, 600, 400, 0x123456, 100);  // a colour the saver never draws
  sleep_for(milliseconds(300));
  const Screenshot shot = x_.screenshot();
  std::size_t stale = 0;
  for (const auto p : shot.pixels) stale += p == 0x123456;
  EXPECT_EQ(stale, 0u) << "the covered part was not repaired";
  EXPECT_GT(shot.lit(200, 150, 800, 550), 200u);
  EXPECT_LT(resident_kb(saver) - before, 1024) << "kB gained over the storm";
  x_.tap(XK_a);
  EXPECT_EQ(wait_exit(saver, milliseconds(1000)), 0);
}

class SignalDuringStartUp : public Faults, public ::testing::WithParamInterface<int> {};

// Whether the process has its end signals blocked: from then on it is the saver's own code.
bool blocks_sigterm(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigBlk:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1) & 1) != 0;
  return false;
}

TEST_P(SignalDuringStartUp, EndsWithStatus0) {
  const pid_t saver = start();
  ASSERT_TRUE(
      poll_until([&] { return blocks_sigterm(saver); }, milliseconds(2000), milliseconds(1)));
  sleep_for(milliseconds(GetParam()));
  kill(saver, SIGTERM);
  EXPECT_EQ(wait_exit(saver, milliseconds(2000)), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, SignalDuringStartUp, ::testing::Values(0, 2, 10, 40, 200));

TEST_F(Faults, SecondStartsTwentyTimesOverEachEndAndLeaveTheFirstAlone) {
  const pid_t first = start();
  const unsigned long window = shown(first);
  ASSERT_NE(window, 0u);
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    const pid_t second = start();
    EXPECT_EQ(wait_exit(second, milliseconds(1000)), 0);
  }
  const auto found = x_.toplevels("pairstream");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].id, window);
  EXPECT_TRUE(running(first));
  EXPECT_FALSE(x_.pointer_visible());
  x_.tap(XK_Escape);
  EXPECT_EQ(wait_exit(first, milliseconds(1000)), 0);
}

}  // namespace
}  // namespace ps::e2e
