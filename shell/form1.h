// Form1, the saver's one window object: it owns all runtime state (the particle field and the
// mouse record) and all behaviour, as handlers of the events its platform raises.
#pragma once

#include "particles/field.h"
#include "platform/platform.h"

namespace ps {

class Form1 final : public Events {
 public:
  explicit Form1(Platform& platform) : p_(platform) {}

  void Load() override;
  void Click() override { exit(); }
  void KeyDown() override { exit(); }
  void MouseMove(float x, float y) override;
  void QueryUnload() override { exit(); }
  void Timer1_Timer() override { tick(field, p_); }

  Field field;
  float xw = 0;  // the last recorded pointer position
  float yw = 0;
  int zw = 0;  // 1 once a position is recorded

 private:
  // Shows the pointer again and ends the process; nothing is saved or released first.
  [[noreturn]] void exit();

  Platform& p_;
};

}  // namespace ps
