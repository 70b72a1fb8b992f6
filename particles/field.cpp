// The scatter and the tick. Every formula is evaluated as written, left to right, in the types
// the state holds: doubles for positions, single precision where points reach the surface.
#include "particles/field.h"

#include <cmath>

namespace ps {
namespace {

int sgn(double v) { return (v > 0) - (v < 0); }

void plot(Platform& p, double x, double y, Rgb colour) {
  p.PSet(static_cast<float>(x), static_cast<float>(y), colour);
}

void restart(Field& f, Platform& p, int i) {
  f.px[1][i] = p.ScaleWidth() * 0.5 * 0.85;
  f.px[2][i] = p.ScaleWidth() * 0.5 / 0.85;
  f.py[i] = p.ScaleHeight() * 0.5;
}

}  // namespace

int colour_index(float pc) {
  // Adding and taking away 2^23 rounds half to even without a call into the maths library on
  // every drawn particle. pc always lies in [0, 15); anything else (never drawn) gives black.
  constexpr float kShift = 8388608.0f;
  if (!(pc >= 0.0f && pc < kShift)) return 0;
  return static_cast<int>((pc + kShift) - kShift);
}

void scatter(Field& f, Platform& p) {
  for (int i = 1; i <= kParticles; ++i) {
    p.DrawWidth(1);
    const double v = (p.next_random() - 0.5) * p.ScaleWidth();
    f.vx[1][i] = v;
    f.vx[2][i] = v;
    f.vy[i] = (p.next_random() - 0.5) * p.ScaleHeight();
    f.pc[i] = p.next_random() * 15;
    f.py[i] = f.vy[i] + p.ScaleHeight() * 0.5;
    for (int d = 1; d <= 2; ++d) {
      f.px[d][i] = (f.vx[d][i] + p.ScaleWidth() * 0.5) * std::pow(0.85, 3 - 2 * d);
      plot(p, f.px[d][i], f.py[i], p.palette(colour_index(f.pc[i])));
    }
    p.service_events();
  }
  f.nn = 2500;
}

void tick(Field& f, Platform& p) {
  p.Timer1.Interval(10);
  const double drift = f.nn / 10000.0;
  f.nn = f.nn + 1;
  for (int i = 1; i <= kParticles; ++i) {
    p.DrawWidth(1);
    plot(p, f.px[1][i], f.py[i], 0);
    plot(p, f.px[2][i], f.py[i], 0);
    const int k = i % 4 + 1;
    const int m = i % 3 + 1;
    f.px[1][i] = f.px[1][i] + k * f.vx[1][i] / 100;
    f.px[2][i] = f.px[2][i] + (k - drift * sgn(f.vx[2][i])) * f.vx[2][i] / 100;
    f.py[i] = f.py[i] + m * f.vy[i] / 100;
    const double w = p.ScaleWidth();
    if (f.px[1][i] < 0 || f.px[2][i] < 0 || f.px[1][i] > w || f.px[2][i] > w) {
      restart(f, p, i);
    } else if (const double h = p.ScaleHeight(); f.py[i] < 0 || f.py[i] > h) {
      restart(f, p, i);
    } else if (f.nn > 5) {
      const Rgb colour = p.palette(colour_index(f.pc[i]));
      plot(p, f.px[1][i], f.py[i], colour);
      plot(p, f.px[2][i], f.py[i], colour);
    }
    p.service_events();
  }
  if (f.nn > 5000) f.nn = 2500;
  p.service_events();
}

}  // namespace ps
