// Both savers end to end: the cases they share, run against the Linux saver in an Xvfb of its
// own and against pairstream.scr under Wine, then each target's own rows. The screen must equal
// the headless show pixel for pixel; every end is checked with its exit status.
#include "tests/desktop/harness.h"
// After the harness, whose gtest must come before Xlib's macros.
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace ps::desktop {
namespace {

using Saver = On<int>;

TEST_P(Saver, ShowsTheHeadlessShowOverTheWholeScreenWithThePointerHidden) {
  // A tick that ran inside the scatter, as it may after a stall, leaves a field that differs
  // from the headless one: such a start gets two more.
  std::unique_ptr<Child> saver;
  std::optional<int> first;
  for (int start = 0; start < 3 && !first; ++start) {
    saver.reset();
    poll_until([&] { return d->saver_window() == 0; }, d->end_limit);
    first = shown_tick(*(saver = shown()));
  }
  ASSERT_TRUE(first) << "the screen equals no tick of the headless show";
  EXPECT_TRUE(poll_until([&] { return !d->pointer_visible(); }, d->start_limit));
  EXPECT_TRUE(shown_tick(*saver, *first)) << "the show stood still at tick " << *first;
}

TEST_P(Saver, ASlowDragOfTenPixelStepsGoesOn) {
  auto saver = shown();
  for (int px = 310; px <= 700 && saver->running(); px += 10) d->move(*saver, px, 300);
  EXPECT_TRUE(saver->running()) << "the drag ended it";
  d->tap(*saver, XK_a);
  EXPECT_EQ(ends(*saver), 0);
}

TEST_P(Saver, ASecondStartEndsAtOnceAndTheFirstGoesOn) {
  auto first = shown();
  const auto window = d->saver_window();
  EXPECT_EQ(d->start()->wait(d->end_limit), 0);
  EXPECT_EQ(d->saver_window(), window);
  ASSERT_TRUE(first->running());
  d->tap(*first, XK_a);
  EXPECT_EQ(ends(*first), 0);
}

TEST_P(Saver, AStartAfterTheFirstWasKilledRuns) {
  auto first = shown();
  first->signal(SIGKILL);
  ASSERT_EQ(first->wait(d->end_limit), 128 + SIGKILL);
  ASSERT_TRUE(poll_until([&] { return d->saver_window() == 0; }, d->end_limit));
  const auto next = shown();  // it shows: the killed one left no lock behind
}

ON(X11, X11, Saver, ::testing::Values(0), "Linux");
ON(Wine, Wine, Saver, ::testing::Values(0), "Scr");

struct End {
  const char* name;
  void (*make)(Desktop&, Child&);
};
constexpr End kEnds[] = {
    {"AKey", [](Desktop& d, Child& s) { d.tap(s, XK_a); }},
    {"ACloseRequest", [](Desktop& d, Child&) { d.close_request(d.saver_window()); }}};
constexpr End kSignals[] = {{"Sigterm", [](Desktop&, Child& s) { s.signal(SIGTERM); }},
                            {"Sigint", [](Desktop&, Child& s) { s.signal(SIGINT); }},
                            {"Sighup", [](Desktop&, Child& s) { s.signal(SIGHUP); }}};
constexpr End kWindowsEnds[] = {  // Alt and F10 reach a window as system keys
    {"Alt", [](Desktop& d, Child& s) { d.tap(s, XK_Alt_L); }},
    {"F10", [](Desktop& d, Child& s) { d.tap(s, XK_F10); }},
    // Without /f taskkill asks the window to close, as Windows does at sign-out.
    {"Taskkill", [](Desktop& d, Child&) {
       d.run({"taskkill", "/im", "pairstream.scr"}, "taskkill")->wait(10s);
     }}};
std::ostream& operator<<(std::ostream& o, const End& end) { return o << end.name; }
using Ends = On<End>;

TEST_P(Ends, TheShowWithStatus0) {
  auto saver = shown();
  row().make(*d, *saver);
  EXPECT_EQ(ends(*saver), 0);
}

ON_BOTH(Ends, ::testing::ValuesIn(kEnds), std::get<1>(info.param).name);
ON(X11Own, X11, Ends, ::testing::ValuesIn(kSignals), std::get<1>(info.param).name);
ON(WineOwn, Wine, Ends, ::testing::ValuesIn(kWindowsEnds), std::get<1>(info.param).name);

using Click = On<unsigned>;

TEST_P(Click, EndsItOnTheReleaseNotThePress) {
  auto saver = shown();
  d->press(*saver, row());
  EXPECT_TRUE(saver->running()) << "a press alone ended it";
  d->fake_button(row(), false);
  EXPECT_EQ(ends(*saver), 0);
}

ON_BOTH(Click, ::testing::Values(1u, 2u, 3u), "Button" + std::to_string(std::get<1>(info.param)));

struct Jump {
  const char* name;
  int dx, dy;
  bool ends;
};
constexpr Jump kJumps[] = {
    {"Across31Stays", 31, 0, false},     {"Down31Stays", 0, 31, false},
    {"Exactly1000Stays", 30, 10, false}, {"Across32Ends", 32, 0, true},
    {"Up32Ends", 0, -32, true},          {"Diagonal23By23Ends", 23, 23, true}};
std::ostream& operator<<(std::ostream& o, const Jump& jump) { return o << jump.name; }
using Jumps = On<Jump>;

TEST_P(Jumps, EndTheShowOnlyPastASquaredDistanceOf1000) {
  auto saver = shown();
  d->move(*saver, 301, 300);  // a first report, which only records
  d->move(*saver, 301 + row().dx, 300 + row().dy);
  if (!row().ends) {
    EXPECT_TRUE(saver->running()) << "a move within the limit ended it";
    d->tap(*saver, XK_a);
  }
  EXPECT_EQ(ends(*saver), 0);
}

ON_BOTH(Jumps, ::testing::ValuesIn(kJumps), std::get<1>(info.param).name);

using X11Saver = On<int>;

TEST_P(X11Saver, ASigtermDuringStartUpEndsItWithStatus0) {
  auto saver = d->start();
  // From the moment the end signals are blocked it runs the saver's own code.
  const auto blocked = [&] {
    const auto status = read_text("/proc/" + std::to_string(saver->pid()) + "/status");
    const auto at = status.find("SigBlk:");
    return at != std::string::npos &&
           std::stoull(status.substr(at + 7), nullptr, 16) >> (SIGTERM - 1) & 1;
  };
  ASSERT_TRUE(poll_until(blocked, d->start_limit));
  saver->signal(SIGTERM);
  EXPECT_EQ(ends(*saver), 0);
}

TEST_P(X11Saver, ItsServerGoingAwayEndsItWithStatus1AtOnce) {
  auto saver = shown();
  d->crash();
  EXPECT_EQ(ends(*saver), 1);
}

TEST_P(X11Saver, FollowsTheScreenToItsNewSize) {
  auto saver = shown();
  Display* dpy = d->display();
  const Window root = DefaultRootWindow(dpy);
  // The one output off and the screen made smaller, as a monitor change does.
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(dpy, root);
  ASSERT_NE(resources, nullptr);
  for (int i = 0; i < resources->ncrtc; ++i)
    XRRSetCrtcConfig(dpy, resources, resources->crtcs[i], CurrentTime, 0, 0, None, RR_Rotate_0,
                     nullptr, 0);
  XRRFreeScreenResources(resources);
  XRRSetScreenSize(dpy, root, 800, 600, 200, 150);
  XSync(dpy, False);
  // Particles all over the new screen, and pairs restarting at its centre.
  EXPECT_TRUE(poll_until(
      [&] {
        const Screenshot s = d->screenshot();
        return d->saver_window() && s.width == 800 && s.lit(0, 0, 400, 300) > 50 &&
               s.lit(400, 0, 800, 300) > 50 && s.lit(0, 300, 400, 600) > 50 &&
               s.lit(400, 300, 800, 600) > 50 && s.lit(350, 250, 450, 350) > 20;
      },
      5s));
}

// Without a runtime directory the lock is a name made from the user id, in the network
// namespace: the test takes private ones, with a private socket directory for its servers.
TEST_P(X11Saver, AnotherUsersSaverNeitherBlocksNorIsBlocked) {
  if (geteuid() != 0) GTEST_SKIP() << "running a saver as another user needs root";
  mkdir("/tmp/.X11-unix", 01777);
  if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
      mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", "/tmp/.X11-unix", "tmpfs", 0, "mode=1777") != 0)
    GTEST_SKIP() << "no private namespaces";
  Desktop mine_desktop(Kind::X11, 1280, 720, false);
  d = (own = std::make_unique<Desktop>(Kind::X11, 640, 480, false)).get();
  ASSERT_TRUE(mine_desktop.up() && d->up());
  d = &mine_desktop;  // no ASSERT while `d` is this one: TearDown reads it
  auto mine = shown();
  d = own.get();
  d->uid = 65534;
  auto theirs = shown();  // not blocked by mine
  d = &mine_desktop;
  d->uid = -1;
  mine.reset();  // killed, and its lock with it
  EXPECT_TRUE(poll_until([&] { return d->saver_window() == 0; }, d->end_limit));
  mine = shown();  // not blocked by theirs
  d = own.get();
  d->uid = -1;  // a second of mine, on their display
  EXPECT_EQ(d->start()->wait(d->end_limit), 0) << "the lock holds for one user on any display";
  EXPECT_TRUE(theirs->running());
  EXPECT_TRUE(mine->running());
}

ON(X11, X11, X11Saver, ::testing::Values(0), "Linux");

// The Linux saver on Wayland with no X server: sway's outputs 1280x720 at 0,0 and 1024x768 right
// of it, the show on the first and black on the second; weston without the layer shell.
class Wayland : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "sway runs as user 65534: that needs root";
    c = std::make_unique<Compositor>(true, Strings{"1280x720 0 0", "1024x768 1280 0"});
    ASSERT_TRUE(c->up()) << "no sway";
    c->pointer(nullptr, "to 300 300");
  }
  std::unique_ptr<Child> shown(const Strings& env = {}) {
    auto saver = c->start({}, env);
    EXPECT_TRUE(poll_until([&] {
      const Screenshot s = c->screenshot("HEADLESS-1");
      return !saver->running() || (s.lit(0, 0, s.width, s.height) > 200 &&
                                   std::ranges::count(s.pixels, kBackground) == 0);
    }, 5s)) << "no particles over the whole first output";
    EXPECT_TRUE(saver->running()) << "it ended with status " << saver->wait(0ms).value_or(-1);
    return saver;
  }
  std::optional<int> shown_tick(Child& saver, const std::string& output, int after = -1) {
    std::optional<int> tick;
    poll_until([&] {
      return (tick = matching_tick(c->screenshot(output), saver.ticks_at_most())) > after;
    }, 3s);
    return tick > after ? tick : std::nullopt;
  }
  static constexpr std::uint32_t kBackground = 0x204060;  // sway's, where nothing covers it
  std::unique_ptr<Compositor> c;
};

