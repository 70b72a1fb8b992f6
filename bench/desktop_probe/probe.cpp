// The probe bench/desktop runs on $DISPLAY beside a saver it did not start: it waits for a
// viewable window over the whole screen (or the root window) with lit pixels and prints "name
// value" lines. Figures only; other load on the machine shows in them.
//
//   pairstream_desktop_probe steady SECONDS PID...  CPU % of one core of each PID over SECONDS
//     with nothing watching, then flushes per second (bursts of drawing seen through XDamage)
//     over SECONDS / 2, ticks per second from screenshots SECONDS / 2 apart matched to the
//     headless show (-1 when none matches), and the peak RSS of the first PID
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
double flushes_per_second(Display* display, Window window, double seconds) {
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

// A binary PPM as a screenshot; none when it is no PPM.
ps::Screenshot from_ppm(const std::string& ppm) {
  std::istringstream header(ppm);
  std::string magic;
  ps::Screenshot shot;
  int depth = 0;
  header >> magic >> shot.width >> shot.height >> depth;
  if (magic != "P6" || shot.width <= 0 || shot.height <= 0 || !header) return {};
  const auto* rgb = reinterpret_cast<const unsigned char*>(ppm.data()) + std::size_t(header.tellg()) + 1;
  if (ppm.size() < std::size_t(rgb - reinterpret_cast<const unsigned char*>(ppm.data())) +
                       3 * std::size_t(shot.width) * std::size_t(shot.height))
    return {};
  for (std::size_t n = 0; n < std::size_t(shot.width) * std::size_t(shot.height); ++n, rgb += 3)
    shot.pixels.push_back(std::uint32_t(rgb[0] << 16 | rgb[1] << 8 | rgb[2]));
  return shot;
}

// For each screenshot, the first tick in [from, to] at which the headless show equals it, or -1,
// on one run of the show.
std::vector<int> matching_ticks(const std::vector<ps::Screenshot>& shots, int from, int to) {
  std::vector<int> found(shots.size(), -1);
  if (shots.empty() || shots[0].width <= 0) return found;
  ps::Headless headless(shots[0].width, shots[0].height);
  ps::Form1 form(headless.platform());
  headless.start(form);
  for (int tick = 0; tick <= to; ++tick) {
    if (tick > 0 && !headless.tick()) break;
    for (std::size_t n = 0; tick >= from && n < shots.size(); ++n) {
      if (found[n] >= 0 || shots[n].width != shots[0].width || shots[n].height != shots[0].height)
        continue;
      const std::uint32_t* pixel = shots[n].pixels.data();
      bool same = true;
      for (int y = 0; same && y < shots[n].height; ++y)
        for (const ps::Surface::Ink ink : headless.surface().row(y))
          same = same && headless.surface().colour(ink) == *pixel++;
      if (same) found[n] = tick;
    }
  }
  return found;
}

// Ticks per second from screenshots `seconds` apart, each timed at the middle of its read: three
// at each end, as one may come amid a flush; -1 when none at an end equals a tick before `to`.
double ticks_per_second(Display* display, Window window, double seconds, int to) {
  constexpr int kTries = 3;
  std::vector<ps::Screenshot> shots;
  std::vector<Clock::time_point> at;
  for (int shot = 0; shot < 2 * kTries; ++shot) {
    if (shot == kTries) std::this_thread::sleep_for(Seconds(seconds));
    const auto start = Clock::now();
    shots.push_back(ps::read_window(display, window));
    at.push_back(start + (Clock::now() - start) / 2);
  }
  const std::vector<int> ticks = matching_ticks(shots, 0, to);
  const auto first = [&](int from) {
    for (int n = from; n < from + kTries; ++n)
      if (ticks[n] >= 0) return n;
    return -1;
  };
  const int a = first(0), b = first(kTries);
  if (a < 0 || b < 0) return -1;
  return (ticks[b] - ticks[a]) / Seconds(at[b] - at[a]).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "tick" && argc == 5) {
    const std::vector<int> tick = matching_ticks({from_ppm(read_text(argv[2]))},
                                                 std::atoi(argv[3]), std::atoi(argv[4]));
    std::printf("tick %d\n", tick[0]);
    return 0;
  }
  const auto born = Clock::now();  // the saver started just before: it has ticked no longer
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
  std::printf("flushes_per_s %.1f\n", flushes_per_second(display, window, seconds / 2));
  const int to = int(100 * (Seconds(Clock::now() - born).count() + seconds)) + 100;
  std::printf("ticks_per_s %.1f\n", ticks_per_second(display, window, seconds / 2, to));
  const std::string status = read_text("/proc/" + pids[0] + "/status");
  std::printf("peak_rss_mb %.1f\n", std::atof(status.c_str() + status.find("VmHWM:") + 6) / 1000);
  return 0;
}
