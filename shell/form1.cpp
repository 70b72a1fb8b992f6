// Start-up of the screen and the exits on user activity.
#include "shell/form1.h"

namespace ps {

void Form1::Load() {
  // A second instance ends before it changes anything: no pointer, no drawing.
  if (p_.another_instance_runs()) p_.end_process();
  p_.BackColor(0);
  p_.WindowState(2);
  p_.ShowCursor(0);
  p_.ScaleMode(3);
  p_.Cls();
  scatter(field, p_);
}

void Form1::MouseMove(float x, float y) {
  // Each report is compared with the one before it, so a slow drag never ends the show.
  if (zw == 1) {
    const double dx = xw - x;
    const double dy = yw - y;
    if (dx * dx + dy * dy > 1000) exit();
  }
  xw = x;
  yw = y;
  zw = 1;
}

void Form1::exit() {
  p_.ShowCursor(-1);
  p_.end_process();
}

}  // namespace ps
