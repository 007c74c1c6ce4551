#include "identification/random.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace mas {
namespace {

TEST(LcgRandom, DrawsFollowTheCongruenceModulo2To32AndRandomizeDiscardsOneDraw) {
  LcgRandom rng;
  rng.Seed(1);
  // By hand: 1 * 22695477 + 1 = 22695478, whose bits 16..30 are 346.
  for (int expected : {346, 130, 10982, 1090, 11656}) EXPECT_EQ(rng.Next(), expected);
  // The top of the state range wraps around: 0xFFFFFFFF * 22695477 + 1 modulo 2^32.
  rng.Seed(0xFFFFFFFFu);
  EXPECT_EQ(rng.Next(), 32421);
  EXPECT_EQ(rng.state(), 4272271820u);

  LcgRandom randomized;
  randomized.Randomize(1);
  EXPECT_EQ(randomized.state(), 22695478u);
  EXPECT_EQ(randomized.Next(), 130);
}

}  // namespace
}  // namespace mas
