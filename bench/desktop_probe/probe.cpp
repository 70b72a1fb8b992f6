// Measures the desktop saver in a private Xvfb: CPU share of the saver and the X server over
// SECONDS with nothing watching, ticks per second over a further SECONDS / 2 (bursts of drawing
// seen through XDamage), peak RSS, and key-to-exit latency over RUNS starts. Prints figures only.
// Usage: pairstream_desktop_probe WIDTH HEIGHT SECONDS RUNS
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "xsession.h"

namespace {

using namespace ps::e2e;
using std::chrono::duration;

// utime + stime of a whole process, in seconds.
double cpu_seconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  // Fields after the command name, which ends at the last ')': state is field 3, utime 14.
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// A "Name:   value" line of /proc/<pid>/status, as a number.
long status_field(pid_t pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(name + ":")) return std::stol(line.substr(name.size() + 1));
  return -1;
}

struct Usage {
  double saver_cpu, server_cpu, wakeups;
};

// CPU shares (in % of one core) and saver wake-ups per second while `watch` runs.
template <class Watch>
Usage measure(const XServer& x, Saver& saver, Watch watch) {
  const double saver0 = cpu_seconds(saver.pid()), server0 = cpu_seconds(x.pid());
  const long wakeups0 = status_field(saver.pid(), "voluntary_ctxt_switches");
  const auto start = Clock::now();
  watch();
  const double elapsed = duration<double>(Clock::now() - start).count();
  return {(cpu_seconds(saver.pid()) - saver0) / elapsed * 100,
          (cpu_seconds(x.pid()) - server0) / elapsed * 100,
          double(status_field(saver.pid(), "voluntary_ctxt_switches") - wakeups0) / elapsed};
}

// Bursts of drawing on the saver's window per second, over `seconds`. A tick's points reach the
// server within a millisecond and ticks are 10 ms apart, so a gap of more than 3 ms between
// damage reports starts a new tick.
double ticks_per_second(const XServer& x, double seconds) {
  int damage_event = 0, damage_error = 0;
  if (!XDamageQueryExtension(x.dpy(), &damage_event, &damage_error)) {
    std::fprintf(stderr, "the X server has no DAMAGE extension\n");
    std::exit(1);
  }
  const Damage damage = XDamageCreate(x.dpy(), full_screen_window(x), XDamageReportNonEmpty);
  XSync(x.dpy(), False);
  const auto start = Clock::now();
  const auto end = start + duration<double>(seconds);
  long bursts = 0;
  Time last = 0;
  while (Clock::now() < end) {
    while (XPending(x.dpy())) {
      XEvent e;
      XNextEvent(x.dpy(), &e);
      if (e.type != damage_event + XDamageNotify) continue;
      const Time t = reinterpret_cast<XDamageNotifyEvent&>(e).timestamp;
      if (bursts == 0 || t - last > 3) ++bursts;
      last = t;
      XDamageSubtract(x.dpy(), damage, 0, 0);
      XFlush(x.dpy());
    }
    pollfd p{ConnectionNumber(x.dpy()), POLLIN, 0};
    poll(&p, 1, 5);
  }
  const double elapsed = duration<double>(Clock::now() - start).count();
  XDamageDestroy(x.dpy(), damage);
  XSync(x.dpy(), True);
  return double(bursts) / elapsed;
}

// Milliseconds from the key press to the end of the saver, `runs` times; through XTest in this
// process, or through the xdotool command when `xdotool` is set.
std::vector<double> key_to_exit(const XServer& x, const TempDir& runtime, int runs, bool xdotool) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    Saver saver(x, runtime.path());
    if (!wait_until([&] { return shows_saver(x); }, milliseconds(5000))) continue;
    const int pidfd = int(syscall(SYS_pidfd_open, saver.pid(), 0));
    const auto pressed = Clock::now();
    if (xdotool) {
      Saver tool(x, runtime.path(), {"key", "a"}, "/usr/bin/xdotool");
      (void)tool.wait_exit(milliseconds(5000));
    } else {
      press_key(x.dpy(), XK_a);
    }
    pollfd p{pidfd, POLLIN, 0};
    poll(&p, 1, 5000);
    const auto ended = Clock::now();
    close(pidfd);
    if (exited_cleanly(saver.wait_exit(milliseconds(1000))))
      ms.push_back(duration<double, std::milli>(ended - pressed).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms;
}

void print_latency(const char* how, const std::vector<double>& ms, int runs) {
  if (ms.empty()) {
    std::printf("  key-to-exit, %s: no run ended cleanly\n", how);
    return;
  }
  std::printf("  key-to-exit, %s, %zu of %d runs ended with status 0: median %.2f ms, max %.2f ms\n",
              how, ms.size(), runs, ms[ms.size() / 2], ms.back());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s WIDTH HEIGHT SECONDS RUNS\n", argv[0]);
    return 2;
  }
  const int width = std::atoi(argv[1]), height = std::atoi(argv[2]), runs = std::atoi(argv[4]);
  const double seconds = std::atof(argv[3]);
  XServer x(width, height);
  TempDir runtime;
  Saver saver(x, runtime.path());
  if (!wait_until([&] { return shows_saver(x); }, milliseconds(5000))) {
    std::fprintf(stderr, "the saver did not show: %s\n", describe(saver.wait_exit({})).c_str());
    return 1;
  }
  std::this_thread::sleep_for(milliseconds(1000));
  // First nothing watches, so the X server's share is the saver's alone.
  const Usage quiet = measure(x, saver, [&] {
    std::this_thread::sleep_for(duration<double>(seconds));
  });
  double ticks = 0;
  const Usage counted = measure(x, saver, [&] { ticks = ticks_per_second(x, seconds / 2); });
  const long peak_kb = status_field(saver.pid(), "VmHWM");
  saver.signal(SIGTERM);
  (void)saver.wait_exit(milliseconds(2000));

  std::printf("pairstream at %dx%d in Xvfb (no window manager):\n", width, height);
  std::printf("  CPU over %.0f s, share of one core (utime+stime from /proc/<pid>/stat): "
              "saver %.2f %%, X server %.2f %%, together %.2f %%\n",
              seconds, quiet.saver_cpu, quiet.server_cpu, quiet.saver_cpu + quiet.server_cpu);
  std::printf("  wake-ups of the saver per second: %.1f (voluntary context switches)\n",
              quiet.wakeups);
  std::printf("  ticks per second over a further %.0f s: %.1f (bursts of drawing on the saver's "
              "window, seen through XDamage; X server %.2f %% meanwhile)\n",
              seconds / 2, ticks, counted.server_cpu);
  const double target_mb = 16 + 4.0 * width * height / 1e6;
  std::printf("  peak RSS of the saver (VmHWM): %.1f MB (16 MB + 4 B per pixel = %.1f MB)\n",
              peak_kb / 1000.0, target_mb);
  print_latency("XTest in this process", key_to_exit(x, runtime, runs, false), runs);
  print_latency("through the xdotool command", key_to_exit(x, runtime, runs, true), runs);
  return 0;
}
