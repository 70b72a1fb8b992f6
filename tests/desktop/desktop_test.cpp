// Both savers end to end: the cases they share, run against the Linux saver in an Xvfb of its
// own and against pairstream.scr under Wine, then each target's own rows. The screen must equal
// the headless show pixel for pixel; every end is checked with its exit status.
#include "tests/desktop/harness.h"
// After the harness, whose gtest must come before Xlib's macros.
#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace ps::desktop {
namespace {

using Saver = On<int>;

TEST_P(Saver, ShowsTheHeadlessShowOverTheWholeScreenWithThePointerHidden) {
  std::optional<int> first;
  auto saver = showing([&] { return shown(); }, 0, &first);
  ASSERT_TRUE(first);
  EXPECT_TRUE(poll_until([&] { return !d->pointer_visible(); }, d->start_limit));
  // A screenshot taken amid a flush matches no tick, a later one does.
  EXPECT_TRUE(poll_until(
      [&] { return matching_tick(d->screenshot(), saver->ticks_at_most()) > first; }, 3s))
      << "the show stood still at tick " << *first;
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

// What ends the show, with status 0: a row that must not end it checks that it goes on, and
// then ends it with a key.
struct End {
  const char* name;
  void (*make)(Desktop&, Child&);
};
void click(Desktop& d, Child& saver, unsigned button) {
  d.press(saver, button);
  EXPECT_TRUE(saver.running()) << "a press alone ended it";
  d.fake_button(button, false);
}
void jump(Desktop& d, Child& saver, int dx, int dy, bool ends) {
  d.move(saver, 301, 300);  // a first report, which only records
  d.move(saver, 301 + dx, 300 + dy);
  if (ends) return;
  EXPECT_TRUE(saver.running()) << "a move within a squared distance of 1000 ended it";
  d.tap(saver, XK_a);
}
constexpr End kEnds[] = {
    {"AKey", [](Desktop& d, Child& s) { d.tap(s, XK_a); }},
    {"ACloseRequest", [](Desktop& d, Child&) { d.close_request(d.saver_window()); }},
    {"Button1OnItsRelease", [](Desktop& d, Child& s) { click(d, s, 1); }},
    {"Button2OnItsRelease", [](Desktop& d, Child& s) { click(d, s, 2); }},
    {"Button3OnItsRelease", [](Desktop& d, Child& s) { click(d, s, 3); }},
    {"AKeyAfterAJumpAcross31", [](Desktop& d, Child& s) { jump(d, s, 31, 0, false); }},
    {"AKeyAfterAJumpOfExactly1000", [](Desktop& d, Child& s) { jump(d, s, 30, 10, false); }},
    {"AJumpUp32", [](Desktop& d, Child& s) { jump(d, s, 0, -32, true); }},
    {"AJumpDiagonal23By23", [](Desktop& d, Child& s) { jump(d, s, 23, 23, true); }}};
constexpr End kSignals[] = {{"Sigterm", [](Desktop&, Child& s) { s.signal(SIGTERM); }},
                            {"Sigint", [](Desktop&, Child& s) { s.signal(SIGINT); }},
                            {"Sighup", [](Desktop&, Child& s) { s.signal(SIGHUP); }}};
constexpr End kWindowsEnds[] = {  // a system key, as Alt and F10 reach a window
    {"Alt", [](Desktop& d, Child& s) { d.tap(s, XK_Alt_L); }}};
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

// SIGTERM at moments of start-up held or seen from outside: as it connects to the display (held
// there by a grab of the server), with its window made and not yet shown (held there by a grab
// of the server the moment this test sees the window made), and once the pointer is hidden. Before
// the loader has run the saver's own code, any program dies of it.
struct Moment {
  const char* name;
  long hold;  // of the server: 1 grabbed, or the events of the root's children this test takes
  bool (*reached)(Desktop&, Child&);
};
const Moment kMoments[] = {
    {"AsItConnects", 1,
     [](Desktop&, Child& saver) {  // a socket of its own, not of the child before its exec
       const auto proc = "/proc/" + std::to_string(saver.pid());
       std::error_code none;
       if (!std::filesystem::equivalent(proc + "/exe", PAIRSTREAM_SAVER, none)) return false;
       for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", none))
         if (std::filesystem::read_symlink(fd, none).string().starts_with("socket:")) return true;
       return false;
     }},
    {"BeforeItsWindowShows", SubstructureNotifyMask,
     [](Desktop& d, Child&) {  // no window manager holds it: its windows are override-redirect
       XEvent made;
       if (!XCheckTypedEvent(d.display(), CreateNotify, &made)) return false;
       XGrabServer(d.display()), XSync(d.display(), False);
       return true;
     }},
    {"OnceThePointerIsHidden", 0, [](Desktop& d, Child&) { return !d.pointer_visible(); }}};
std::ostream& operator<<(std::ostream& o, const Moment& m) { return o << m.name; }
using StartUp = On<Moment>;

TEST_P(StartUp, ASigtermEndsItWithStatus0LeavingNoGrabNorHiddenPointer) {
  Display* dpy = d->display();
  const Window root = DefaultRootWindow(dpy);
  if (row().hold == 1) XGrabServer(dpy);
  if (row().hold > 1) XSelectInput(dpy, root, row().hold);
  XSync(dpy, False);
  auto saver = d->start();
  EXPECT_TRUE(poll_until([&] { return row().reached(*d, *saver); }, d->start_limit));
  saver->signal(SIGTERM);
  XUngrabServer(dpy), XSync(dpy, False);
  EXPECT_EQ(ends(*saver), 0);
  // Once the server has taken the end of its connection, which comes after the exit.
  EXPECT_TRUE(poll_until([&] { return d->grabs_held(root) == 0; }, d->end_limit));
  EXPECT_TRUE(poll_until([&] { return d->pointer_visible(); }, d->end_limit));
}

ON(X11, X11, StartUp, ::testing::ValuesIn(kMoments), std::get<1>(info.param).name);

// Two monitors: the show on the primary at its size, the other black, and input on either.
struct Split {
  const char* name;
  Monitors monitors;
};
std::ostream& operator<<(std::ostream& o, const Split& split) { return o << split.name; }
using TwoMonitors = On<Split>;

TEST_P(TwoMonitors, ShowTheShowOnThePrimaryAndBlackOnTheOtherAndTakeInputOnBoth) {
  std::string why;
  if (d->wine && !(d = wine_desktop(why, row().monitors))) GTEST_SKIP() << why;
  if (!d->wine) d = (own = std::make_unique<Desktop>(Kind::X11, 0, 0, true, row().monitors)).get();
  ASSERT_TRUE(d->up()) << "no X server";
  // A drag from 80 px inside the primary to 80 px inside the other, across the seam at 1280.
  const int from = d->primary.x < 1280 ? 1200 : 1360, to = 2560 - from, y = 300;
  const int step = to > from ? 10 : -10;
  d->fake_motion(from, y);
  std::optional<int> tick;
  auto saver = showing([&] { return shown(); }, 0, &tick);  // the primary's part of the screen
  ASSERT_TRUE(tick);
  EXPECT_EQ(d->screenshot(d->other).lit(0, 0, d->other.width, d->other.height), 0)
      << "the other monitor is not black";

  for (int x = from + step; x != to + step && saver->running(); x += step) d->move(*saver, x, y);
  ASSERT_TRUE(saver->running()) << "a slow drag across the seam ended it";
  EXPECT_FALSE(d->pointer_visible()) << "the other monitor shows the pointer";
  d->press(*saver, 1);
  d->fake_button(1, false);
  EXPECT_EQ(ends(*saver), 0) << "a click on the other monitor did not end it";

  // A jump of 32 px on the other monitor ends it; its first move only records.
  poll_until([&] { return d->saver_window() == 0; }, d->end_limit);
  saver = shown();
  d->move(*saver, to + 1, y);
  d->move(*saver, to + 33, y);
  EXPECT_EQ(ends(*saver), 0) << "a jump on the other monitor did not end it";
}

ON(X11, X11, TwoMonitors,
   ::testing::Values(Split{"RandRLeftPrimary", Monitors::LeftPrimary},
                     Split{"RandRRightPrimary", Monitors::RightPrimary},
                     Split{"XineramaHeads", Monitors::Xinerama}),
   std::get<1>(info.param).name);
ON(Wine, Wine, TwoMonitors, ::testing::Values(Split{"XineramaHeads", Monitors::Xinerama}),
   std::get<1>(info.param).name);

using X11Saver = On<int>;

TEST_P(X11Saver, ItsServerGoingAwayEndsItWithStatus1AtOnce) {
  auto saver = shown();
  d->crash();
  EXPECT_EQ(ends(*saver), 1);
}

TEST_P(X11Saver, FollowsTheScreenToItsNewSize) {
  auto saver = showing([&] { return shown(); });
  Display* dpy = d->display();
  const Window root = DefaultRootWindow(dpy);
  follows(*saver, 0, [&] {  // the one output off and the screen made smaller, as a monitor change
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(dpy, root);
    for (int i = 0; resources && i < resources->ncrtc; ++i)
      XRRSetCrtcConfig(dpy, resources, resources->crtcs[i], CurrentTime, 0, 0, None, RR_Rotate_0,
                       nullptr, 0);
    XRRFreeScreenResources(resources);
    XRRSetScreenSize(dpy, root, 800, 600, 200, 150);
    XSync(dpy, False);
  });
  EXPECT_EQ(d->screenshot().width, 800);
}

TEST_P(X11Saver, FollowsTheMonitorsWhenTheyChange) {
  d = (own = std::make_unique<Desktop>(Kind::X11, 0, 0, true, Monitors::LeftPrimary)).get();
  ASSERT_TRUE(d->up());
  auto saver = showing([&] { return shown(); });
  follows(*saver, 0, [&] {  // the primary made smaller, the other wider
    d->primary = {0, 0, 1000, 600}, d->other = {1000, 0, 1304, 768};
    Child({"xrandr", "--delmonitor", "LEFT", "--delmonitor", "RIGHT", "--setmonitor", "*LEFT",
           "1000/265x600/159+0+0", "screen", "--setmonitor", "RIGHT", "1304/345x768/203+1000+0",
           "none"},
          d->environment())
        .wait(5s);
  });
  EXPECT_EQ(d->screenshot(d->other).lit(0, 0, 1304, 768), 0) << "the black window stayed";
}

// Without a runtime directory the lock is a name made from the user id, in the network
// namespace: the test takes private ones, with a private socket directory for its server.
TEST_P(X11Saver, AnotherUsersSaverNeitherBlocksNorIsBlocked) {
  if (geteuid() != 0) GTEST_SKIP() << "running a saver as another user needs root";
  mkdir("/tmp/.X11-unix", 01777);
  if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
      mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", "/tmp/.X11-unix", "tmpfs", 0, "mode=1777") != 0)
    GTEST_SKIP() << "no private namespaces";
  d = (own = std::make_unique<Desktop>(Kind::X11, 1280, 720, false)).get();
  ASSERT_TRUE(d->up());
  d->uid = 65534;
  auto theirs = shown();
  d->uid = -1;
  auto mine = shown();  // not blocked by theirs
  EXPECT_EQ(d->start()->wait(d->end_limit), 0) << "the lock holds for one user";
  EXPECT_TRUE(theirs->running());
  EXPECT_TRUE(mine->running());
}

ON(X11, X11, X11Saver, ::testing::Values(0), "Linux");

// A desktop's window manager and its panel (tint2, at the bottom, with a taskbar), each in a
// private home; xfwm4 reads its settings over a D-Bus session of its own.
struct Manager {
  const char* name;
  Strings argv;
};
std::ostream& operator<<(std::ostream& o, const Manager& m) { return o << m.name; }
const Manager kManagers[] = {{"Xfwm4", {"dbus-run-session", "--", "xfwm4"}},
                             {"Openbox", {"openbox"}}};
using UnderAWindowManager = On<Manager>;

TEST_P(UnderAWindowManager, ItCoversThePanelStaysOnTopAndIsListedInNoTaskbar) {
  d = (own = std::make_unique<Desktop>(Kind::X11, 1280, 800)).get();
  ASSERT_TRUE(d->up());
  Display* dpy = d->display();
  const std::string home = scratch + "/home-" + row().name;
  mkdir(home.c_str(), 0700);
  Strings env = d->environment();
  env.insert(env.end(), {"HOME=" + home, "NO_AT_BRIDGE=1"});
  Child manager(row().argv, env), panel({"tint2"}, env);
  const auto listed = [&] {  // the names of the windows it manages, which taskbars show
    Strings names;
    Atom type;
    int format;
    unsigned long count = 0, left;
    unsigned char* data = nullptr;
    XGetWindowProperty(dpy, DefaultRootWindow(dpy), XInternAtom(dpy, "_NET_CLIENT_LIST", False), 0,
                       1024, False, XA_WINDOW, &type, &format, &count, &left, &data);
    for (unsigned long i = 0; i < count; ++i) {
      char* name = nullptr;
      XFetchName(dpy, reinterpret_cast<Window*>(data)[i], &name);
      names.push_back(name ? name : "");
      if (name) XFree(name);
    }
    if (data) XFree(data);
    return names;
  };
  ASSERT_TRUE(poll_until([&] { return !listed().empty(); }, 10s)) << "no panel came up";

  std::optional<int> tick;
  auto saver = showing([&] { return shown(); }, 0, &tick);
  const Strings names = listed();
  EXPECT_EQ(std::count(names.begin(), names.end(), "pairstream"), 0) << "a taskbar lists it";
  ASSERT_TRUE(tick) << "the panel shows over the show";

  // Something that comes over the show, as a panel raising itself: the show comes back on top.
  XSetWindowAttributes over{};
  over.override_redirect = True;
  over.background_pixel = 0xFFFFFF;
  const Window cover =
      XCreateWindow(dpy, DefaultRootWindow(dpy), 0, 770, 1280, 30, 0, CopyFromParent, InputOutput,
                    CopyFromParent, CWOverrideRedirect | CWBackPixel, &over);
  XMapRaised(dpy, cover);
  XSync(dpy, False);
  EXPECT_TRUE(
      poll_until([&] { return matching_tick(d->screenshot(), saver->ticks_at_most()) > tick; }, 3s))
      << "the window over the show stayed over it";
  d->tap(*saver, XK_a);
  EXPECT_EQ(ends(*saver), 0);
}

ON(X11, X11, UnderAWindowManager, ::testing::ValuesIn(kManagers), std::get<1>(info.param).name);

// The Linux saver on Wayland with no X server: sway's outputs 1280x720 at 0,0 and 1024x768 right
// of it, the show on the first and black on the second; weston without the layer shell.
class Wayland : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "sway runs as user 65534: that needs root";
    c = std::make_unique<Compositor>(Server::Sway, Strings{"1280x720 0 0", "1024x768 1280 0"});
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

// Where the pointer entered the show is no report: the first move only records, however far.
TEST_F(Wayland, TheFirstMoveOnlyRecordsHoweverFarFromWhereThePointerEntered) {
  auto saver = shown();
  c->pointer(saver.get(), "by 40 0");
  EXPECT_TRUE(saver->running()) << "the first move ended it";
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
  // sway makes the output, then sets its mode: under the sanitizers on a loaded machine the two
  // and the saver's black surface have taken close to 5 s.
  Screenshot s;
  EXPECT_TRUE(poll_until([&] {
    s = c->screenshot("HEADLESS-3");
    return s.width == 800 && s.lit(0, 0, s.width, s.height) == 0;
  }, 15s)) << "the new output is not black: " << s.width << " wide, "
           << s.lit(0, 0, s.width, s.height) << " pixels lit";
  EXPECT_TRUE(first && shown_tick(*saver, "HEADLESS-1", *first)) << "the show stood still";
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

// The show's output at a whole or fractional scale: the show is the headless show at the
// output's size in device pixels, one dot a pixel on the glass, and moves count in those pixels;
// on sway a second output of another scale is black (at scales that give sway whole units: at
// others it leaves a column uncovered by any surface). sway 1.7 names no fractional scale (its
// wl_output says 2 for 1.5 and 1.25): there the saver draws at the output's mode. KWin names the
// scale it prefers, only once a buffer shows on the surface: the show is drawn at it from the
// start. KWin's output is 1280x720 in its units, sway's 1920x1080 in pixels.
struct Scale {
  const char* name;
  Server server;
  double scale;
};
std::ostream& operator<<(std::ostream& o, const Scale& s) { return o << s.name; }
class Scaled : public ::testing::TestWithParam<Scale> {};

TEST_P(Scaled, PlaysInDevicePixelsAndMeasuresMovesInThem) {
  if (geteuid() != 0) GTEST_SKIP() << "the compositor runs as user 65534: that needs root";
  const Scale row = GetParam();
  const bool sway = row.server == Server::Sway;
  Compositor c(row.server, sway ? Strings{"1920x1080 0 0", "1024x768 1920 0"}
                                : Strings{"1280x720 " + std::to_string(row.scale)});
  ASSERT_TRUE(c.up()) << "no compositor";
  if (sway) {
    c.as({"swaymsg", "output", "HEADLESS-1", "scale", std::to_string(row.scale)})->wait(5s);
    c.as({"swaymsg", "output", "HEADLESS-2", "scale", row.scale == 2 ? "1.6" : "2"})->wait(5s);
  }
  auto saver = c.launch();
  Screenshot shot;
  EXPECT_TRUE(poll_until([&] {
    return matching_tick(shot = c.shot(), saver->ticks_at_most()).has_value();
  }, 5s)) << "the output is not the headless show at " << shot.width << "x" << shot.height;
  if (sway) {
    const Screenshot other = c.screenshot("HEADLESS-2");
    EXPECT_EQ(other.width, 1024);
    EXPECT_EQ(other.lit(0, 0, other.width, other.height), 0) << "the second output is not black";
  }
  // KWin sends a move as the nearest whole unit of its own; XTest's are in device pixels.
  int at = 300;
  const auto by = [&](int x) {
    if (sway) return c.pointer(saver.get(), "by " + std::to_string(x / row.scale) + " 0");
    c.x()->move(*saver, at += x, 300);
  };
  for (int step = 0; step < 5; ++step) by(20);
  EXPECT_TRUE(saver->running()) << "steps of 20 device pixels ended it";
  by(40);
  EXPECT_EQ(saver->wait(3s), 0) << "a jump of 40 device pixels did not end it";
}

INSTANTIATE_TEST_SUITE_P(
    Wayland, Scaled,
    ::testing::Values(Scale{"SwayBy2", Server::Sway, 2}, Scale{"SwayBy1_5", Server::Sway, 1.5},
                      Scale{"SwayBy1_25", Server::Sway, 1.25}, Scale{"KWinBy1_5", Server::KWin, 1.5},
                      Scale{"KWinBy1_25", Server::KWin, 1.25}),
    [](const auto& info) { return std::string(info.param.name); });

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
  Compositor weston(Server::Weston, {});
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
