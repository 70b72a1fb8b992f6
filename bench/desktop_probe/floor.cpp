// The floor bench/desktop reads every figure against: a program that does nothing but wake 100
// times a second, asleep in ppoll with a timeout between wakes, as the Linux saver sleeps between
// ticks. Each wake falls due 10 ms after the last fell due. Runs until it is killed.
#include <poll.h>

#include <chrono>
#include <ctime>

int main() {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPeriod = std::chrono::milliseconds(10);
  auto next = Clock::now() + kPeriod;
  for (;;) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(next - Clock::now()).count();
    const timespec timeout{static_cast<time_t>(ns > 0 ? ns / 1000000000 : 0),
                           static_cast<long>(ns > 0 ? ns % 1000000000 : 0)};
    ppoll(nullptr, 0, &timeout, nullptr);
    if (const auto now = Clock::now(); now >= next) {
      next += kPeriod;
      if (next <= now) next = now + kPeriod;  // after a stall, no burst
    }
  }
}
