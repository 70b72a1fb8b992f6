// Both savers end to end: the cases they share, run against the Linux saver in an Xvfb of its
// own and against pairstream.scr under Wine, then each target's own rows. The screen must equal
// the headless show pixel for pixel; every end is checked with its exit status.
#include "tests/desktop/harness.h"
// After the harness, whose gtest must come before Xlib's macros.
#include <X11/Xatom.h>
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

// Two monitors: the show on the primary at its size, the other black, and input on either.
struct Split {
  const char* name;
  Monitors monitors;
};
std::ostream& operator<<(std::ostream& o, const Split& split) { return o << split.name; }
using TwoMonitors = On<Split>;

Screenshot part(const Screenshot& shot, const Area& area) {
  Screenshot part{area.width, area.height, {}};
  for (int y = area.y; y < area.y + area.height && !shot.pixels.empty(); ++y) {
    const auto row = shot.pixels.begin() + y * shot.width + area.x;
    part.pixels.insert(part.pixels.end(), row, row + area.width);
  }
  return part;
}

TEST_P(TwoMonitors, ShowTheShowOnThePrimaryAndBlackOnTheOtherAndTakeInputOnBoth) {
  std::string why;
  if (d->wine && !(d = wine_desktop(why, row().monitors))) GTEST_SKIP() << why;
  if (!d->wine) d = (own = std::make_unique<Desktop>(Kind::X11, 0, 0, true, row().monitors)).get();
  ASSERT_TRUE(d->up()) << "no X server";
  const Area primary = d->primary, other = d->other;
  // A point left and right of the seam, and how far from it the drag starts, on each side.
  const int seam = 1280, y = 300, from = primary.x < seam ? seam - 80 : seam + 80;
  const int to = 2 * seam - from;
  d->fake_motion(from, y);
  std::unique_ptr<Child> saver;
  Screenshot shot;
  // A start whose scatter took a tick matches no tick: it gets two more.
  for (int start = 0; start < 3 && shot.pixels.empty(); ++start) {
    saver.reset();
    poll_until([&] { return d->saver_window() == 0; }, d->end_limit);
    saver = shown();
    poll_until(
        [&] {
          shot = d->screenshot();
          return matching_tick(part(shot, primary), saver->ticks_at_most()).has_value() ||
                 (shot = {}, false);
        },
        3s);
  }
  ASSERT_FALSE(shot.pixels.empty()) << "the primary monitor equals no tick of the headless show";
  EXPECT_EQ(part(shot, other).lit(0, 0, other.width, other.height), 0) << "the other is not black";

  const int step = to > from ? 10 : -10;
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
  const auto clients = [&] {
    std::vector<Window> listed;
    Atom type;
    int format;
    unsigned long count = 0, left;
    unsigned char* data = nullptr;
    XGetWindowProperty(dpy, DefaultRootWindow(dpy), XInternAtom(dpy, "_NET_CLIENT_LIST", False), 0,
                       1024, False, XA_WINDOW, &type, &format, &count, &left, &data);
    if (data)
      listed.assign(reinterpret_cast<Window*>(data), reinterpret_cast<Window*>(data) + count);
    if (data) XFree(data);
    return listed;
  };
  ASSERT_TRUE(poll_until([&] { return !clients().empty(); }, 10s)) << "no panel came up";

  std::unique_ptr<Child> saver;
  std::optional<int> tick;
  for (int start = 0; start < 3 && !tick; ++start) {
    saver.reset();
    poll_until([&] { return d->saver_window() == 0; }, d->end_limit);
    tick = shown_tick(*(saver = shown()));
  }
  const auto named = [&](Window w) {
    char* name = nullptr;
    const bool saver = XFetchName(dpy, w, &name) && std::string(name) == "pairstream";
    if (name) XFree(name);
    return saver;
  };
  const auto listed = clients();
  EXPECT_EQ(std::count_if(listed.begin(), listed.end(), named), 0) << "a taskbar lists it";
  ASSERT_TRUE(tick) << "the screen equals no tick of the headless show: the panel shows?";

  // Something that comes over the show, as a panel raising itself: the show comes back on top.
  XSetWindowAttributes over{};
  over.override_redirect = True;
  over.background_pixel = 0xFFFFFF;
  const Window cover =
      XCreateWindow(dpy, DefaultRootWindow(dpy), 0, 770, 1280, 30, 0, CopyFromParent, InputOutput,
                    CopyFromParent, CWOverrideRedirect | CWBackPixel, &over);
  XMapRaised(dpy, cover);
  XSync(dpy, False);
  EXPECT_TRUE(shown_tick(*saver, *tick)) << "the window over the show stayed over it";
  d->tap(*saver, XK_a);
  EXPECT_EQ(ends(*saver), 0);
}

ON(X11, X11, UnderAWindowManager, ::testing::ValuesIn(kManagers), std::get<1>(info.param).name);

}  // namespace
}  // namespace ps::desktop

int main(int argc, char** argv) {
  ps::desktop::start_janitor();
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  ps::desktop::finish_janitor();
  return status;
}
