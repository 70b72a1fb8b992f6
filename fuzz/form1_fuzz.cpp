// Fuzzes the real Form1 on the headless platform. An input decodes to a client size, the answer
// of the previous-instance test, a count of idle-loop ticks and up to 256 events (ticks, keys,
// clicks, close requests, moves anywhere, resizes), each landing at a chosen DoEvents call.
// Every handler call is watched as it happens; what the run did is checked when it is over.
//
// Input layout (missing bytes read as 0; at most 32 tick and 8 resize events are kept):
//   byte 0      bits 0-2 all set: another instance runs; bits 3-7: idle ticks (0 to 31)
//   bytes 1-4   client width and height, two 16-bit sides (see side())
//   bytes 5-6   sawtooth phase: the counter is moved on by this (mod 2501) once started, as
//               that many ticks would, so that its wrap at 5000 is within reach of an input
//   then events: kind byte, 16-bit DoEvents call, payload
//     kind % 8:  0 tick, 1 key, 2 click, 3 close request, 4-6 move, 7 resize
//     move:      mode byte; mode % 3 = 0: a step of two signed bytes from the last move,
//                1: two 16-bit signed coordinates, 2: two 32-bit signed coordinates
//     resize:    two 16-bit sides
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/headless/headless.h"
#include "shell/form1.h"

