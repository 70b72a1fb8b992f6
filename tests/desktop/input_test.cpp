// Every input ends the show, every time: many starts on each desktop, each ended by a key, a
// click or a jump sent at a random moment of its first 300 ms on the screen, with two busy loops
// beside it; and on X11, input that another client holds as the saver starts.
#include <random>

#include "tests/desktop/harness.h"
// After the harness, whose gtest must come before Xlib's macros.
#include <X11/keysym.h>

namespace ps::desktop {
namespace {

// What the saver was doing: its state, its system call and its threads' stacks.
std::string doing(Child& saver) {
  const std::string proc = "/proc/" + std::to_string(saver.pid());
  std::string said = "state " + read_text(proc + "/stat") + "syscall " +
                     read_text(proc + "/syscall") + "wchan " + read_text(proc + "/wchan") + "\n";
  if (std::filesystem::exists("/usr/bin/gdb")) {
    const std::string out = scratch + "/stack.txt";
    Child({"gdb", "-p", std::to_string(saver.pid()), "-batch", "-ex", "thread apply all bt"}, {},
          out)
        .wait(20s);
    said += read_text(out);
  }
  return said;
}

class EveryInput : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryInput, EndsTheShowWithStatus0EveryTimeUnderLoad) {
  const Target on = target(GetParam());
  Screen* screen = on.screen;
  if (!screen) GTEST_SKIP() << on.why;
  ASSERT_TRUE(screen->up()) << "no desktop";
  screen->niced = false;  // as an idle tool starts it
  Child busy1({"sh", "-c", "while :; do :; done"}), busy2({"sh", "-c", "while :; do :; done"});
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> moment(0, 299);
  const char* kInputs[] = {"a key", "a click", "a jump"};
  const char* asked = std::getenv("PAIRSTREAM_CYCLES");  // more, for a longer run by hand
  const int cycles = asked ? std::atoi(asked) : 30;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    auto saver = screen->launch();
    ASSERT_TRUE(poll_until([&] { return screen->covered() || !saver->running(); }, 20s))
        << "cycle " << cycle << ": the show never covered the screen";
    ASSERT_TRUE(saver->running()) << "cycle " << cycle << ": it ended by itself";
    const int after = moment(random);
    const auto due = Clock::now() + milliseconds(after);
    poll_until([&] { return Clock::now() >= due; }, 1s);
    const int input = cycle % 3;
    (screen->*(input == 0 ? &Screen::type : input == 1 ? &Screen::click : &Screen::jump))(*saver);
    const auto status = saver->wait(screen->limit());
    ASSERT_EQ(status, 0) << "cycle " << cycle << " (seed " << seed << "): " << kInputs[input]
                         << " sent " << after << " ms after the show covered the screen left it "
                         << (status ? "ending with " + std::to_string(*status)
                                    : "running; it was doing:\n" + doing(*saver));
    screen->gone();
  }
}

INSTANTIATE_TEST_SUITE_P(X11, EveryInput, ::testing::Values("X11"),
                         [](const auto&) { return std::string("Linux"); });
INSTANTIATE_TEST_SUITE_P(Wayland, EveryInput, ::testing::Values("Wayland"),
                         [](const auto&) { return std::string("Sway"); });
INSTANTIATE_TEST_SUITE_P(Wine, EveryInput, ::testing::Values("Wine"),
                         [](const auto&) { return std::string("Scr"); });

// Input another client holds as the saver starts (an open menu, a stuck grab), over a window that
// has the focus: a key the moment it is let go ends the show (the show's window has the focus
// meanwhile), and reaches no window under it; a click meanwhile ends it; and the saver takes
// what was held once it is let go.
struct Held {
  const char* name;
  bool pointer;       // held too, beside the keyboard
  milliseconds hold;  // from before the start
  enum { Meanwhile, AtOnce, OnceRetaken } when;  // the input, against the letting go
  void (*input)(Desktop&);
};
std::ostream& operator<<(std::ostream& o, const Held& h) { return o << h.name; }
const Held kHeld[] = {
    {"KeyboardFor2sThenAKey", false, 2s, Held::AtOnce,
     [](Desktop& d) { d.fake_key(XK_a, true), d.fake_key(XK_a, false); }},
    {"KeyboardFor4sAndAClickMeanwhile", false, 4s, Held::Meanwhile,
     [](Desktop& d) { d.fake_button(1, true), d.fake_button(1, false); }},
    {"KeyboardAndPointerFor2sThenAJump", true, 2s, Held::OnceRetaken,
     [](Desktop& d) { d.fake_motion(305, 300), d.fake_motion(505, 300); }}};
using InputHeldAtStart = On<Held>;

TEST_P(InputHeldAtStart, IsTakenOnceLetGoAndNoKeyReachesTheWindowUnderTheShow) {
  Display* dpy = d->display();
  const Window root = DefaultRootWindow(dpy);
  const Window under = XCreateSimpleWindow(dpy, root, 100, 100, 640, 360, 0, 0, 0);
  XSelectInput(dpy, under, KeyPressMask);
  XMapWindow(dpy, under);
  ASSERT_TRUE(poll_until([&] {
    XWindowAttributes a{};
    return XGetWindowAttributes(dpy, under, &a) && a.map_state == IsViewable;
  }, 5s));
  XSetInputFocus(dpy, under, RevertToParent, CurrentTime);
  const auto until = Clock::now() + row().hold;
  ASSERT_EQ(XGrabKeyboard(dpy, under, False, GrabModeAsync, GrabModeAsync, CurrentTime), GrabSuccess);
  if (row().pointer) {
    ASSERT_EQ(XGrabPointer(dpy, under, False, 0, GrabModeAsync, GrabModeAsync, None, None,
                           CurrentTime), GrabSuccess);
  }
  XSync(dpy, False);
  auto saver = shown();
  if (row().when != Held::Meanwhile) {
    poll_until([&] { return Clock::now() >= until || !saver->running(); }, row().hold);
    ASSERT_TRUE(saver->running()) << "it ended while the input was held";
    XUngrabPointer(dpy, CurrentTime), XUngrabKeyboard(dpy, CurrentTime), XSync(dpy, False);
  }
  if (row().when == Held::OnceRetaken) {
    EXPECT_TRUE(poll_until([&] { return d->grabs_held(root) == 2; }, d->end_limit))
        << "the saver did not take the keyboard and the pointer once they were let go";
  }
  row().input(*d);
  EXPECT_EQ(saver->wait(d->end_limit), 0);
  XUngrabPointer(dpy, CurrentTime), XUngrabKeyboard(dpy, CurrentTime), XSync(dpy, False);
  XEvent typed;
  EXPECT_FALSE(XCheckWindowEvent(dpy, under, KeyPressMask, &typed))
      << "a key reached the window under the show";
  XDestroyWindow(dpy, under);
}

ON(X11, X11, InputHeldAtStart, ::testing::ValuesIn(kHeld), std::get<1>(info.param).name);

}  // namespace
}  // namespace ps::desktop
