// pairstream-shot: writes what the X display's screen shows as a PNG, so a run without a desktop
// of its own can still be seen. Reads the root window of $DISPLAY; exit status 2 on failure.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/render/png.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: pairstream-shot FILE.png\n", stderr);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fputs("pairstream-shot: cannot open the display\n", stderr);
    return 2;
  }
  const int screen = DefaultScreen(display);
  const int width = DisplayWidth(display, screen);
  const int height = DisplayHeight(display, screen);
  XImage* image =
      XGetImage(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (!image) {
    std::fputs("pairstream-shot: cannot read the screen\n", stderr);
    return 2;
  }
  const Visual* visual = DefaultVisual(display, screen);
  const auto channel = [](unsigned long pixel, unsigned long mask) {
    if (!mask) return 0ul;
    while (!(mask & 1)) {
      mask >>= 1;
      pixel >>= 1;
    }
    return (pixel & mask) * 255 / mask;
  };
  std::vector<ps::Rgb> pixels;
  pixels.reserve(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      pixels.push_back(static_cast<ps::Rgb>(channel(p, visual->red_mask) << 16 |
                                            channel(p, visual->green_mask) << 8 |
                                            channel(p, visual->blue_mask)));
    }
  XDestroyImage(image);
  XCloseDisplay(display);
  const std::string error = ps::write_png(argv[1], width, height, pixels);
  if (!error.empty()) {
    std::fprintf(stderr, "pairstream-shot: %s\n", error.c_str());
    return 2;
  }
  return 0;
}
