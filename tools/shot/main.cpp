// pairstream-shot: writes what the X display's screen shows as a PNG, so a run without a desktop
// of its own can still be seen. Reads the root window of $DISPLAY; exit status 2 on failure.
#include <cstdio>
#include <string>

#include "tools/render/png.h"
#include "tools/screen/screen.h"

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
  const ps::Screenshot shot = ps::read_window(display, DefaultRootWindow(display));
  XCloseDisplay(display);
  if (shot.pixels.empty()) {
    std::fputs("pairstream-shot: cannot read the screen\n", stderr);
    return 2;
  }
  const std::string error = ps::write_png(argv[1], shot.width, shot.height, shot.pixels);
  if (!error.empty()) {
    std::fprintf(stderr, "pairstream-shot: %s\n", error.c_str());
    return 2;
  }
  return 0;
}
