// What an X screen shows, read back as the saver's colours: for pairstream-shot, the desktop
// tests and the desktop measurements. Reads any TrueColor visual; Xlib only.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

namespace ps {

struct Screenshot {  // 0xRRGGBB, row by row
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  // The pixels in [x0, x1) x [y0, y1) that are not black.
  int lit(int x0, int y0, int x1, int y1) const;
};

// The window's pixels, or none when it cannot be read (it went away).
Screenshot read_window(Display* display, Window window);
// The pixels of a part of the window, or none.
Screenshot read_area(Display* display, Window window, int x, int y, int width, int height);

// The viewable top-level window over the whole screen, or 0.
Window covering_window(Display* display);
// The viewable top-level window at exactly this place and size, or 0.
Window window_over(Display* display, int x, int y, int width, int height);

}  // namespace ps
