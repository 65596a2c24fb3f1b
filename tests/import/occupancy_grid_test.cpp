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
  p.normalIndex = uint16_t(id & 0xFFF);
  return p;
}

// Reads every record of a list from the start.
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

TEST_F(OccupancyGridTest, BlocksOf512Records) {
  OccupancyGrid grid;
  ASSERT_TRUE(grid.Init(2, 3, 4));
  EXPECT_EQ(grid.ListCount(), 24);
  EXPECT_EQ(&grid.List(1, 2, 3), &grid.List((3 * 3 + 2) * 2 + 1));
  EXPECT_EQ(grid.SpillEnd(), 1);  // offset 0 holds the marker byte
  // The spill file is nameless: nothing is left in the temporary folder.
  EXPECT_EQ(m_dir.EntryCount(), 0u);

  PagedPointList& list = grid.List(0);
  EXPECT_EQ(list.BlockCount(), 0);
  EXPECT_EQ(list.CurrentBlock(), -1);
  for (uint32_t i = 0; i < 1024; ++i) list.Append(Record(i));
  EXPECT_EQ(list.Count(), 1024);
  EXPECT_EQ(list.BlockCount(), 2);
  EXPECT_EQ(list.Position(), 512);
  list.Append(Record(1024));
  EXPECT_EQ(list.BlockCount(), 3);
  EXPECT_EQ(list.Position(), 1);

  // Moving on to a new block wrote the full ones out, one after the other.
  EXPECT_FALSE(list.Block(0).IsResident());
  EXPECT_FALSE(list.Block(1).IsResident());
  EXPECT_EQ(list.Block(0).fileOffset, 1);
  EXPECT_EQ(list.Block(1).fileOffset, 1 + kBlockBytes);
  EXPECT_EQ(grid.SpillEnd(), 1 + 2 * kBlockBytes);
}

TEST_F(OccupancyGridTest, RecordsSurviveSwappingBetweenLists) {
  OccupancyGrid grid;
  ASSERT_TRUE(grid.Init(3, 1, 1));
  // Interleaved appends to three lists so their blocks share the file.
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

  // Overwrite the middle of the long list across a block boundary, then read
  // a record from the far end (swapping the written blocks out) and re-check.
  PagedPointList& list = grid.List(0);
  std::vector<CellPoint> patch;
  for (uint32_t i = 0; i < 100; ++i) patch.push_back(Record(90000 + i));
  list.SetPosition(480);
  list.SelectBlock(0);
  list.Write(patch.data(), int64_t(patch.size() * sizeof(CellPoint)));
  EXPECT_EQ(list.CurrentBlock(), 1);
  EXPECT_EQ(list.Position(), 68);
  CellPoint last;
  list.SetPosition(1499 % 512);
  list.SelectBlock(1499 / 512);
  list.Read(&last, 20);
  EXPECT_EQ(last.color, 1499u);

  std::vector<uint32_t> ids = ReadAll(list);
  for (uint32_t i = 0; i < 1500; ++i) {
    uint32_t expected = (i >= 480 && i < 580) ? 90000 + (i - 480) : i;
    ASSERT_EQ(ids[i], expected) << i;
  }
}

TEST_F(OccupancyGridTest, CleanBlocksStayResidentAndAreNotRewritten) {
  OccupancyGrid grid;
  ASSERT_TRUE(grid.Init(1, 1, 1));
  PagedPointList& list = grid.List(0);
  for (uint32_t i = 0; i < 1100; ++i) list.Append(Record(i));
  ReadAll(list);  // reads blocks 0, 1, 2 in turn; nothing is dirty afterwards
  int64_t end = grid.SpillEnd();
  EXPECT_EQ(end, 1 + 3 * kBlockBytes);
  list.SelectBlock(0);
  EXPECT_TRUE(list.Block(1).IsResident());
  EXPECT_TRUE(list.Block(2).IsResident());
  EXPECT_EQ(grid.SpillEnd(), end);
  EXPECT_FALSE(grid.SwapOut(const_cast<PointBlock*>(&list.Block(1))));
}

TEST(OccupancyGridWithoutSpillFile, KeepsEverythingInMemory) {
  vorlin_test::TempDir dir;
  vorlin_test::ScopedTmpDir tmp((dir.path() / "missing").string());
  OccupancyGrid grid;
  EXPECT_FALSE(grid.Init(1, 1, 2));
  for (uint32_t i = 0; i < 2000; ++i) grid.List(int32_t(i % 2)).Append(Record(i));
  for (int32_t l = 0; l < 2; ++l) {
    std::vector<uint32_t> ids = ReadAll(grid.List(l));
    ASSERT_EQ(ids.size(), 1000u);
    for (uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(ids[i], 2 * i + uint32_t(l));
  }
}
