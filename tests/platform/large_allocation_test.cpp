#include "platform/large_allocation.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <numeric>

using vorlin::platform::LargeVector;

// Tables either side of the threshold keep what they hold through growth,
// copies and moves; the large ones start on a huge-page boundary.
TEST(LargeAllocation, TablesKeepTheirContents) {
  for (size_t n : {size_t(1000), (vorlin::platform::kLargeAllocationThreshold / 8) + 3}) {
    LargeVector<uint64_t> table(n);
    std::iota(table.begin(), table.end(), uint64_t(7));
    table.resize(2 * n + 1, 0);
    LargeVector<uint64_t> copy = table;
    LargeVector<uint64_t> moved = std::move(table);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(moved[i], i + 7);
    EXPECT_EQ(copy, moved);
    EXPECT_EQ(moved.back(), 0u);
    if (vorlin::platform::UsesLargeAllocation(moved.capacity() * sizeof(uint64_t))) {
      EXPECT_EQ(uintptr_t(moved.data()) % (2u << 20), 0u);
    }
  }
}

TEST(LargeAllocation, ImpossibleSizesThrow) {
  EXPECT_THROW(vorlin::platform::AllocateLarge(size_t(1) << 50), std::bad_alloc);
  EXPECT_THROW(vorlin::platform::AllocateLarge(SIZE_MAX - 4096), std::bad_alloc);
}
