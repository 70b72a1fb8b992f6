// Measures pairstream.scr under Wine in a private Xvfb and prints the figures: ticks per second
// (counted in Wine's relay trace of the window procedure), the CPU of the saver, of the
// wineserver and of Xvfb, and the time from a key press to the process's end.
// Usage: pairstream-wine-measure [path/to/pairstream.scr] [WIDTHxHEIGHT] [seconds] [exits]
#include <X11/keysym.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/desktop/xserver.h"
#include "tests/wine/wine.h"

namespace ps::e2e {
namespace {

// User plus system time of a process so far, in seconds.
double cpu_seconds(pid_t pid) {
  std::istringstream stat(read_text("/proc/" + std::to_string(pid) + "/stat"));
  std::string field;
  // The name (field 2) is in parentheses and may hold spaces: skip past its closing one.
  std::getline(stat, field, ')');
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && stat >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Measure {
  std::string scr;
  XServer x;
  Wine wine;

  // Until the window shows with particles on it.
  bool shown(const Launch& launch) {
    return poll_until(
               [&] {
                 const auto found = x.toplevels("pairstream");
                 return !running(launch.pid) || (found.size() == 1 && found[0].viewable);
               },
               milliseconds(15000), milliseconds(20)) &&
           running(launch.pid);
  }

  void end(const Launch& launch) {
    x.tap(XK_a);
    if (!wait_exit(launch.pid, milliseconds(5000))) stop(launch.pid);
  }

  // CPU of the saver, the wineserver and Xvfb over `seconds` of the running show, in % of one
  // core; with the relay trace on, also the ticks per second.
  void steady(double seconds, bool trace_ticks) {
    const Launch show = wine.launch(scr, {"/s"}, trace_ticks ? "-all,trace+relay" : "-all");
    if (!shown(show)) {
      std::printf("the saver did not start:\n%s\n", show.text().c_str());
      stop(show.pid);
      return;
    }
    sleep_for(milliseconds(2000));  // past the scatter and the first flushes
    const pid_t pids[3] = {show.pid, wine.server_pid(), x.pid()};
    double before[3], after[3];
    for (int i = 0; i < 3; ++i) before[i] = cpu_seconds(pids[i]);
    const std::string first = show.text();
    const auto ticks_before = ticks(first);
    const auto arms_before = count(first, "Call user32.SetTimer");
    const auto start = Clock::now();
    sleep_for(milliseconds(static_cast<long>(seconds * 1000)));
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    for (int i = 0; i < 3; ++i) after[i] = cpu_seconds(pids[i]);
    const std::string last = show.text();
    const auto ticks_after = ticks(last);
    const auto arms_after = count(last, "Call user32.SetTimer");
    end(show);
    const auto percent = [&](int i) { return 100.0 * (after[i] - before[i]) / took; };
    std::printf("%s: CPU %% of one core: saver %.1f, wineserver %.1f, together %.1f; Xvfb %.1f\n",
                trace_ticks ? "with the relay trace" : "untraced", percent(0), percent(1),
                percent(0) + percent(1), percent(2));
    if (trace_ticks)
      std::printf("ticks per second: %.1f; SetTimer calls per second: %.1f\n",
                  static_cast<double>(ticks_after - ticks_before) / took,
                  static_cast<double>(arms_after - arms_before) / took);
  }

  void exits(int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
      const Launch show = wine.launch(scr, {"/s"});
      if (!shown(show)) break;
      sleep_for(milliseconds(500));
      const auto pressed = Clock::now();
      x.key(XK_a, true);
      const bool ended = wait_exit(show.pid, milliseconds(5000)).has_value();
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - pressed).count());
      x.key(XK_a, false);
      if (!ended) stop(show.pid);
      poll_until([&] { return x.toplevels("pairstream").empty(); }, milliseconds(5000));
    }
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    std::printf("key press to process end, %zu runs: median %.1f ms, min %.1f, max %.1f\n",
                ms.size(), ms[ms.size() / 2], ms.front(), ms.back());
  }
};

}  // namespace
}  // namespace ps::e2e

int main(int argc, char** argv) {
  using namespace ps::e2e;
  const char* env = std::getenv("PAIRSTREAM_SCR");
  const std::string scr = argc > 1 ? argv[1] : env ? env : "build/windows/pairstream.scr";
  int width = 1280, height = 1024;
  if (argc > 2 && std::sscanf(argv[2], "%dx%d", &width, &height) != 2) return 2;
  const double seconds = argc > 3 ? std::atof(argv[3]) : 5.0;
  const int runs = argc > 4 ? std::atoi(argv[4]) : 9;
  if (!std::filesystem::exists(scr)) {
    std::fprintf(stderr, "no %s: build the windows preset first\n", scr.c_str());
    return 1;
  }
  Measure m;
  m.scr = std::filesystem::absolute(scr).string();
  if (!m.x.start(width, height, "/dev/null")) {
    std::fprintf(stderr, "%s\n", m.x.why().c_str());
    return 1;
  }
  const auto made = Clock::now();
  if (!m.wine.start(m.x)) {
    std::fprintf(stderr, "%s\n", m.wine.why().c_str());
    return 1;
  }
  std::printf("pairstream.scr under Wine in Xvfb at %dx%d; fresh prefix made in %.1f s\n", width,
              height, std::chrono::duration<double>(Clock::now() - made).count());
  // The relay trace then logs the window procedure's calls and, of the DLL calls, SetTimer only.
  m.wine.run({"reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/t", "REG_SZ",
              "/d", "user32.SetTimer", "/f"},
             milliseconds(20000));
  m.steady(seconds, false);
  m.steady(seconds, true);
  m.exits(runs);
  return 0;
}
