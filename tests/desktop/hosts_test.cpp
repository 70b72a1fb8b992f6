// The Linux saver inside a saver host's window: a window this test makes (or the root), named
// each way hosts name it, and the real xscreensaver daemon with the saver as its only one.
#include "tests/desktop/harness.h"
// After the harness, whose gtest must come before Xlib's macros.
#include <X11/keysym.h>
#include <sys/stat.h>

#include "tools/render/png.h"

namespace ps::desktop {
namespace {

// A mapped top-level that takes the input, as a host's does; DirectColor for a wrong visual.
Window host_window(Display* dpy, int width, int height, int visual_class = TrueColor) {
  XVisualInfo visual{};
  XMatchVisualInfo(dpy, DefaultScreen(dpy), 24, visual_class, &visual);
  XSetWindowAttributes a{};
  a.colormap = XCreateColormap(dpy, DefaultRootWindow(dpy), visual.visual, AllocNone);
  const Window w = XCreateWindow(dpy, DefaultRootWindow(dpy), 100, 50, width, height, 0, 24,
                                 InputOutput, visual.visual, CWColormap | CWBorderPixel, &a);
  XSelectInput(dpy, w, KeyPressMask | ButtonPressMask | PointerMotionMask);
  XMapWindow(dpy, w);
  XSync(dpy, False);
  return w;
}

struct Naming {
  const char* name;
  std::vector<std::string> args;  // "{}" stands for the window's id
  bool variable;                  // XSCREENSAVER_WINDOW holds the id
  bool root;                      // no id at all: the saver draws on the root window
};
std::ostream& operator<<(std::ostream& o, const Naming& n) { return o << n.name; }
const Naming kNamings[] = {{"WindowId", {"-window-id", "{}"}, false, false},
                           {"WindowIdWithTwoDashes", {"--window-id", "{}"}, false, false},
                           {"TheVariableAndRoot", {"-root"}, true, false},
                           {"TheVariableAlone", {}, true, false},
                           {"RootAlone", {"--root"}, false, true}};

class Hosted : public On<Naming> {
 protected:
  // The saver in `host`, once that window equals the headless show at its size. A start whose
  // scatter took a tick, as a loaded machine makes likely, gets four more.
  std::unique_ptr<Child> hosted(Window host, const Naming& how = kNamings[0]) {
    char id[24];
    std::snprintf(id, sizeof id, "0x%lx", host);
    std::vector<std::string> args, env;
    for (const auto& arg : how.args) args.push_back(arg == "{}" ? id : arg);
    if (how.variable) env.push_back(std::string("XSCREENSAVER_WINDOW=") + id);
    std::unique_ptr<Child> saver;
    bool shown = false;
    for (int start = 0; start < 5 && !shown; ++start)
      shown = shows(host, [&] {
        saver.reset();
        return (saver = d->start(args, env))->ticks_at_most();
      });
    EXPECT_TRUE(shown) << "the window equals no tick of the headless show";
    return saver;
  }
  // Whether `host` comes to equal the headless show within 3 s of `start`, which returns the
  // most ticks that may have run by then.
  bool shows(Window host, const std::function<int()>& start) {
    const auto born = Clock::now();
    const int before = start();
    return poll_until(
        [&] {
          const int ticks = before + int((Clock::now() - born) / 10ms);
          return matching_tick(d->screenshot(host), ticks).has_value();
        },
        3s);
  }
};

TEST_P(Hosted, DrawsTheHeadlessShowAtItsWindowsSizeAndLeavesInputAndPointerAlone) {
  if (row().root) d = (own = std::make_unique<Desktop>(Kind::X11, 640, 480)).get();
  Display* dpy = d->display();
  const Window host = row().root ? DefaultRootWindow(dpy) : host_window(dpy, 480, 300);
  auto saver = hosted(host, row());
  ASSERT_TRUE(saver->running());
  // Both grabs are free for the host to take.
  EXPECT_EQ(XGrabKeyboard(dpy, host, 0, GrabModeAsync, GrabModeAsync, 0), GrabSuccess);
  EXPECT_EQ(XGrabPointer(dpy, host, 0, 0, GrabModeAsync, GrabModeAsync, 0, 0, 0), GrabSuccess);
  XUngrabPointer(dpy, CurrentTime), XUngrabKeyboard(dpy, CurrentTime);
  d->move(*saver, 200, 100), d->move(*saver, 400, 300);
  EXPECT_TRUE(d->pointer_visible()) << "it hid the pointer";
  d->tap(*saver, XK_a);
  d->fake_button(1, true), d->fake_button(1, false);
  EXPECT_TRUE(saver->running()) << "it ended on input that is the host's";
  saver->signal(SIGTERM);
  EXPECT_EQ(ends(*saver), 0);
}

ON(X11, X11, Hosted, ::testing::ValuesIn(kNamings), std::get<1>(info.param).name);

class HostedOnce : public Hosted {};

TEST_P(HostedOnce, TakesNoLockFollowsItsWindowsSizeAndEndsWithStatus1WhenTheWindowGoes) {
  const Window host = host_window(d->display(), 480, 300);  // as a settings dialog's preview
  auto saver = hosted(host);
  const Screenshot preview = d->screenshot(host);  // the README's picture of it
  EXPECT_EQ(write_png(PAIRSTREAM_PREVIEW, preview.width, preview.height, preview.pixels), "");
  auto own = shown();  // the saver of its own starts beside it
  d->tap(*own, XK_a);
  EXPECT_EQ(ends(*own), 0);
  XResizeWindow(d->display(), host, 640, 400);
  XSync(d->display(), False);
  // Pairs beyond the old width and height show the show going on in the new size.
  EXPECT_TRUE(poll_until(
      [&] {
        const Screenshot s = d->screenshot(host);
        return s.width == 640 && s.lit(480, 0, 640, 400) > 20 && s.lit(0, 300, 640, 400) > 20;
      },
      5s));
  XDestroyWindow(d->display(), host);
  XSync(d->display(), False);
  EXPECT_EQ(ends(*saver), 1);
}

TEST_P(HostedOnce, EndsWithStatus1SayingSoOnAWindowItCannotDrawIn) {
  const auto host = std::to_string(host_window(d->display(), 100, 100, DirectColor));
  for (const char* id : {host.c_str(), "0x7fffff01", "tomorrow"}) {
    const std::string log = scratch + "/" + id + ".log";
    EXPECT_EQ(d->start({"-window-id", id}, {}, log)->wait(d->end_limit), 1) << id;
    EXPECT_TRUE(read_text(log).starts_with("pairstream: ")) << id;
  }
}

// The savers started with this HOME.
int savers_in(const std::string& home) {
  int count = 0;
  for (const auto& proc : std::filesystem::directory_iterator("/proc"))
    count += read_text(proc.path() / "cmdline").starts_with(PAIRSTREAM_SAVER) &&
             read_text(proc.path() / "environ").find("HOME=" + home + '\0') != std::string::npos;
  return count;
}

TEST_P(HostedOnce, IsTheXscreensaverDaemonsSaverUntilAKeyEndsIt) {
  // The daemon runs no saver for root: it runs as user 65534, in a home of its own.
  if (geteuid() != 0 || !std::filesystem::exists("/usr/bin/xscreensaver"))
    GTEST_SKIP() << "needs root, to run the daemon as another user, and xscreensaver";
  d = (own = std::make_unique<Desktop>(Kind::X11, 640, 480)).get();
  const std::string home = scratch + "/home";
  chmod(scratch.c_str(), 0711), mkdir(home.c_str(), 0700);
  std::ofstream(home + "/.xscreensaver") << "mode: one\nselected: 0\nlock: False\nfade: False\n"
                                         << "programs: " PAIRSTREAM_SAVER " -root\n";
  for (const auto& path : {home, home + "/.xscreensaver"})
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  const auto as_user = [&](std::vector<std::string> argv, const std::string& log = {}) {
    argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    return std::make_unique<Child>(argv, std::vector{d->environment()[0], "HOME=" + home}, log);
  };
  if (as_user({"test", "-x", PAIRSTREAM_SAVER})->wait(5s) != 0)
    GTEST_SKIP() << "user 65534 cannot run " PAIRSTREAM_SAVER;
  auto daemon = as_user({"xscreensaver", "-no-splash", "-verbose"}, home + "/daemon.log");
  const auto command = [&](const char* what) {
    return as_user({"xscreensaver-command", what})->wait(5s);
  };
  ASSERT_TRUE(poll_until([&] { return command("-activate") == 0; }, 10s)) << "no daemon";
  bool shown = false;  // a start whose scatter took a tick gets four more
  for (int start = 0; start < 5 && !shown; ++start)
    shown = shows(0, [&] {
      if (start > 0) command("-cycle");  // the daemon starts its saver again
      return 10;
    });
  EXPECT_TRUE(shown) << "the screen equals no tick of the headless show";
  EXPECT_EQ(savers_in(home), 1);
  // It takes no input in its first second of blanking: keys until it ends the saver.
  EXPECT_TRUE(poll_until(
      [&] {
        d->fake_key(XK_a, true), d->fake_key(XK_a, false);
        return poll_until([&] { return savers_in(home) == 0; }, 200ms);
      },
      5s))
      << "a saver is left";
  command("-exit");
  daemon->wait(d->end_limit);
  EXPECT_EQ(read_text(home + "/daemon.log").find("crashed"), std::string::npos);
}

ON(X11, X11, HostedOnce, ::testing::Values(kNamings[0]), "Linux");

}  // namespace
}  // namespace ps::desktop