TEST_F(Wayland, ShowsTheHeadlessShowOnTheFirstOutputAndBlackOnTheOther) {
  std::unique_ptr<Child> saver;
  std::optional<int> first;
  for (int start = 0; start < 3 && !first; ++start) {
    saver.reset();
    first = shown_tick(*(saver = shown()), "HEADLESS-1");
  }
  ASSERT_TRUE(first) << "the first output equals no tick of the headless show";
  const Screenshot other = c->screenshot("HEADLESS-2");
  EXPECT_EQ(other.width, 1024);
  EXPECT_EQ(other.lit(0, 0, other.width, other.height), 0) << "the second output is not black";
  // Half a second on, as each buffer is brought up to date from the points logged.
  EXPECT_TRUE(shown_tick(*saver, "HEADLESS-1", *first + 50)) << "the show stood at " << *first;
}

TEST_F(Wayland, AKeyEndsItWithStatus0AndUncoversEveryOutput) {
  auto saver = shown();
  c->key(*saver);
  EXPECT_EQ(saver->wait(3s), 0);
  EXPECT_TRUE(poll_until([&] {
    return std::ranges::count(c->screenshot("HEADLESS-2").pixels, kBackground) == 1024 * 768;
  }, 3s)) << "a surface outlived the saver";
}

