// The Linux saver inside a saver host's window: a window this test makes (or the root), named
// each way hosts name it; the host ends it with SIGTERM, which must end it with status 0.
#include "tests/desktop/harness.h"
// After the harness, whose gtest must come before Xlib's macros.
#include <X11/keysym.h>

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
// The other spellings of these are the mode test's rows.
const Naming kNamings[] = {{"WindowId", {"-window-id", "{}"}, false, false},
                           {"TheVariableAndRoot", {"-root"}, true, false},
                           {"RootAlone", {"--root"}, false, true}};

class Hosted : public On<Naming> {
 protected:
  // The saver in `host`, once that window equals the headless show at its size.
  std::unique_ptr<Child> hosted(Window host, const Naming& how = kNamings[0]) {
    char id[24];
    std::snprintf(id, sizeof id, "0x%lx", host);
    std::vector<std::string> args, env;
    for (const auto& arg : how.args) args.push_back(arg == "{}" ? id : arg);
    if (how.variable) env.push_back(std::string("XSCREENSAVER_WINDOW=") + id);
    return showing([&] { return d->start(args, env); }, host);
  }
};

TEST_P(Hosted, DrawsTheHeadlessShowAtItsWindowsSizeAndLeavesInputAndPointerAlone) {
  if (row().root) d = (own = std::make_unique<Desktop>(Kind::X11, 640, 480)).get();
  Display* dpy = d->display();
  const Window host = row().root ? DefaultRootWindow(dpy) : host_window(dpy, 480, 300);
  auto saver = hosted(host, row());
  ASSERT_TRUE(saver->running());
  EXPECT_EQ(d->grabs_held(host), 0) << "the host cannot take the input";
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
  follows(*saver, host, [&] { XResizeWindow(d->display(), host, 640, 400); });
  EXPECT_EQ(d->screenshot(host).width, 640);
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

ON(X11, X11, HostedOnce, ::testing::Values(kNamings[0]), "Linux");

}  // namespace
}  // namespace ps::desktop
