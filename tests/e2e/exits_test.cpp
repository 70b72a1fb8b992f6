// The ends a user or the session makes: any key, a click of any of the three buttons, the
// window manager's close request and the signals idle tools send each end the saver at once
// with status 0.
#include "desktop.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <signal.h>

#include <algorithm>
#include <ostream>

namespace ps::e2e {
namespace {

struct Key {
  const char* name;
  unsigned long keysym;
};
std::ostream& operator<<(std::ostream& o, const Key& k) { return o << k.name; }

class Keys : public Desktop, public ::testing::WithParamInterface<Key> {};

TEST_P(Keys, EndTheShow) {
  auto saver = start_show();
  press_key(x.dpy(), GetParam().keysym);
  expect_ends_cleanly(*saver);
}

INSTANTIATE_TEST_SUITE_P(Exits, Keys,
                         ::testing::Values(Key{"Letter", XK_a}, Key{"Escape", XK_Escape},
                                           Key{"ShiftAlone", XK_Shift_L}),
                         [](const auto& info) { return info.param.name; });

class Buttons : public Desktop, public ::testing::WithParamInterface<unsigned> {};

TEST_P(Buttons, EndTheShowWithAClick) {
  auto saver = start_show();
  click(x.dpy(), GetParam());
  expect_ends_cleanly(*saver);
}

INSTANTIATE_TEST_SUITE_P(Exits, Buttons, ::testing::Values(1u, 2u, 3u),
                         [](const auto& info) { return "Button" + std::to_string(info.param); });

using Close = Desktop;

TEST_F(Close, TheWindowManagersCloseRequestEndsTheShow) {
  auto saver = start_show();
  const Window w = full_screen_window(x);
  ASSERT_NE(w, 0u);
  // A window manager only sends the request to windows that take part in the protocol.
  const Atom delete_window = XInternAtom(x.dpy(), "WM_DELETE_WINDOW", False);
  Atom* protocols = nullptr;
  int count = 0;
  bool listed = false;
  if (XGetWMProtocols(x.dpy(), w, &protocols, &count)) {
    listed = std::find(protocols, protocols + count, delete_window) != protocols + count;
    XFree(protocols);
  }
  EXPECT_TRUE(listed) << "WM_PROTOCOLS does not list WM_DELETE_WINDOW";
  request_close(x.dpy(), w);
  expect_ends_cleanly(*saver);
}

struct Signal {
  const char* name;
  int number;
};
std::ostream& operator<<(std::ostream& o, const Signal& s) { return o << s.name; }

class Signals : public Desktop, public ::testing::WithParamInterface<Signal> {};

TEST_P(Signals, EndTheShowWithStatusZero) {
  auto saver = start_show();
  saver->signal(GetParam().number);
  expect_ends_cleanly(*saver);
}

INSTANTIATE_TEST_SUITE_P(Exits, Signals,
                         ::testing::Values(Signal{"Term", SIGTERM}, Signal{"Int", SIGINT},
                                           Signal{"Hup", SIGHUP}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ps::e2e
