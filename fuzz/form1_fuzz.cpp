// Fuzzes the real Form1 on the headless platform. An input decodes to a client size, the answer
// of the single-instance test, idle ticks and up to 256 events (ticks, keys, clicks, close
// requests, moves anywhere, resizes), each at a chosen service of pending events. Each handler
// is watched as it runs; the ends, the pointer, the counter, the screen and allocation are
// checked when the run is over.
//
// Input layout (missing bytes read as 0; at most 32 tick and 8 resize events are kept):
//   byte 0      bits 0-2 all set: another instance runs; bits 3-7: idle ticks (0 to 31)
//   bytes 1-4   client width and height, two 16-bit sides (see side())
//   bytes 5-6   sawtooth phase: the counter is moved on by this (mod 2501) once started, as
//               that many ticks would, so that its wrap at 5000 is within reach of an input
//   then events: kind byte, 16-bit service number, payload
//     kind % 8:  0 tick, 1 key, 2 click, 3 close request, 4-6 move, 7 resize
//     move:      mode byte; mode % 3 = 0: a step of two signed bytes from the last move,
//                1: two 16-bit signed coordinates, 2: two 32-bit signed coordinates
//     resize:    two 16-bit sides
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "platform/headless/headless.h"
#include "shell/form1.h"

namespace {
// Allocations counted once the show starts; libFuzzer's own, between runs, are not.
bool armed = false;
long allocations = 0;
// Every plain form is replaced, so that whatever new hands out, the matching delete frees.
void* counted(std::size_t size) noexcept {
  allocations += armed;
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

void* operator new(std::size_t size) {
  if (void* p = counted(size)) return p;
  throw std::bad_alloc{};
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace ps {
namespace {

using Input = Headless::Input;

void expect(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "pairstream fuzz: %s\n", what);
  std::abort();
}

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
  std::int32_t i32() { return static_cast<std::int32_t>(u16() | std::uint32_t{u16()} << 16); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A side of the client area: the top three bits pick a range, so that tiny, small and common
// sizes come often and the largest (slow to clear) now and then; 0 gives an empty area.
int side(std::uint16_t v) {
  const int low = v & 0x1FFF;
  constexpr int kRange[8] = {4, 256, 256, 1025, 1025, 1025, 4097, 4};
  return low % kRange[v >> 13];
}

struct Plan {
  int width = 0, height = 0, idle_ticks = 0, phase = 0;
  bool another_instance = false;
  std::vector<Headless::Event> events;
};

Plan decode(Bytes in) {
  Plan plan;
  const std::uint8_t head = in.u8();
  plan.another_instance = (head & 7) == 7;
  plan.idle_ticks = head >> 3;
  plan.width = side(in.u16());
  plan.height = side(in.u16());
  plan.phase = in.u16() % 2501;
  float x = 0, y = 0;
  int ticks = 0, resizes = 0;
  constexpr Input kKinds[8] = {Input::Tick, Input::Key,  Input::Click, Input::Close,
                               Input::Move, Input::Move, Input::Move,  Input::Resize};
  while (!in.empty() && plan.events.size() < 256) {
    Headless::Event e{kKinds[in.u8() % 8], in.u16()};
    if (e.kind == Input::Resize) {
      e.x = static_cast<float>(side(in.u16()));
      e.y = static_cast<float>(side(in.u16()));
    } else if (e.kind == Input::Move) {
      const int mode = in.u8() % 3;
      if (mode == 0) {
        x += static_cast<std::int8_t>(in.u8());
        y += static_cast<std::int8_t>(in.u8());
      } else if (mode == 1) {
        x = static_cast<std::int16_t>(in.u16());
        y = static_cast<std::int16_t>(in.u16());
      } else {
        x = static_cast<float>(in.i32());
        y = static_cast<float>(in.i32());
      }
      e.x = x;
      e.y = y;
    }
    // Every tick costs 1000 particles and every resize a clear: both are capped.
    if ((e.kind == Input::Tick && ++ticks > 32) || (e.kind == Input::Resize && ++resizes > 8))
      continue;
    plan.events.push_back(e);
  }
  return plan;
}

// Stands between the platform and Form1: forwards every event and notes, as the end unwinds
// through it, which handler the process ended in.
class Watch final : public Events {
 public:
  enum class Ender { None, Load, Input, SharpMove, Other };

  explicit Watch(Form1& form) : form_(form) {}
  Ender ender() const { return ender_; }

  void Load() override {
    run([&] { form_.Load(); }, Ender::Load);
  }
  void KeyDown() override {
    run([&] { form_.KeyDown(); }, Ender::Input);
  }
  void Click() override {
    run([&] { form_.Click(); }, Ender::Input);
  }
  void QueryUnload() override {
    run([&] { form_.QueryUnload(); }, Ender::Input);
  }
  void MouseMove(float x, float y) override {
    const double dx = static_cast<double>(form_.xw) - x, dy = static_cast<double>(form_.yw) - y;
    const bool sharp = form_.zw == 1 && dx * dx + dy * dy > 1000;
    run([&] { form_.MouseMove(x, y); }, sharp ? Ender::SharpMove : Ender::Other);
    expect(form_.xw == x && form_.yw == y && form_.zw == 1, "a move was not recorded");
  }
  void Timer1_Timer() override {
    expect(!in_tick_, "a tick ran inside a tick");
    in_tick_ = true;
    const int before = form_.field.nn;
    run([&] { form_.Timer1_Timer(); }, Ender::Other);
    in_tick_ = false;
    expect(form_.field.nn == (before >= 5000 ? 2500 : before + 1), "the sawtooth did not step");
  }

 private:
  template <class F>
  void run(F&& handler, Ender as) {
    expect(ender_ == Ender::None, "a handler ran after the end");
    try {
      handler();
    } catch (...) {
      if (ender_ == Ender::None) ender_ = as;  // the innermost handler the end left through
      in_tick_ = false;
      throw;
    }
    expect(as != Ender::Input && as != Ender::SharpMove, "an exit input did not end the show");
  }

  Form1& form_;
  Ender ender_ = Ender::None;
  bool in_tick_ = false;
};

void check(const Headless& h, const Form1& form, const Watch& watch, const Plan& plan) {
  using Ender = Watch::Ender;
  const auto pixels = h.surface().pixels();
  if (watch.ender() == Ender::Load) {
    expect(plan.another_instance && h.ended() && !h.shown(), "start-up ended the show");
    expect(h.cursor_hides() + h.cursor_shows() == 0, "a second instance touched the pointer");
    expect(std::all_of(pixels.begin(), pixels.end(), [](Rgb c) { return c == 0xF0F0F0; }),
           "a second instance drew");
    return;
  }
  expect(watch.ender() != Ender::Other, "the show ended without an exit input");
  expect(!plan.another_instance, "a second instance ran");
  expect(h.ended() == (watch.ender() != Ender::None), "an end was lost");
  expect(h.cursor_hides() == 1 && h.cursor() == (h.ended() ? 0 : -1),
         "the pointer is not hidden once, and shown once at the end");
  if (!h.ended()) {
    expect(h.pending() == 0 && h.shown(), "the idle loop left events behind");
    expect(form.field.nn >= 2500 && form.field.nn <= 5000, "the counter left 2500 to 5000");
  }
  for (const Rgb c : pixels)
    expect(std::find(kPalette.begin(), kPalette.end(), c) != kPalette.end(),
           "not a palette colour");
}

}  // namespace
}  // namespace ps

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ps;
  const Plan plan = decode(Bytes(data, size));
  // The surface holds the largest size of the run before it starts: growing past every size it
  // had allocates, and that is not the show's doing.
  int width = plan.width, height = plan.height;
  for (const Headless::Event& e : plan.events)
    if (e.kind == Input::Resize && e.x * e.y > static_cast<float>(width) * height)
      width = static_cast<int>(e.x), height = static_cast<int>(e.y);
  auto headless = std::make_unique<Headless>(width, height);
  headless->resize(plan.width, plan.height);
  auto form = std::make_unique<Form1>(headless->platform());
  Watch watch(*form);
  headless->set_another_instance(plan.another_instance);
  for (const Headless::Event& e : plan.events) headless->post(e);  // posting allocates

  allocations = 0;
  armed = true;
  if (headless->start(watch)) form->field.nn += plan.phase;
  for (int t = 0; t < plan.idle_ticks; ++t) headless->tick();
  headless->run();
  headless->tick();
  armed = false;
  expect(allocations == 0, "the show allocated once started");
  check(*headless, *form, watch, plan);
  return 0;
}
