// The probe bench/desktop runs on $DISPLAY beside a saver it did not start: it waits for a
// viewable window over the whole screen (or the root window) with lit pixels and prints "name
// value" lines. Figures only; other load on the machine shows in them.
//
//   pairstream_desktop_probe steady SECONDS PID...  CPU % of one core of each PID over SECONDS
//     with nothing watching, then ticks per second (bursts of drawing seen through XDamage) over
//     SECONDS / 2, and the peak RSS of the first PID
//   pairstream_desktop_probe exit PID               milliseconds from a key press to PID's end
//   pairstream_desktop_probe tick PPM FROM TO        the tick of the headless show, from FROM
//     to TO, that a screenshot (binary PPM) equals, for the ticks per second on Wayland
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/headless/headless.h"
#include "shell/form1.h"
#include "tools/screen/screen.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

std::string read_text(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// The time a process has spent on a CPU so far, in seconds: the scheduler's own count, to the
// nanosecond, where the clock-tick sampling of /proc/PID/stat wanders by a fifth in 10 s.
double cpu_seconds(const std::string& pid) {
  return std::atof(read_text("/proc/" + pid + "/schedstat").c_str()) / 1e9;
}

// The viewable top-level over the whole screen once it shows lit pixels, or the root window once
// a program drawing there (a saver run with -root) has lit it; 0 after 30 s.
Window shown(Display* display) {
  for (const auto end = Clock::now() + std::chrono::seconds(30); Clock::now() < end;
       std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    Window found = ps::covering_window(display);
    if (!found) found = DefaultRootWindow(display);
    const ps::Screenshot shot = ps::read_window(display, found);
    if (shot.lit(0, 0, shot.width, shot.height) > 80) return found;
  }
  return 0;
}

// A tick's points reach the server within a few milliseconds and ticks are 10 ms apart: a gap
// of more than 3 ms between damage reports starts the next tick.
double ticks_per_second(Display* display, Window window, double seconds) {
  int event = 0, error = 0;
  if (!XDamageQueryExtension(display, &event, &error)) return -1;
  const Damage damage = XDamageCreate(display, window, XDamageReportNonEmpty);
  XSync(display, False);
  long bursts = 0;
  Time last = 0;
  const auto start = Clock::now();
  while (Clock::now() - start < Seconds(seconds)) {
    while (XPending(display)) {
      XEvent e;
      XNextEvent(display, &e);
      if (e.type != event + XDamageNotify) continue;
      const Time t = reinterpret_cast<XDamageNotifyEvent&>(e).timestamp;
      bursts += bursts == 0 || t - last > 3;
      last = t;
      XDamageSubtract(display, damage, None, None);
    }
    pollfd p{ConnectionNumber(display), POLLIN, 0};
    poll(&p, 1, 5);
  }
  XDamageDestroy(display, damage);
  return double(bursts) / Seconds(Clock::now() - start).count();
}

// The first tick in [from, to] at which the headless show equals the picture, or -1.
int matching_tick(const std::string& ppm, int from, int to) {
  std::istringstream header(ppm);
  std::string magic;
  int width = 0, height = 0, depth = 0;
  header >> magic >> width >> height >> depth;
  const auto* rgb = reinterpret_cast<const unsigned char*>(ppm.data()) + std::size_t(header.tellg()) + 1;
  if (magic != "P6" || width <= 0 || height <= 0) return -1;
  ps::Headless headless(width, height);
  ps::Form1 form(headless.platform());
  headless.start(form);
  for (int tick = 0; tick <= to; ++tick) {
    if (tick > 0 && !headless.tick()) break;
    const unsigned char* pixel = rgb;
    bool same = tick >= from;
    for (int y = 0; same && y < height; ++y)
      for (const ps::Surface::Ink ink : headless.surface().row(y)) {
        const ps::Rgb colour = headless.surface().colour(ink);
        same = same && colour == ps::Rgb(pixel[0] << 16 | pixel[1] << 8 | pixel[2]);
        pixel += 3;
      }
    if (same) return tick;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "tick" && argc == 5) {
    std::printf("tick %d\n", matching_tick(read_text(argv[2]), std::atoi(argv[3]), std::atoi(argv[4])));
    return 0;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display || (mode != "steady" && mode != "exit") || (mode == "steady" && argc < 4)) {
    std::fprintf(stderr, "usage: %s steady SECONDS PID... | exit PID (with DISPLAY set)\n",
                 argv[0]);
    return 2;
  }
  // Windows vanish between listing them and asking about them: the call fails, no more.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  const Window window = shown(display);
  if (!window) {
    std::fprintf(stderr, "no window over the whole screen with particles on it\n");
    return 1;
  }
  if (mode == "exit") {
    const int pidfd = int(syscall(SYS_pidfd_open, std::atoi(argv[2]), 0));
    const KeyCode a = XKeysymToKeycode(display, XK_a);
    const auto pressed = Clock::now();
    XTestFakeKeyEvent(display, a, True, CurrentTime);
    XFlush(display);
    pollfd p{pidfd, POLLIN, 0};
    if (pidfd < 0 || poll(&p, 1, 5000) != 1) return 1;
    std::printf("exit_ms %.2f\n", Seconds(Clock::now() - pressed).count() * 1000);
    XTestFakeKeyEvent(display, a, False, CurrentTime);
    XSync(display, False);
    return 0;
  }
  const double seconds = std::atof(argv[2]);
  const std::vector<std::string> pids(argv + 3, argv + argc);
  std::this_thread::sleep_for(std::chrono::seconds(1));  // past the first flushes
  std::vector<double> before;
  for (const auto& pid : pids) before.push_back(cpu_seconds(pid));
  const auto start = Clock::now();
  std::this_thread::sleep_for(Seconds(seconds));
  const double took = Seconds(Clock::now() - start).count();
  for (std::size_t i = 0; i < pids.size(); ++i)
    std::printf("cpu_%zu %.2f\n", i, (cpu_seconds(pids[i]) - before[i]) / took * 100);
  std::printf("ticks_per_s %.1f\n", ticks_per_second(display, window, seconds / 2));
  const std::string status = read_text("/proc/" + pids[0] + "/status");
  std::printf("peak_rss_mb %.1f\n", std::atof(status.c_str() + status.find("VmHWM:") + 6) / 1000);
  return 0;
}
