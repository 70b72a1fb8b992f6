// A private X server for end-to-end tests: Xvfb on a display it picks itself (-displayfd),
// input injected through XTest, the screen read back with XGetImage and the pointer's image
// with XFixes. Nothing here knows the program under test.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/desktop/process.h"

struct _XDisplay;

namespace ps::e2e {

// The root window's pixels, 0xRRGGBB, row by row.
struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  // Pixels that are not black in [x0, x1) x [y0, y1); the whole screen by default.
  std::size_t lit(int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) const {
    if (x1 < 0) x1 = width;
    if (y1 < 0) y1 = height;
    std::size_t n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += at(x, y) != 0;
    return n;
  }
};

// A top-level window as the X server sees it.
struct Toplevel {
  unsigned long id = 0;
  std::string name;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool viewable = false;
};

class XServer {
 public:
  XServer() = default;
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  ~XServer() { close(); }

  // Starts Xvfb with one screen of the given size; false (with why()) when it cannot.
  bool start(int width, int height, const std::string& log);
  void close();
  // The server dies under its clients, as when a session's X server crashes. Our connection is
  // dropped unread (not closed), since closing it would meet the dead server.
  void crash();
  const std::string& why() const { return why_; }
  std::string display_name() const { return std::string(":").append(std::to_string(number_)); }
  pid_t pid() const { return pid_; }

  // Input, as a user's devices would send it. Each call is flushed to the server.
  void move_pointer(int x, int y);
  void key(unsigned long keysym, bool press);
  void tap(unsigned long keysym);  // press and release
  void button(unsigned button, bool press);
  // Moves the pointer back and forth by one pixel around (x, y), `per_millisecond` reports each
  // millisecond for `span`, as a jittery mouse would; the number of reports sent.
  long jiggle_pointer(int x, int y, int per_millisecond, milliseconds span);
  // Maps and unmaps a window of one colour over the given rectangle `times` times, as menus and
  // notifications do over a saver; the colour is the window's background.
  void flash_window(int x, int y, int width, int height, std::uint32_t colour, int times);

  // What is on the screen.
  Screenshot screenshot();
  std::vector<Toplevel> toplevels(const std::string& name);
  // True when the pointer's current image has at least one pixel that is not transparent.
  bool pointer_visible();
  // An ICCCM close request, as a window manager sends it for the close button.
  void request_close(unsigned long window);

 private:
  _XDisplay* display_ = nullptr;
  pid_t pid_ = -1;
  int number_ = -1;
  bool fail(std::string why) {
    why_ = std::move(why);
    return false;
  }

  std::string why_;
};

}  // namespace ps::e2e
