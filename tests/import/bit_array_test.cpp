#include "import/bit_array.h"

#include <gtest/gtest.h>

TEST(BitArray, LayoutAndCounts) {
  BitArray bits;
  EXPECT_EQ(bits.Size(), 0);
  EXPECT_EQ(bits.ByteCount(), 0);
  EXPECT_FALSE(bits.AnyWord(0));
  EXPECT_EQ(bits.Count(), 0);

  bits.Resize(4096);
  EXPECT_EQ(bits.Size(), 4096);
  EXPECT_EQ(bits.ByteCount(), 513);  // one byte more than the bits need
  EXPECT_EQ(bits.Count(), 0);
  bits.Set(0);
  bits.Set(9);
  bits.Set(4095);
  EXPECT_EQ(bits.Bytes()[0], 0x01);
  EXPECT_EQ(bits.Bytes()[1], 0x02);
  EXPECT_EQ(bits.Bytes()[511], 0x80);
  EXPECT_TRUE(bits.Test(9));
  EXPECT_FALSE(bits.Test(8));
  EXPECT_EQ(bits.Count(), 3);
  // Count covers the spare byte too.
  bits.Bytes()[512] = 0xFF;
  EXPECT_EQ(bits.Count(), 11);
  bits.Reset(9);
  EXPECT_FALSE(bits.Test(9));
  bits.Clear();
  EXPECT_EQ(bits.Count(), 0);
  bits.Release();
  EXPECT_EQ(bits.Size(), 0);
  EXPECT_EQ(bits.Bytes(), nullptr);
}

TEST(BitArray, WordAndByteTestsStayInsideTheStorage) {
  BitArray bits;
  bits.Resize(17);  // 3 bytes
  EXPECT_FALSE(bits.AnyWord(0));
  bits.Set(16);
  EXPECT_TRUE(bits.AnyWord(0));    // bytes 0..2 exist, byte 3 does not
  EXPECT_TRUE(bits.AnyWord(16));   // starts at the last byte
  EXPECT_FALSE(bits.AnyWord(24));  // past the end: nothing to look at
  EXPECT_FALSE(bits.AnyWord(-8));
  EXPECT_TRUE(bits.AnyBytes(8, 100));
  EXPECT_FALSE(bits.AnyBytes(0, 2));
  EXPECT_FALSE(bits.AnyBytes(16, 0));
}

TEST(BitArray, ResizeGivesFreshClearedStorage) {
  BitArray bits;
  bits.Resize(64);
  bits.Set(63);
  bits.Resize(8);
  EXPECT_EQ(bits.ByteCount(), 2);
  EXPECT_EQ(bits.Count(), 0);
}
