// Both savers end to end: the cases they share, run against the Linux saver in an Xvfb of its
// own and against pairstream.scr under Wine, then each target's own rows. The screen must equal
// the headless show pixel for pixel; every end is checked with its exit status.
#include "tests/desktop/harness.h"
// After the harness, whose gtest must come before Xlib's macros.
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
  EXPECT_TRUE(shown_tick(*saver, *first)) << "the show stood still at tick " << *first;
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
constexpr Jump kJumps[] = {{"Across31Stays", 31, 0, false},
                           {"Exactly1000Stays", 30, 10, false},
                           {"Up32Ends", 0, -32, true},
                           {"Diagonal23By23Ends", 23, 23, true}};
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

// SIGTERM at moments of start-up held or seen from outside: as it connects to the display (held
// there by a grab of the server), with its window made and not yet shown (held by this test as
// the window manager), and once the pointer is hidden. Before the loader has run its own code,
// any program dies of it.
struct Moment {
  const char* name;
  std::unique_ptr<Child> (*term)(Desktop&);  // starts a saver and signals it at the moment
};
// A socket of the saver's own (before its exec the forked child holds this process's).
bool connected(const Child& saver) {
  const auto proc = "/proc/" + std::to_string(saver.pid());
  std::error_code none;
  if (!std::filesystem::equivalent(proc + "/exe", PAIRSTREAM_SAVER, none)) return false;
  for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", none))
    if (std::filesystem::read_symlink(fd, none).string().starts_with("socket:")) return true;
  return false;
}
const Moment kMoments[] = {
    {"AsItConnects",
     [](Desktop& d) {
       XGrabServer(d.display()), XSync(d.display(), False);
       auto saver = d.start();
       EXPECT_TRUE(poll_until([&] { return connected(*saver); }, d.start_limit));
       saver->signal(SIGTERM);
       XUngrabServer(d.display()), XSync(d.display(), False);
       return saver;
     }},
    {"BeforeItsWindowShows",
     [](Desktop& d) {
       XSelectInput(d.display(), DefaultRootWindow(d.display()), SubstructureRedirectMask);
       auto saver = d.start();
       XEvent map;
       EXPECT_TRUE(poll_until(
           [&] { return XCheckTypedEvent(d.display(), MapRequest, &map) == True; }, d.start_limit));
       saver->signal(SIGTERM);
       return saver;
     }},
    {"OnceThePointerIsHidden", [](Desktop& d) {
       auto saver = d.start();
       EXPECT_TRUE(poll_until([&] { return !d.pointer_visible(); }, d.start_limit));
       saver->signal(SIGTERM);
       return saver;
     }}};
std::ostream& operator<<(std::ostream& o, const Moment& m) { return o << m.name; }
using StartUp = On<Moment>;

TEST_P(StartUp, ASigtermEndsItWithStatus0LeavingNoGrabNorHiddenPointer) {
  auto saver = row().term(*d);
  EXPECT_EQ(ends(*saver), 0);
  EXPECT_TRUE(d->grabs_free(DefaultRootWindow(d->display())));
  EXPECT_TRUE(d->pointer_visible());
}

ON(X11, X11, StartUp, ::testing::ValuesIn(kMoments), std::get<1>(info.param).name);

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

}  // namespace
}  // namespace ps::desktop

int main(int argc, char** argv) {
  ps::desktop::start_janitor();
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  ps::desktop::finish_janitor();
  return status;
}
