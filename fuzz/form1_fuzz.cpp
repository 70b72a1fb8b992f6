// Fuzzes the real Form1 on the headless platform. An input decodes to a client size, the answer
// of the single-instance test, idle ticks and up to 256 events (ticks, keys, clicks, close
// requests, moves anywhere, resizes), each at a chosen service of pending events. Checked: the
// show ends only on an exit input or as a second instance (which touches nothing), the window is
// maximised, the pointer hidden once and shown once at an end, no handler runs after the end nor
// a tick inside a tick, the counter steps its sawtooth, every pixel is a palette colour, and
// nothing is allocated once the show starts.
//
// Input layout (missing bytes read as 0; at most 32 tick and 8 resize events are kept):
//   byte 0      bits 0-2 all set: another instance runs; bits 3-7: idle ticks (0 to 31)
//   bytes 1-4   client width and height, two 16-bit sides (see side())
//   bytes 5-6   sawtooth phase: the counter is moved on by this (mod 2501) once started
//   then events: kind byte (% 8: 0 tick, 1 key, 2 click, 3 close, 4-6 move, 7 resize),
//                16-bit service number, then for a move a mode byte (% 3: 0 a step of two
//                signed bytes, 1 two 16-bit coordinates, 2 two 32-bit ones), for a resize two sides
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
bool armed = false;  // counting from the show's start; libFuzzer's own allocations are not
long allocations = 0;
void* counted(std::size_t size) noexcept {
  allocations += armed;
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

// Every plain form is replaced, so that whatever new hands out, the matching delete frees.
void* operator new(std::size_t size) {
  if (void* p = counted(size)) return p;
  throw std::bad_alloc{};
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace ps {
namespace {

using Input = Headless::Input;

void expect(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "pairstream fuzz: %s\n", what), std::abort();
}

struct Bytes {
  const std::uint8_t *at, *end;
  std::uint8_t u8() { return at < end ? *at++ : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
  std::int32_t i32() { return static_cast<std::int32_t>(u16() | std::uint32_t{u16()} << 16); }
};

// A side: the top three bits pick a range, so that tiny, small and common sizes come often and
// the largest (slow to clear) now and then; 0 gives an empty area.
int side(std::uint16_t v) {
  constexpr int kRange[8] = {4, 256, 256, 1025, 1025, 1025, 4097, 4};
  return (v & 0x1FFF) % kRange[v >> 13];
}

// Forwards every event to Form1 and notes, as the end unwinds, the innermost handler it left.
class Watch final : public Events {
 public:
  enum class Ender { None, Load, Exit, Other };
  explicit Watch(Form1& form) : form_(form) {}
  Ender ender = Ender::None;

  void Load() override {
    run([&] { form_.Load(); }, Ender::Load);
  }
  void KeyDown() override {
    run([&] { form_.KeyDown(); }, Ender::Exit);
  }
  void Click() override {
    run([&] { form_.Click(); }, Ender::Exit);
  }
  void QueryUnload() override {
    run([&] { form_.QueryUnload(); }, Ender::Exit);
  }
  void MouseMove(float x, float y) override {
    const double dx = static_cast<double>(form_.xw) - x, dy = static_cast<double>(form_.yw) - y;
    run([&] { form_.MouseMove(x, y); },
        form_.zw == 1 && dx * dx + dy * dy > 1000 ? Ender::Exit : Ender::Other);
    expect(form_.xw == x && form_.yw == y && form_.zw == 1, "a move was not recorded");
  }
  void Timer1_Timer() override {
    expect(!in_tick_, "a tick ran inside a tick");
    const int before = form_.field.nn;
    in_tick_ = true;
    run([&] { form_.Timer1_Timer(); }, Ender::Other);
    in_tick_ = false;
    expect(form_.field.nn == (before >= 5000 ? 2500 : before + 1), "the sawtooth did not step");
  }

 private:
  template <class F>
  void run(F&& handler, Ender as) {
    expect(ender == Ender::None, "a handler ran after the end");
    try {
      handler();
    } catch (...) {
      if (ender == Ender::None) ender = as;
      throw;
    }
    expect(as != Ender::Exit, "an exit input did not end the show");
  }
  Form1& form_;
  bool in_tick_ = false;
};

}  // namespace
}  // namespace ps

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ps;
  Bytes in{data, data + size};
  const std::uint8_t head = in.u8();
  const bool second = (head & 7) == 7;
  const int width = side(in.u16()), height = side(in.u16()), phase = in.u16() % 2501;
  std::vector<Headless::Event> events;
  float x = 0, y = 0;
  int ticks = 0, resizes = 0;
  constexpr Input kKinds[8] = {Input::Tick, Input::Key,  Input::Click, Input::Close,
                               Input::Move, Input::Move, Input::Move,  Input::Resize};
  while (in.at < in.end && events.size() < 256) {
    Headless::Event e{kKinds[in.u8() % 8], in.u16()};
    if (e.kind == Input::Resize) {
      e.x = static_cast<float>(side(in.u16())), e.y = static_cast<float>(side(in.u16()));
    } else if (e.kind == Input::Move) {
      const int mode = in.u8() % 3;
      if (mode == 0) x += static_cast<std::int8_t>(in.u8()), y += static_cast<std::int8_t>(in.u8());
      if (mode == 1)
        x = static_cast<std::int16_t>(in.u16()), y = static_cast<std::int16_t>(in.u16());
      if (mode == 2) x = static_cast<float>(in.i32()), y = static_cast<float>(in.i32());
      e.x = x, e.y = y;
    }
    // Every tick costs 1000 particles and every resize a clear: both are capped.
    if ((e.kind == Input::Tick && ++ticks > 32) || (e.kind == Input::Resize && ++resizes > 8))
      continue;
    events.push_back(e);
  }

  // The surface first takes every size of the run: growing past every size it had allocates,
  // and that is not the show's doing. Posting allocates too, so all is queued before the start.
  auto headless = std::make_unique<Headless>(width, height);
  for (const Headless::Event& e : events)
    if (e.kind == Input::Resize) headless->resize(static_cast<int>(e.x), static_cast<int>(e.y));
  headless->resize(width, height);
  auto form = std::make_unique<Form1>(headless->platform());
  Watch watch(*form);
  headless->set_another_instance(second);
  for (const Headless::Event& e : events) headless->post(e);
  allocations = 0;
  armed = true;
  if (headless->start(watch)) form->field.nn += phase;
  for (int t = 0; t < head >> 3; ++t) headless->tick();
  headless->run();
  headless->tick();
  armed = false;

  using Ender = Watch::Ender;
  expect(allocations == 0, "the show allocated once started");
  expect(watch.ender != Ender::Other, "the show ended without an exit input");
  expect(second == (watch.ender == Ender::Load), "a second instance ran, or a first one ended");
  expect(headless->ended() == (watch.ender != Ender::None), "an end was lost");
  const auto pixels = headless->surface().picture();
  if (second) {
    expect(headless->cursor_hides() + headless->cursor_shows() == 0 && !headless->shown(),
           "a second instance touched the pointer or the screen");
    expect(std::all_of(pixels.begin(), pixels.end(), [](Rgb c) { return c == 0xF0F0F0; }),
           "a second instance drew");
    return 0;
  }
  expect(headless->cursor_hides() == 1 && headless->cursor() == (headless->ended() ? 0 : -1),
         "the pointer is not hidden once, and shown once at the end");
  expect(headless->window_state() == 2, "the window was not maximised");
  expect(headless->ended() || (headless->pending() == 0 && form->field.nn >= 2500),
         "the idle loop left events behind, or the counter is off");
  for (const Rgb c : pixels)
    expect(std::find(kPalette.begin(), kPalette.end(), c) != kPalette.end(),
           "not a palette colour");
  return 0;
}
