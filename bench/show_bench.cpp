// What the show costs on the headless platform at 1920x1080: one tick of all particles with
// its 1001 event services, the whole scatter, and a tick with input waiting in the queue.
#include <benchmark/benchmark.h>

#include <memory>

#include "platform/headless/headless.h"
#include "shell/form1.h"

namespace ps {
namespace {

struct Show {
  Show() : form(headless.platform()) {}
  Headless headless{1920, 1080};
  Form1 form;
};

void BM_Tick(benchmark::State& state) {
  auto show = std::make_unique<Show>();
  show->headless.start(show->form);
  for (auto _ : state) {
    show->headless.tick();
    benchmark::DoNotOptimize(show->form.field.nn);
  }
  state.counters["ns_per_particle"] = benchmark::Counter(
      static_cast<double>(kParticles), benchmark::Counter::kIsIterationInvariantRate |
                                           benchmark::Counter::kInvert);
}
BENCHMARK(BM_Tick)->Unit(benchmark::kMicrosecond);

void BM_Scatter(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto show = std::make_unique<Show>();
    state.ResumeTiming();
    show->headless.start(show->form);
    benchmark::DoNotOptimize(show->form.field.nn);
    state.PauseTiming();
    show.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Scatter)->Unit(benchmark::kMicrosecond);

// A tick while input waits in the queue: a move lands every 100 calls, so the backend is
// serviced ten times as often as a desktop one would be.
void BM_TickWithInput(benchmark::State& state) {
  auto show = std::make_unique<Show>();
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
BENCHMARK(BM_TickWithInput)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ps
