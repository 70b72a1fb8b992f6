// The soak: a million ticks of the show on the headless platform at 1920x1080. After every tick
// each particle has either taken exactly its step and is still on the screen, or left the screen
// by no more than that step and been restarted at the centre; the counter climbs by one and wraps
// every 2501 ticks; nothing is allocated and the resident size stays flat. Prints the figures and
// exits 1 on the first violation. Usage: pairstream_soak [ticks]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "platform/headless/headless.h"
#include "shell/form1.h"

namespace {
long allocations = 0;
}

// None of these is inlined: GCC 12 would see malloc() or free() meet the other side's
// operator and warn of a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc{};
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace ps {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr long kSampleEvery = 10000;
// Growth of the resident size past the first sample that still counts as flat: a few pages
// of the C library's own bookkeeping, far below one lost screen (8 MB) or field (64 KB).
constexpr long kFlatBytes = 256 * 1024;

// Read with plain system calls: a stream would allocate, and count as the show's.
long resident_bytes() {
  char text[128] = {};
  const int fd = open("/proc/self/statm", O_RDONLY);
  if (fd < 0) return 0;
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return 0;
  char* rest = nullptr;
  std::strtol(text, &rest, 10);  // total size, then the resident pages
  return std::strtol(rest, nullptr, 10) * sysconf(_SC_PAGESIZE);
}

int sgn(double v) { return (v > 0) - (v < 0); }

struct Step {
  double x1, x2, y;     // where the move takes the dots
  double dx1, dx2, dy;  // by how much
};

[[noreturn]] void violation(long tick, int particle, const char* what) {
  std::printf("VIOLATION at tick %ld, particle %d: %s\n", tick, particle, what);
  std::exit(1);
}

}  // namespace
}  // namespace ps

int main(int argc, char** argv) {
  using namespace ps;
  const long ticks = argc > 1 ? std::atol(argv[1]) : 1000000;
  auto headless = std::make_unique<Headless>(kWidth, kHeight);
  auto form = std::make_unique<Form1>(headless->platform());
  auto steps = std::make_unique<std::array<Step, kParticles + 1>>();
  if (!headless->start(*form)) violation(0, 0, "the show ended during start-up");
  const Field& f = form->field;
  const double w = headless->surface().scale_width();
  const double h = headless->surface().scale_height();

  const long allocations_at_start = allocations;
  const long rss_at_start = resident_bytes();
  long rss_first = 0;
  long rss_max = 0;
  long restarts = 0;
  double worst_overshoot = 0;  // beyond the edge, in steps of the dot that left
  long last_wrap = 0;
  long wraps = 0;
  long period_min = 0;
  long period_max = 0;
  const auto began = std::chrono::steady_clock::now();

  for (long t = 1; t <= ticks; ++t) {
    const int nn = f.nn;
    const double drift = nn / 10000.0;
    for (int i = 1; i <= kParticles; ++i) {
      const int k = i % 4 + 1;
      const int m = i % 3 + 1;
      Step& s = (*steps)[i];
      s.dx1 = k * f.vx[1][i] / 100;
      s.dx2 = (k - drift * sgn(f.vx[2][i])) * f.vx[2][i] / 100;
      s.dy = m * f.vy[i] / 100;
      s.x1 = f.px[1][i] + s.dx1;
      s.x2 = f.px[2][i] + s.dx2;
      s.y = f.py[i] + s.dy;
    }
    if (!headless->tick()) violation(t, 0, "the show ended without input");

    if (f.nn != (nn == 5000 ? 2500 : nn + 1)) violation(t, 0, "the counter did not step by one");
    if (f.nn == 2500) {
      const long period = t - last_wrap;
      period_min = wraps == 0 ? period : std::min(period_min, period);
      period_max = std::max(period_max, period);
      ++wraps;
      last_wrap = t;
    }

    for (int i = 1; i <= kParticles; ++i) {
      const Step& s = (*steps)[i];
      const bool left = s.x1 < 0 || s.x2 < 0 || s.x1 > w || s.x2 > w || s.y < 0 || s.y > h;
      if (!left) {
        if (f.px[1][i] != s.x1 || f.px[2][i] != s.x2 || f.py[i] != s.y)
          violation(t, i, "an on-screen particle did not take its step");
        continue;
      }
      ++restarts;
      if (f.px[1][i] != w * 0.5 * 0.85 || f.px[2][i] != w * 0.5 / 0.85 || f.py[i] != h * 0.5)
        violation(t, i, "a particle that left the screen was not restarted at the centre");
      // The scatter puts some second dots beyond the right edge; they go on the first tick.
      if (t == 1) continue;
      auto beyond = [](double at, double step, double edge) {
        const double out = std::max(-at, at - edge);
        return out > 0 ? out / std::abs(step) : 0.0;
      };
      const double over =
          std::max({beyond(s.x1, s.dx1, w), beyond(s.x2, s.dx2, w), beyond(s.y, s.dy, h)});
      worst_overshoot = std::max(worst_overshoot, over);
      // A step from a dot on the edge lands a step out; allow the rounding of that sum.
      if (over > 1 + 1e-9) violation(t, i, "a particle strayed more than one step off the screen");
    }

    if (t % kSampleEvery == 0 || t == ticks) {
      const long rss = resident_bytes();
      if (rss_first == 0) rss_first = rss;
      rss_max = std::max(rss_max, rss);
      if (rss - rss_first > kFlatBytes) violation(t, 0, "the resident size grew");
    }
  }

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  const long allocated = allocations - allocations_at_start;
  std::printf("ticks              %ld at %dx%d in %.1f s (%.0f ticks/s, %.1f us a tick)\n", ticks,
              kWidth, kHeight, seconds, ticks / seconds, seconds * 1e6 / ticks);
  std::printf("restarts           %ld (%.2f a tick)\n", restarts,
              static_cast<double>(restarts) / ticks);
  std::printf("worst overshoot    %.3f of a step beyond the edge before a restart\n",
              worst_overshoot);
  std::printf("sawtooth           %ld wraps, period %ld to %ld ticks\n", wraps, period_min,
              period_max);
  std::printf("allocations        %ld after start-up\n", allocated);
  std::printf(
      "resident size      %.1f MiB at start, %.1f MiB first sample, %.1f MiB at most, "
      "growth %ld bytes\n",
      rss_at_start / 1048576.0, rss_first / 1048576.0, rss_max / 1048576.0, rss_max - rss_first);
  if (allocated != 0) violation(ticks, 0, "the show allocated after start-up");
  if (ticks >= 2501 && (period_min != 2501 || period_max != 2501))
    violation(ticks, 0, "the sawtooth period is not 2501 ticks");
  std::printf("OK\n");
  return 0;
}