TEST_F(Wayland, TenPixelStepsAcrossBothOutputsGoOnAndAFortyPixelJumpEnds) {
  c->pointer(nullptr, "to 1200 300");
  auto saver = shown();
  for (int step = 0; step < 20 && saver->running(); ++step) c->pointer(saver.get(), "by 10 0");
  EXPECT_TRUE(saver->running()) << "steps of 10 px ended it";
  c->pointer(saver.get(), "by 40 0");
  EXPECT_EQ(saver->wait(3s), 0);
}

TEST_F(Wayland, AClickEndsItOnTheReleaseNotThePress) {
  auto saver = shown();
  c->pointer(saver.get(), "press 1");
  EXPECT_TRUE(saver->running()) << "a press alone ended it";
  c->pointer(saver.get(), "release 1");
  EXPECT_EQ(saver->wait(3s), 0);
}

TEST_F(Wayland, ASecondStartEndsAtOnceAndTheFirstGoesOn) {
  auto first = shown();
  EXPECT_EQ(c->start()->wait(3s), 0);
  EXPECT_TRUE(first->running());
  c->key(*first);
  EXPECT_EQ(first->wait(3s), 0);
}

TEST_F(Wayland, EndSignalsEndItWithStatus0) {
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    auto saver = shown();
    saver->signal(sig);
    EXPECT_EQ(saver->wait(3s), 0) << strsignal(sig);
  }
}

