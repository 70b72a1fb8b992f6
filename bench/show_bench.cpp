// What the show costs on the headless platform: one tick of all particles with its 1001 event
// services at three screen sizes, warm and cold, the whole scatter, and a tick with input
// waiting in the queue.
// Each figure is the median of 12 repetitions after a warm-up, with its spread (cv).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "platform/headless/headless.h"
#include "shell/form1.h"

namespace ps {
namespace {

struct Show {
  Show(int width, int height) : headless(width, height), form(headless.platform()) {}
  Headless headless;
  Form1 form;
};

void steady(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMicrosecond)
      ->MinWarmUpTime(0.3)
      ->MinTime(0.2)
      ->Repetitions(12)
      ->ReportAggregatesOnly(true);
}

void BM_Tick(benchmark::State& state) {
  auto show =
      std::make_unique<Show>(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  show->headless.start(show->form);
  for (auto _ : state) {
    show->headless.tick();
    benchmark::DoNotOptimize(show->form.field.nn);
  }
}
BENCHMARK(BM_Tick)->Args({640, 480})->Args({1920, 1080})->Args({3840, 2160})->Apply(steady);

// A tick as a desktop runs it, after 10 ms asleep while other programs ran: each begins with the
// caches and the TLB holding none of the show's memory (32 MB of other memory walked first).
void BM_TickCold(benchmark::State& state) {
  auto show =
      std::make_unique<Show>(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  show->headless.start(show->form);
  std::vector<char> other(32 << 20);
  for (auto _ : state) {
    state.PauseTiming();
    for (std::size_t i = 0; i < other.size(); i += 64) ++other[i];
    state.ResumeTiming();
    show->headless.tick();
  }
  benchmark::DoNotOptimize(other.data());
}
BENCHMARK(BM_TickCold)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(100)
    ->Repetitions(12)
    ->ReportAggregatesOnly(true);

void BM_Scatter(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto show = std::make_unique<Show>(1920, 1080);
    state.ResumeTiming();
    show->headless.start(show->form);
    benchmark::DoNotOptimize(show->form.field.nn);
    state.PauseTiming();
    show.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Scatter)->Apply(steady);

// A tick while input waits in the queue: a move lands every 100 services, so the backend is
// serviced ten times as often as a desktop one would be.
void BM_TickWithInput(benchmark::State& state) {
  auto show = std::make_unique<Show>(1920, 1080);
  show->headless.start(show->form);
  float x = 500;
  for (auto _ : state) {
    state.PauseTiming();
    const std::uint64_t first = show->headless.calls();
    for (std::uint64_t at = 100; at <= 1000; at += 100) {
      x = x == 500 ? 501 : 500;
      show->headless.post({Headless::Input::Move, first + at, x, 500});
    }
    state.ResumeTiming();
    show->headless.tick();
  }
}
BENCHMARK(BM_TickWithInput)->Apply(steady);

}  // namespace
}  // namespace ps
