// Start-up on a real X server: a black window over the whole screen within a second, particles
// lit in palette colours all over it and moving, the pointer hidden, keyboard and pointer
// grabbed, and arguments ignored.
#include "desktop.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <ostream>
#include <array>

namespace ps::e2e {
namespace {

constexpr std::array<std::uint32_t, 16> kPalette{
    0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0,
    0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};

struct Size {
  int width, height;
};
std::ostream& operator<<(std::ostream& o, const Size& s) {
  return o << s.width << "x" << s.height;
}

class Screens : public Desktop, public ::testing::WithParamInterface<Size> {
 protected:
  Screens() : Desktop(GetParam().width, GetParam().height) {}
};

TEST_P(Screens, AWindowNamedPairstreamCoversTheScreenWithinASecond) {
  const auto started = Clock::now();
  Saver saver(x, runtime.path());
  Window w = 0;
  ASSERT_TRUE(wait_until([&] { return (w = full_screen_window(x)) != 0; }, kStartLimit))
      << "no viewable window of " << x.width() << "x" << x.height() << " at 0,0 within a second; "
      << describe(saver.wait_exit(milliseconds(0)));
  EXPECT_LE(Clock::now() - started, kStartLimit);
  EXPECT_EQ(window_name(x.dpy(), w), "pairstream");
  EXPECT_EQ(viewable_windows(x).size(), 1u);
  // Window managers that honour it make the window fullscreen and undecorated.
  const auto state = atom_list(x.dpy(), w, "_NET_WM_STATE");
  EXPECT_NE(std::find(state.begin(), state.end(),
                      XInternAtom(x.dpy(), "_NET_WM_STATE_FULLSCREEN", False)),
            state.end())
      << "_NET_WM_STATE does not ask for fullscreen";
}

INSTANTIATE_TEST_SUITE_P(Sizes, Screens, ::testing::Values(Size{1280, 720}, Size{800, 600}),
                         [](const auto& info) {
                           return std::to_string(info.param.width) + "x" +
                                  std::to_string(info.param.height);
                         });

using Startup = Desktop;

TEST_F(Startup, LitPixelsArePaletteColoursSpreadOverABlackScreen) {
  auto saver = start_show();
  const Screenshot shot = screenshot(x);
  ASSERT_EQ(shot.width, x.width());
  int lit = 0;
  std::array<int, 4> quadrant{};
  for (int py = 0; py < shot.height; ++py)
    for (int px = 0; px < shot.width; ++px) {
      const std::uint32_t c = shot.at(px, py);
      if (c == 0) continue;
      ASSERT_NE(std::find(kPalette.begin(), kPalette.end(), c), kPalette.end())
          << std::hex << "colour 0x" << c << std::dec << " at " << px << "," << py;
      ++lit;
      ++quadrant[(px >= shot.width / 2) + 2 * (py >= shot.height / 2)];
    }
  // Two dots per particle, one particle in thirty black, some off the screen or overlapping.
  EXPECT_GT(lit, 1000);
  EXPECT_LE(lit, 2000);
  for (int q = 0; q < 4; ++q) EXPECT_GT(quadrant[q], lit / 20) << "quadrant " << q;
}

TEST_F(Startup, TheParticlesMove) {
  auto saver = start_show();
  const Screenshot before = screenshot(x);
  int changed = 0;
  ASSERT_TRUE(wait_until(
      [&] {
        const Screenshot now = screenshot(x);
        changed = 0;
        for (std::size_t i = 0; i < now.pixels.size(); ++i)
          changed += now.pixels[i] != before.pixels[i];
        return changed > 500;
      },
      milliseconds(1000)))
      << "only " << changed << " pixels changed in a second";
}

TEST_F(Startup, ThePointerIsHiddenWhileItRunsAndBackAfterwards) {
  ASSERT_GT(visible_cursor_pixels(x.dpy()), 0) << "the server shows no pointer to begin with";
  auto saver = start_show();
  EXPECT_TRUE(wait_until([&] { return visible_cursor_pixels(x.dpy()) == 0; }, kStartLimit))
      << visible_cursor_pixels(x.dpy()) << " cursor pixels are visible";
  press_key(x.dpy(), XK_a);
  expect_ends_cleanly(*saver);
  EXPECT_GT(visible_cursor_pixels(x.dpy()), 0);
}

TEST_F(Startup, KeyboardAndPointerAreGrabbed) {
  auto saver = start_show();
  // Another program can take neither, so the ending key or click never reaches it.
  const int keyboard = XGrabKeyboard(x.dpy(), x.root(), False, GrabModeAsync, GrabModeAsync,
                                     CurrentTime);
  const int pointer = XGrabPointer(x.dpy(), x.root(), False, ButtonPressMask, GrabModeAsync,
                                   GrabModeAsync, 0, 0, CurrentTime);
  if (keyboard == GrabSuccess) XUngrabKeyboard(x.dpy(), CurrentTime);
  if (pointer == GrabSuccess) XUngrabPointer(x.dpy(), CurrentTime);
  XSync(x.dpy(), False);
  EXPECT_EQ(keyboard, AlreadyGrabbed);
  EXPECT_EQ(pointer, AlreadyGrabbed);
  EXPECT_TRUE(saver->running());
}

TEST_F(Startup, ArgumentsChangeNothing) {
  auto saver = start_show({"/s", "/p", "1234", "--help", "-root"});
  EXPECT_EQ(viewable_windows(x).size(), 1u);
  EXPECT_EQ(visible_cursor_pixels(x.dpy()), 0);
  press_key(x.dpy(), XK_a);
  expect_ends_cleanly(*saver);
}

}  // namespace
}  // namespace ps::e2e
