// The real saver in a private X server, for the end-to-end tests and the desktop measurements:
// a virtual X server on a free display, the saver started with that display and its own runtime
// directory, input injected through XTest, and looks at the screen and the pointer. Everything
// started here is ended by pid when its owner goes. Linux and Xlib only.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ps::e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Checks `done` about every millisecond until it holds or `limit` has passed.
bool wait_until(const std::function<bool()>& done, milliseconds limit);

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Xvfb on a display number it picks itself, and one Xlib connection to it.
class XServer {
 public:
  XServer(int width, int height);
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  Display* dpy() const { return dpy_; }
  Window root() const { return root_; }
  const std::string& name() const { return name_; }
  pid_t pid() const { return pid_; }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
  Display* dpy_ = nullptr;
  Window root_ = 0;
  int width_, height_;
};

// One run of the saver (the path compiled in as PAIRSTREAM_SAVER unless given), killed with
// SIGKILL at the end if it still runs. An empty `runtime_dir` leaves XDG_RUNTIME_DIR unset; a
// `uid` of 0 or more runs it as that user (through setpriv, which keeps the pid).
class Saver {
 public:
  Saver(const XServer& x, const std::string& runtime_dir, const std::vector<std::string>& args = {},
        const std::string& path = "", int uid = -1);
  ~Saver();
  Saver(const Saver&) = delete;
  Saver& operator=(const Saver&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // The wait status once the process has ended within `limit`, nothing if it still runs.
  std::optional<int> wait_exit(milliseconds limit);
  void signal(int sig) const;

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// "exited with status 0", "killed by signal 9", ... for test messages.
std::string describe(std::optional<int> wait_status);
bool exited_cleanly(std::optional<int> wait_status);

// The root's children that are mapped and viewable, bottom to top.
std::vector<Window> viewable_windows(const XServer& x);
// The viewable child of the root that covers the whole screen, or 0.
Window full_screen_window(const XServer& x);
// Whether the screen shows the saver: a full-screen window and lit particles.
bool shows_saver(const XServer& x);
std::string window_name(Display* dpy, Window w);
// The atoms listed in an ATOM-typed property of `w`.
std::vector<Atom> atom_list(Display* dpy, Window w, const char* property);

// The root window's pixels as 0xRRGGBB, row by row.
struct Screenshot {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
  int lit() const;
};
Screenshot screenshot(const XServer& x);

// Pixels of the current cursor image that are not fully transparent; -1 without XFixes.
int visible_cursor_pixels(Display* dpy);

// Input as a person makes it, through XTest; each call waits until the server has it.
void press_key(Display* dpy, unsigned long keysym);
void click(Display* dpy, unsigned button);
void move_pointer(Display* dpy, int x, int y);
// What a window manager sends when the user closes the window.
void request_close(Display* dpy, Window w);

}  // namespace ps::e2e
