#include "platform/random.h"

#include <gtest/gtest.h>

#include <thread>

using namespace vorlin::platform;

TEST(Random, ClassicSequencesInRangeAndPerThread) {
  Srand(1);
  for (int want : {41, 18467, 6334, 26500, 19169}) EXPECT_EQ(Rand(), want);
  Srand(0);
  for (int want : {38, 7719, 21238}) EXPECT_EQ(Rand(), want);
  for (int i = 0; i < 100000; ++i) {
    const int r = Rand();
    ASSERT_TRUE(r >= 0 && r <= kRandMax) << r;
  }
  // A fresh thread starts as if seeded with 1, whatever this thread did.
  int other = -1;
  std::thread([&] { other = Rand(); }).join();
  EXPECT_EQ(other, 41);
}
