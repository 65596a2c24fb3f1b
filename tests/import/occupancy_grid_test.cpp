#include "import/occupancy_grid.h"

#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

constexpr int64_t kBlockBytes = 512 * 20;

CellPoint Record(uint32_t id) {
  CellPoint p{};
  p.x = float(id);
  p.color = id;
  return p;
}

std::vector<uint32_t> ReadAll(PagedPointList& list) {
  std::vector<CellPoint> records(size_t(list.Count()));
  list.SetPosition(0);
  list.SelectBlock(0);
  list.Read(records.data(), int64_t(records.size() * sizeof(CellPoint)));
  std::vector<uint32_t> ids;
  for (const CellPoint& p : records) ids.push_back(p.color);
  return ids;
}

class OccupancyGridTest : public ::testing::Test {
 protected:
  vorlin_test::TempDir m_dir;
  vorlin_test::ScopedTmpDir m_tmp{m_dir.path().string()};
};

}  // namespace

TEST_F(OccupancyGridTest, BlocksAndSpillOffsets) {
  OccupancyGrid grid;
  ASSERT_TRUE(grid.Init(2, 3, 4));
  EXPECT_EQ(&grid.List(1, 2, 3), &grid.List((3 * 3 + 2) * 2 + 1));
  EXPECT_EQ(grid.SpillEnd(), 1);         // offset 0 holds the marker byte
  EXPECT_EQ(m_dir.EntryCount(), 0u);     // the spill file has no name

  PagedPointList& list = grid.List(0);
  for (uint32_t i = 0; i < 1024; ++i) list.Append(Record(i));
  EXPECT_EQ(list.BlockCount(), 2);
  list.Append(Record(1024));
  EXPECT_EQ(list.BlockCount(), 3);
  EXPECT_EQ(list.Position(), 1);
  // Full blocks went out one after the other as the list moved on.
  EXPECT_FALSE(list.Block(0).IsResident());
  EXPECT_EQ(list.Block(0).fileOffset, 1);
  EXPECT_EQ(list.Block(1).fileOffset, 1 + kBlockBytes);
  EXPECT_EQ(grid.SpillEnd(), 1 + 2 * kBlockBytes);

  // Reading back leaves clean blocks resident; they are not written again.
  ReadAll(list);
  list.SelectBlock(0);
  EXPECT_TRUE(list.Block(1).IsResident());
  EXPECT_EQ(grid.SpillEnd(), 1 + 3 * kBlockBytes);
}

TEST_F(OccupancyGridTest, RecordsSurviveSwapping) {
  OccupancyGrid grid;
  ASSERT_TRUE(grid.Init(3, 1, 1));
  // Interleaved appends so the lists' blocks share the file.
  const uint32_t sizes[3] = {1500, 512, 37};
  for (uint32_t i = 0; i < 1500; ++i) {
    for (int32_t l = 0; l < 3; ++l) {
      if (i < sizes[l]) grid.List(l).Append(Record(uint32_t(l) * 10000 + i));
    }
  }
  for (int32_t l = 0; l < 3; ++l) {
    std::vector<uint32_t> ids = ReadAll(grid.List(l));
    ASSERT_EQ(ids.size(), sizes[l]);
    for (uint32_t i = 0; i < sizes[l]; ++i) ASSERT_EQ(ids[i], uint32_t(l) * 10000 + i);
  }
}
