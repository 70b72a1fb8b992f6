// Once the show has started, nothing it does allocates: not a tick, not plotting, not servicing
// events, not an exit. Counted by replacing the global allocator in this test executable.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/headless/headless.h"
#include "shell/form1.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc{};
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace ps {
namespace {

using Input = Headless::Input;

TEST(Allocation, TicksAndEventServicingAllocateNothingOnceStarted) {
  auto headless = std::make_unique<Headless>(1920, 1080);
  auto form = std::make_unique<Form1>(headless->platform());
  // Input queued before the show starts; it is taken inside the ticks below.
  for (std::uint64_t at = 2000; at < 40000; at += 700)
    headless->post({Input::Move, at, static_cast<float>(at / 70), 500});  // 10 px a step
  headless->post({Input::Tick, 5000});
  ASSERT_TRUE(headless->start(*form));

  const long before = allocations.load();
  for (int t = 0; t < 300; ++t) ASSERT_TRUE(headless->tick());
  EXPECT_TRUE(headless->run());
  EXPECT_EQ(allocations.load() - before, 0);
  EXPECT_EQ(headless->pending(), 0u) << "the queued moves were all delivered";
}

TEST(Allocation, CounterSeesAnAllocation) {
  const long before = allocations.load();
  void* p = ::operator new(64);
  ::operator delete(p);
  EXPECT_EQ(allocations.load() - before, 1);
}

}  // namespace
}  // namespace ps
