#include "identification/random.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace mas {
namespace {

// The formula computed in 64 bits with an explicit modulo, independently of the class's
// 32-bit wrap-around.
int ByFormula(std::uint64_t& state) {
  state = (state * 22695477u + 1u) % (std::uint64_t{1} << 32);
  return static_cast<int>((state >> 16) & 0x7FFF);
}

TEST(LcgRandom, DrawsFollowTheCongruenceAndTakeBits16To30) {
  LcgRandom rng;
  rng.Seed(1);
  // By hand: 1 * 22695477 + 1 = 22695478, >> 16 = 346.
  const int expected[] = {346, 130, 10982, 1090, 11656};
  for (int e : expected) EXPECT_EQ(rng.Next(), e);

  // The wrap-around of the 32-bit state, from seeds spread over its whole range.
  for (std::uint32_t seed : {0u, 0xFFFFFFFFu, 0x80000000u, 1718000000u}) {
    rng.Seed(seed);
    std::uint64_t state = seed;
    for (int i = 0; i < 1000; ++i) {
      const int r = rng.Next();
      ASSERT_EQ(r, ByFormula(state)) << seed << " draw " << i;
      ASSERT_GE(r, 0);
      ASSERT_LE(r, LcgRandom::kMax);
    }
    EXPECT_EQ(rng.state(), state);
  }
}

TEST(LcgRandom, RandomizeTakesTheSeedAndDiscardsOneDraw) {
  LcgRandom seeded;
  seeded.Seed(1718000000u);
  seeded.Next();
  LcgRandom randomized;
  randomized.Randomize(1718000000u);
  EXPECT_EQ(randomized.state(), seeded.state());
  EXPECT_EQ(randomized.Next(), seeded.Next());
  // The program's one generator is one object.
  EXPECT_EQ(&SharedRandom(), &SharedRandom());
}

}  // namespace
}  // namespace mas
