// A saver on the headless platform, as the tests drive it: Form1 on a client area of a chosen
// size, with helpers to post input at a chosen DoEvents call and to read the screen.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/headless/headless.h"
#include "shell/form1.h"

namespace ps::test {

struct Show {
  explicit Show(int width, int height) : headless(width, height), form(headless.platform()) {}

  bool start() { return headless.start(form); }
  Field& field() { return form.field; }
  const Surface& screen() const { return headless.surface(); }
  std::uint64_t calls() const { return headless.platform().calls(); }

  void post(Headless::Input kind, std::uint64_t at) { headless.post({kind, at}); }
  void move(float x, float y, std::uint64_t at = 0) {
    headless.post({Headless::Input::Move, at, x, y});
  }

  int lit_pixels() const {
    int lit = 0;
    for (const Rgb p : screen().pixels()) lit += p != 0;
    return lit;
  }

  Headless headless;
  Form1 form;
};

inline std::unique_ptr<Show> make_show(int width = 1000, int height = 800) {
  return std::make_unique<Show>(width, height);
}

// Calls to DoEvents made by the scatter (one per particle) and by one tick (one per particle and
// one at its end).
inline constexpr std::uint64_t kScatterCalls = kParticles;
inline constexpr std::uint64_t kTickCalls = kParticles + 1;

}  // namespace ps::test
