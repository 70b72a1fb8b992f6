// The 1000 particles: their state, the scatter that places them at start-up and the tick that
// moves them. A particle is two one-pixel dots of one colour at the same height; index 0 of
// every array is never used, so particle i and dot d are read as written: vx[d][i], py[i].
#pragma once

#include <array>

#include "platform/platform.h"

namespace ps {

inline constexpr int kParticles = 1000;

struct Field {
  std::array<std::array<double, kParticles + 1>, 3> vx{};  // base velocity across, per dot
  std::array<double, kParticles + 1> vy{};                 // base velocity down
  std::array<std::array<double, kParticles + 1>, 3> px{};  // position across, per dot
  std::array<double, kParticles + 1> py{};                 // position down, both dots
  std::array<float, kParticles + 1> pc{};                  // colour index before rounding
  int nn = 0;                                              // frame counter
};

// The palette index of a particle: pc rounded to the nearest integer, halves to even.
int colour_index(float pc);

// Places and draws every particle, servicing events after each, then starts the counter.
void scatter(Field& f, Platform& p);

// One step of the show: erase, move, restart or redraw every particle.
void tick(Field& f, Platform& p);

}  // namespace ps