TEST_F(Wayland, TheCompositorGoingAwayEndsItWithStatus1) {
  auto saver = shown();
  c->crash();
  EXPECT_EQ(saver->wait(3s), 1);
}

TEST_F(Wayland, AnOutputMadeWhileItRunsTurnsBlackAndTheShowGoesOn) {
  auto saver = shown();
  const auto first = shown_tick(*saver, "HEADLESS-1");
  c->place(3, "800x600 0 768");
  EXPECT_TRUE(poll_until([&] {
    const Screenshot s = c->screenshot("HEADLESS-3");
    return s.width == 800 && s.lit(0, 0, s.width, s.height) == 0;
  }, 5s)) << "the new output is not black";
  EXPECT_TRUE(first && shown_tick(*saver, "HEADLESS-1", *first)) << "the show stood still";
}

TEST_F(Wayland, PlaysInDevicePixelsOnAScaledOutput) {
  c->as({"swaymsg", "output", "HEADLESS-1", "scale", "2"})->wait(5s);
  auto saver = shown();
  EXPECT_TRUE(shown_tick(*saver, "HEADLESS-1")) << "not the headless show at 1280x720";
}

TEST_F(Wayland, FollowsItsOutputToANewSize) {
  auto saver = shown();
  c->place(1, "800x600 0 0");
  // Particles all over it, and pairs restarting at its centre, far more than at the old one.
  EXPECT_TRUE(poll_until([&] {
    const Screenshot s = c->screenshot("HEADLESS-1");
    return s.width == 800 && s.lit(0, 0, 400, 300) > 50 && s.lit(400, 0, 800, 300) > 50 &&
           s.lit(0, 300, 400, 600) > 50 && s.lit(400, 300, 800, 600) > 50 &&
           s.lit(350, 250, 450, 350) > 2 * s.lit(590, 310, 690, 410) &&
           std::ranges::count(s.pixels, kBackground) == 0;
  }, 5s)) << "the show did not follow its output to 800x600";
}

// Where both an X display and a compositor are named, the show goes to the compositor, and a
// host's window, always an X window, gets the show in it.
TEST_F(Wayland, PicksTheCompositorUnlessAHostsWindowIsNamed) {
  Desktop x(Kind::X11, 640, 480);
  ASSERT_TRUE(x.up());
  auto saver = shown({x.environment()[0]});
  EXPECT_EQ(x.saver_window(), Window(0)) << "it made a window on X too";
  c->key(*saver);
  EXPECT_EQ(saver->wait(3s), 0);
  auto hosted = c->start({"-root"}, {x.environment()[0]});
  EXPECT_TRUE(poll_until([&] { return x.screenshot().lit(0, 0, 640, 480) > 200; }, 5s))
      << "nothing drawn on X's root window";
  EXPECT_TRUE(hosted->running());
}

TEST(WaylandFallback, FillsWestonsOutputWithTheShow) {
  Compositor weston(false, {});
  ASSERT_TRUE(weston.up()) << "no weston";
  auto saver = weston.start();
  // Its shell fades a fullscreen surface in for about a second.
  EXPECT_TRUE(poll_until([&] {
    return matching_tick(weston.screenshot(""), saver->ticks_at_most()).has_value();
  }, 10s)) << "weston's output never equals the headless show";
  EXPECT_TRUE(saver->running());
}

}  // namespace
}  // namespace ps::desktop

int main(int argc, char** argv) {
  ps::desktop::start_janitor();
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  ps::desktop::finish_janitor();
  return status;
}