namespace {

// Allocations counted once the show starts; libFuzzer's own, between runs, are not.
bool armed = false;
long allocations = 0;

// Every plain form is replaced, so that whatever new hands out, the matching delete frees.
void* counted(std::size_t size) noexcept {
  if (armed) ++allocations;
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
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace ps {
namespace {

using Input = Headless::Input;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "pairstream fuzz: %s\n", what);
  std::abort();
}

void expect(bool ok, const char* what) {
  if (!ok) fail(what);
}

// Every tick costs the work of 1000 particles and every resize a clear of the whole area, so
// both are capped to keep an input fast; events past a cap are left out.
constexpr int kMaxEvents = 256;
constexpr int kMaxTickEvents = 32;
constexpr int kMaxResizes = 8;
constexpr int kMaxIdleTicks = 31;
constexpr int kMaxSide = 4096;
// Screens up to this many pixels are checked after every tick, larger ones at the end only,
// so that big sizes do not slow every input down.
constexpr std::size_t kCheckEveryTick = 1u << 16;

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
  std::int32_t i32() {
    const std::uint32_t low = u16();
    return static_cast<std::int32_t>(low | std::uint32_t{u16()} << 16);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A side of the client area: the top three bits pick a range, so that tiny, small and common
// sizes come often and the largest (slow to clear) now and then. Runs of 0x00 or 0xFF, which
// mutations make often, give tiny sides; 0 gives an empty area.
int side(std::uint16_t v) {
  const int low = v & 0x1FFF;
  switch (v >> 13) {
    case 0:
    case 7:
      return low % 4;
    case 1:
    case 2:
      return low % 256;
    case 6:
      return low % (kMaxSide + 1);
    default:
      return low % 1025;
  }
}

struct Plan {
  int width = 0;
  int height = 0;
  bool previous_instance = false;
  int idle_ticks = 0;
  int phase = 0;
  std::vector<Headless::Event> events;
};

Plan decode(Bytes in) {
  Plan plan;
  const std::uint8_t head = in.u8();
  plan.previous_instance = (head & 7) == 7;
  plan.idle_ticks = std::min(head >> 3, kMaxIdleTicks);
  plan.width = side(in.u16());
  plan.height = side(in.u16());
  plan.phase = in.u16() % 2501;
  float x = 0;
  float y = 0;
  int ticks = 0;
  int resizes = 0;
  while (!in.empty() && static_cast<int>(plan.events.size()) < kMaxEvents) {
    const int kind = in.u8() % 8;
    Headless::Event e{Input::Tick, in.u16()};
    switch (kind) {
      case 0:
        e.kind = Input::Tick;
        break;
      case 1:
        e.kind = Input::Key;
        break;
      case 2:
        e.kind = Input::Click;
        break;
      case 3:
        e.kind = Input::Close;
        break;
      case 7:
        e.kind = Input::Resize;
        e.x = static_cast<float>(side(in.u16()));
        e.y = static_cast<float>(side(in.u16()));
        break;
      default:
        e.kind = Input::Move;
        switch (in.u8() % 3) {
          case 0:
            x += static_cast<std::int8_t>(in.u8());
            y += static_cast<std::int8_t>(in.u8());
            break;
          case 1:
            x = static_cast<std::int16_t>(in.u16());
            y = static_cast<std::int16_t>(in.u16());
            break;
          default:
            x = static_cast<float>(in.i32());
            y = static_cast<float>(in.i32());
            break;
        }
        e.x = x;
        e.y = y;
        break;
    }
    if (e.kind == Input::Tick && ++ticks > kMaxTickEvents) continue;
    if (e.kind == Input::Resize && ++resizes > kMaxResizes) continue;
    plan.events.push_back(e);
  }
  return plan;
}

bool palette_colour(Rgb c) {
  return c == 0 || std::find(kPalette.begin(), kPalette.end(), c) != kPalette.end();
}

// Stands between the platform and Form1: forwards every event and checks it on the way in and
// out. The innermost handler through which the end unwinds is what ended the process.
class Watch final : public Events {
 public:
  enum class Ender { None, Load, Key, Click, Close, SharpMove, SlowMove, Tick };

  Watch(Headless& headless, Form1& form) : headless_(headless), form_(form) {}

  void Load() override {
    enter();
    forward([&] { form_.Load(); }, Ender::Load);
    expect(form_.field.nn == 2500, "the counter is not 2500 when the scatter ends");
    check_screen();
  }
  void KeyDown() override {
    enter();
    forward([&] { form_.KeyDown(); }, Ender::Key);
    fail("a key press did not end the show");
  }
  void Click() override {
    enter();
    forward([&] { form_.Click(); }, Ender::Click);
    fail("a click did not end the show");
  }
  void QueryUnload() override {
    enter();
    forward([&] { form_.QueryUnload(); }, Ender::Close);
    fail("a close request did not end the show");
  }
  void MouseMove(float x, float y) override {
    enter();
    const double dx = static_cast<double>(xw_) - x;
    const double dy = static_cast<double>(yw_) - y;
    const bool sharp = zw_ == 1 && dx * dx + dy * dy > 1000;
    forward([&] { form_.MouseMove(x, y); }, sharp ? Ender::SharpMove : Ender::SlowMove);
    expect(!sharp, "a sharp move did not end the show");
    xw_ = x;
    yw_ = y;
    zw_ = 1;
    expect(form_.xw == x && form_.yw == y && form_.zw == 1, "a move was not recorded");
  }
  void Timer1_Timer() override {
    enter();
    expect(!in_tick_, "a tick ran inside a tick");
    in_tick_ = true;
    const int before = form_.field.nn;
    forward([&] { form_.Timer1_Timer(); }, Ender::Tick);
    in_tick_ = false;
    expect(form_.field.nn == (before + 1 > 5000 ? 2500 : before + 1),
           "a tick did not count the sawtooth on by one");
    if (headless_.surface().pixels().size() <= kCheckEveryTick) check_screen();
  }

  Ender ender() const { return ender_; }
  int calls() const { return calls_; }

  void check_screen() const {
    for (const Rgb c : headless_.surface().pixels())
      expect(palette_colour(c), "a pixel is not a palette colour");
  }

 private:
  void enter() {
    expect(ender_ == Ender::None, "a handler ran after the end");
    expect(form_.field.nn >= 0 && form_.field.nn <= 5001, "the counter left 0 to 5001");
    ++calls_;
  }
  template <class F>
  void forward(F&& handler, Ender as) {
    try {
      handler();
    } catch (...) {
      unwound(as);
      throw;
    }
  }
  void unwound(Ender as) {
    if (ender_ == Ender::None) ender_ = as;
    in_tick_ = false;
  }

  Headless& headless_;
  Form1& form_;
  Ender ender_ = Ender::None;
  float xw_ = 0;
  float yw_ = 0;
  int zw_ = 0;
  int calls_ = 0;
  bool in_tick_ = false;
};

void check_end(const Headless& h, const Watch& watch, const Plan& plan) {
  using Ender = Watch::Ender;
  switch (watch.ender()) {
    case Ender::None:
      expect(!h.ended(), "the process ended with no handler on the way out");
      expect(!plan.previous_instance, "a second instance kept running");
      expect(h.pending() == 0, "the idle loop left events in the queue");
      expect(h.shown(), "the window was never shown");
      expect(h.cursor() == -1 && h.cursor_hides() == 1 && h.cursor_shows() == 0,
             "the pointer is not hidden once while the show runs");
      break;
    case Ender::Load: {
      expect(plan.previous_instance, "the process ended during start-up without an exit input");
      expect(h.ended(), "start-up unwound without an end");
      expect(watch.calls() == 1 && !h.shown(), "a second instance ran past its check");
      expect(h.cursor() == 0 && h.cursor_hides() == 0 && h.cursor_shows() == 0,
             "a second instance touched the pointer");
      const auto journal = h.journal();
      expect(journal.size() == 2 && journal[0].call == Headless::Call::PrevInstance &&
                 journal[1].call == Headless::Call::End,
             "a second instance did more than test and end");
      for (const Rgb c : h.surface().pixels())
        expect(c == Platform::kDefaultBackColor, "a second instance drew");
      return;
    }
    case Ender::Key:
    case Ender::Click:
    case Ender::Close:
    case Ender::SharpMove:
      expect(h.ended(), "an exit input did not end the process");
      expect(h.cursor() == 0 && h.cursor_hides() == 1 && h.cursor_shows() == 1,
             "an exit did not leave the pointer counter where it started");
      expect(h.journal().back().call == Headless::Call::End, "an exit was not the last call");
      break;
    case Ender::SlowMove:
      fail("a small move ended the show");
    case Ender::Tick:
      fail("a tick ended the show without an exit input");
  }
  watch.check_screen();
}

// The largest client area the run will need, which the surface must hold before the show
// starts: a screen that grows past every size it had allocates, and that is not the show's doing.
std::pair<int, int> largest(const Plan& plan) {
  auto area = [](int w, int h) { return w > 0 && h > 0 ? std::size_t(w) * std::size_t(h) : 0; };
  std::pair<int, int> size{plan.width, plan.height};
  for (const Headless::Event& e : plan.events) {
    if (e.kind != Input::Resize) continue;
    const int w = static_cast<int>(e.x);
    const int h = static_cast<int>(e.y);
    if (area(w, h) > area(size.first, size.second)) size = {w, h};
  }
  return size;
}

}  // namespace
}  // namespace ps

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ps;
  const Plan plan = decode(Bytes(data, size));
  const auto [width, height] = largest(plan);
  auto headless = std::make_unique<Headless>(width, height);
  if (width != plan.width || height != plan.height)
    headless->platform().resize(plan.width, plan.height);
  auto form = std::make_unique<Form1>(headless->platform());
  Watch watch(*headless, *form);
  headless->set_previous_instance(plan.previous_instance);
  // Posting allocates, so the whole input is queued before the show starts.
  for (const Headless::Event& e : plan.events) headless->post(e);

  allocations = 0;
  armed = true;
  bool running = headless->start(watch);
  if (running) form->field.nn += plan.phase;
  for (int t = 0; t < plan.idle_ticks; ++t) running = headless->tick() && running;
  running = headless->run() && running;
  running = headless->tick() && running;
  armed = false;

  expect(running == !headless->ended(), "a step reported the wrong running state");
  if (allocations != 0) {
    std::fprintf(stderr, "pairstream fuzz: %ld allocations after start-up\n", allocations);
    std::abort();
  }
  check_end(*headless, watch, plan);
  return 0;
}
