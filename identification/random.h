#pragma once
// The pseudo-random generator of the optimisers: one linear congruential generator for
// the whole program, state <- state * 22695477 + 1 modulo 2^32, each draw giving bits 16
// to 30 of the new state (0 .. 32767). The identification and tuning sequences of draws
// (initial populations, parents, mutation factors, swarm velocities) are defined on this
// generator, so that a seed replays an optimisation exactly.

#include <cstdint>

namespace mas {

class LcgRandom {
 public:
  static constexpr int kMax = 32767;

  // Sets the state as it is; the next draw is computed from it.
  void Seed(std::uint32_t state) { state_ = state; }
  // "Randomize": the state takes the seed (the calendar time in seconds for the menu
  // command) and one draw is made and discarded.
  void Randomize(std::uint32_t seed) {
    state_ = seed;
    Next();
  }
  // One draw, 0 .. 32767.
  int Next() {
    state_ = state_ * 22695477u + 1u;  // unsigned: wraps around modulo 2^32
    return static_cast<int>((state_ >> 16) & 0x7FFFu);
  }
  std::uint32_t state() const { return state_; }

 private:
  std::uint32_t state_ = 1;
};

// The one generator shared by every optimiser of the program. It is used from the
// optimisers' own thread only: candidate evaluations on other threads draw nothing.
LcgRandom& SharedRandom();

// Calendar time in seconds, as "Randomize" seeds the generator with it (modulo 2^32).
std::uint32_t CalendarSeconds();

}  // namespace mas
