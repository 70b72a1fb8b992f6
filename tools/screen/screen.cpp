// Reading an X window back as 0xRRGGBB pixels, and finding the window over the whole screen.
#include "tools/screen/screen.h"

#include <X11/Xutil.h>

namespace ps {

int Screenshot::lit(int x0, int y0, int x1, int y1) const {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += pixels[static_cast<std::size_t>(y) * width + x] != 0;
  return n;
}

Screenshot read_window(Display* display, Window window) {
  XWindowAttributes a{};
  if (!XGetWindowAttributes(display, window, &a)) return {};
  return read_area(display, window, 0, 0, a.width, a.height);
}

Screenshot read_area(Display* display, Window window, int x, int y, int width, int height) {
  XWindowAttributes a{};
  if (!XGetWindowAttributes(display, window, &a)) return {};
  XImage* image = XGetImage(display, window, x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (!image) return {};
  // A channel of a pixel scaled to 8 bits, whatever its mask.
  const auto channel = [](unsigned long pixel, unsigned long mask) -> std::uint32_t {
    if (!mask) return 0;
    for (; !(mask & 1); mask >>= 1) pixel >>= 1;
    return static_cast<std::uint32_t>((pixel & mask) * 255 / mask);
  };
  Screenshot shot{width, height, {}};
  shot.pixels.reserve(static_cast<std::size_t>(width) * height);
  for (int row = 0; row < height; ++row)
    for (int column = 0; column < width; ++column) {
      const unsigned long p = XGetPixel(image, column, row);
      shot.pixels.push_back(channel(p, a.visual->red_mask) << 16 |
                            channel(p, a.visual->green_mask) << 8 |
                            channel(p, a.visual->blue_mask));
    }
  XDestroyImage(image);
  return shot;
}

Window covering_window(Display* display) {
  XWindowAttributes screen{};
  XGetWindowAttributes(display, DefaultRootWindow(display), &screen);
  return window_over(display, 0, 0, screen.width, screen.height);
}

Window window_over(Display* display, int x, int y, int width, int height) {
  Window parent = 0, *children = nullptr, found = 0;
  unsigned count = 0;
  XQueryTree(display, DefaultRootWindow(display), &parent, &parent, &children, &count);
  for (unsigned i = 0; i < count && !found; ++i) {
    XWindowAttributes a{};
    if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable && a.x == x &&
        a.y == y && a.width == width && a.height == height)
      found = children[i];
  }
  if (children) XFree(children);
  return found;
}

}  // namespace ps
