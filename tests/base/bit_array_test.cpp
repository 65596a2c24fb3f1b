#include "base/bit_array.h"

#include <gtest/gtest.h>

TEST(BitArray, LayoutCountsAndBoundedTests) {
  BitArray bits;
  EXPECT_TRUE(bits.Size() == 0 && bits.ByteCount() == 0 && bits.Count() == 0);
  EXPECT_FALSE(bits.AnyWord(0));

  bits.Resize(4096);
  EXPECT_EQ(bits.ByteCount(), 513);  // one byte more than the bits need
  for (int32_t bit : {0, 9, 4095}) bits.Set(bit);
  EXPECT_TRUE(bits.Bytes()[0] == 0x01 && bits.Bytes()[1] == 0x02 && bits.Bytes()[511] == 0x80);
  EXPECT_TRUE(bits.Test(9) && !bits.Test(8));
  EXPECT_EQ(bits.Count(), 3);
  bits.Bytes()[512] = 0xFF;  // Count covers the spare byte too
  EXPECT_EQ(bits.Count(), 11);
  bits.Reset(9);
  EXPECT_FALSE(bits.Test(9));
  bits.Clear();
  EXPECT_EQ(bits.Count(), 0);

  // Resizing gives fresh cleared storage; word and byte tests stay inside it.
  bits.Set(4000);
  bits.Resize(17);  // 3 bytes
  EXPECT_EQ(bits.Count(), 0);
  EXPECT_FALSE(bits.AnyWord(0));
  bits.Set(16);
  EXPECT_TRUE(bits.AnyWord(0));    // bytes 0..2 exist, byte 3 does not
  EXPECT_TRUE(bits.AnyWord(16));   // starts at the last byte
  EXPECT_FALSE(bits.AnyWord(24));  // past the end: nothing to look at
  EXPECT_FALSE(bits.AnyWord(-8));
  EXPECT_TRUE(bits.AnyBytes(8, 100));
  EXPECT_FALSE(bits.AnyBytes(0, 2));
  EXPECT_FALSE(bits.AnyBytes(16, 0));
  bits.Release();
  EXPECT_TRUE(bits.Size() == 0 && bits.Bytes() == nullptr);
}
