// The real Form1 on the headless platform, as the behaviour tests drive it: a client area of a
// chosen size, input posted at a chosen service of pending events, and the screen read back.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/headless/headless.h"
#include "shell/form1.h"

namespace ps::test {

using Input = Headless::Input;

struct Show {
  Show(int width, int height) : headless(width, height), form(headless.platform()) {}

  bool start() { return headless.start(form); }
  Field& field() { return form.field; }
  const Surface& screen() const { return headless.surface(); }
  void post(Input kind, std::uint64_t at, float x = 0, float y = 0) {
    headless.post({kind, at, x, y});
  }

  Headless headless;
  Form1 form;
};

inline std::unique_ptr<Show> make_show(int width = 1000, int height = 800) {
  return std::make_unique<Show>(width, height);
}

}  // namespace ps::test
