#include <map>
#include <set>
#include <utility>

#include "engine/engine_test_support.h"

using namespace engine_test;

namespace {

class BatchTest : public EngineTest {
 protected:
  // Nothing delivered twice; each cell's records arrive front to back.
  void ExpectEachRecordOnceInCellOrder(const std::vector<CellPoint>& all) {
    std::set<std::pair<int64_t, uint32_t>> seen;
    std::map<int64_t, uint32_t> next;
    for (const CellPoint& p : all) {
      const int64_t k = qzv_test::TagCell(p);
      EXPECT_TRUE(seen.insert({k, qzv_test::TagRecord(p)}).second) << "delivered twice";
      EXPECT_EQ(qzv_test::TagRecord(p), next[k]++) << "cell " << k << " skipped a record";
    }
  }
};

}  // namespace

TEST_F(BatchTest, PointSetBatchesResumeWhereTheLastEnded) {
  uint32_t seed = 100;
  for (int version : {3, 4}) {
    const qzv_test::TestFile f = RandomGrid(version, 3, 2, 3, ++seed);
    Open(f, 4000);
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    const std::vector<share_model::Cell> cells = share_model::VisibleCells(f, false);
    const uint64_t visible = share_model::PointSum(cells);
    std::map<uint32_t, std::vector<CellPoint>> asked;
    for (uint64_t pointCount : {visible / 3, visible, visible + 1000}) {
      for (uint32_t batch : {1u, 7u, 150u, uint32_t(visible + 10)}) {
        SCOPED_TRACE("version " + std::to_string(version) + " count " +
                     std::to_string(pointCount) + " batch " + std::to_string(batch));
        share_model::PointSetModel model(cells, pointCount);
        std::vector<CellPoint> buffer(batch);
        IPointSetData* set = nullptr;
        uint32_t n = engine->createPointSet(query.handle, buffer.data(), batch, pointCount, &set);
        ASSERT_NE(set, nullptr);
        Released<IPointSetData> owned{set};
        std::vector<CellPoint> all;
        for (int calls = 0; n > 0; ++calls) {
          ASSERT_LT(calls, 100000);
          const std::vector<share_model::Read> reads = model.Batch(batch);
          ASSERT_NO_FATAL_FAILURE(
              ExpectRecords({buffer.begin(), buffer.begin() + n}, reads));
          all.insert(all.end(), buffer.begin(), buffer.begin() + n);
          n = engine->getPointSetPoints(query.handle, buffer.data(), batch, set);
        }
        EXPECT_TRUE(model.Batch(batch).empty()) << "the set stopped early";
        EXPECT_EQ(engine->getPointSetPoints(query.handle, buffer.data(), batch, set), 0u);
        ExpectEachRecordOnceInCellOrder(all);
        // A count above the visible points aims at the visible points.
        if (pointCount == visible) asked[batch] = all;
        if (pointCount > visible) {
          EXPECT_EQ(all.size(), asked[batch].size());
        }
      }
    }
  }
}

TEST_F(BatchTest, CursorRefinesUntilTheCellsRunOut) {
  uint32_t seed = 200;
  for (int version : {3, 5}) {
    const qzv_test::TestFile f = RandomGrid(version, 2, 3, 3, ++seed);
    Open(f, 1500);
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    const std::vector<share_model::Cell> cells = share_model::VisibleCells(f, false);
    for (uint32_t batch : {1u, 13u, 200u}) {
      SCOPED_TRACE("version " + std::to_string(version) + " batch " + std::to_string(batch));
      share_model::CursorModel model(cells);
      std::vector<CellPoint> buffer(batch);
      IPointCloudCursor* cursor = nullptr;
      uint32_t n = engine->createCursor(query.handle, buffer.data(), batch, &cursor);
      ASSERT_NE(cursor, nullptr);
      Released<IPointCloudCursor> owned{cursor};
      std::vector<CellPoint> all;
      for (int calls = 0; n > 0; ++calls) {
        ASSERT_LT(calls, 100000);
        ASSERT_NO_FATAL_FAILURE(ExpectRecords({buffer.begin(), buffer.begin() + n}, model.Batch(batch)));
        all.insert(all.end(), buffer.begin(), buffer.begin() + n);
        n = engine->getCursorPoints(query.handle, buffer.data(), batch, cursor);
      }
      EXPECT_TRUE(model.Batch(batch).empty());
      ExpectEachRecordOnceInCellOrder(all);
    }
  }
}

TEST_F(BatchTest, CursorFigures) {
  // Equal LOD values: a full buffer per call until the cells run out.
  qzv_test::TestFile even;
  even.nx = 2;
  even.ny = 2;
  qzv_test::Populate(even, [](int, int, int) { return 100u; }, [](int, int, int) { return 1.0f; });
  Open(even, 0);
  Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
  std::vector<CellPoint> buffer(40);
  IPointCloudCursor* cursor = nullptr;
  std::vector<uint32_t> sizes{engine->createCursor(query.handle, buffer.data(), 40, &cursor)};
  Released<IPointCloudCursor> owned{cursor};
  while (sizes.back() > 0 && sizes.size() < 20)
    sizes.push_back(engine->getCursorPoints(query.handle, buffer.data(), 40, cursor));
  EXPECT_EQ(sizes, (std::vector<uint32_t>{40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 0}));

  // A cell exhausted early still uses up LOD in later calls, so the cell
  // after it is starved although it has records left.
  qzv_test::TestFile starved;
  starved.nx = 2;
  std::vector<uint32_t> counts{1, 100};
  qzv_test::Populate(
      starved, [&](int x, int, int) { return counts[size_t(x)]; },
      [](int, int, int) { return 1.0f; });
  Open(starved, 0);
  Released<IPointCloudQuery> query2{engine->createQuery(nullptr, false)};
  IPointCloudCursor* cursor2 = nullptr;
  EXPECT_EQ(engine->createCursor(query2.handle, buffer.data(), 10, &cursor2), 6u);
  Released<IPointCloudCursor> owned2{cursor2};
  EXPECT_EQ(engine->getCursorPoints(query2.handle, buffer.data(), 10, cursor2), 5u);
  EXPECT_EQ(engine->getCursorPoints(query2.handle, buffer.data(), 10, cursor2), 0u);
}

TEST_F(BatchTest, NothingVisibleOrForeignHandles) {
  qzv_test::TestFile f;
  f.nz = 2;
  qzv_test::Populate(f, [](int, int, int) { return 10u; }, [](int, int, int) { return 0.0f; });
  Open(f, 0);
  Released<IPointCloudQuery> flat{engine->createQuery(nullptr, false)};
  std::vector<CellPoint> buffer(50);
  IPointSetData* set = reinterpret_cast<IPointSetData*>(&buffer);
  IPointCloudCursor* cursor = reinterpret_cast<IPointCloudCursor*>(&buffer);
  EXPECT_EQ(engine->createPointSet(flat.handle, buffer.data(), 50, 100, &set), 0u);
  EXPECT_EQ(set, nullptr);
  EXPECT_EQ(engine->createCursor(flat.handle, buffer.data(), 50, &cursor), 0u);
  EXPECT_EQ(cursor, nullptr);

  Open(RandomGrid(4, 2, 2, 2, 5), 0);
  Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
  ASSERT_GT(engine->createPointSet(query.handle, buffer.data(), 5, 1000, &set), 0u);
  Released<IPointSetData> ownedSet{set};
  ASSERT_GT(engine->createCursor(query.handle, buffer.data(), 5, &cursor), 0u);
  Released<IPointCloudCursor> ownedCursor{cursor};
  EXPECT_EQ(engine->getPointSetPoints(query.handle, buffer.data(), 5, nullptr), 0u);
  EXPECT_EQ(engine->getPointSetPoints(query.handle, nullptr, 5, set), 0u);
  EXPECT_EQ(engine->getCursorPoints(query.handle, buffer.data(), 5, nullptr), 0u);
  EXPECT_EQ(engine->getPointSetPoints(query.handle, buffer.data(), 0, set), 0u);
  EXPECT_EQ(engine->getCursorPoints(query.handle, buffer.data(), 0, cursor), 0u);

  // Handles of a closed file or of another grid are refused.
  Open(RandomGrid(4, 3, 1, 2, 6), 0);
  EXPECT_EQ(engine->getPointSetPoints(query.handle, buffer.data(), 5, set), 0u);
  EXPECT_EQ(engine->getCursorPoints(query.handle, buffer.data(), 5, cursor), 0u);
  Released<IPointCloudQuery> other{engine->createQuery(nullptr, false)};
  EXPECT_EQ(engine->getCursorPoints(other.handle, buffer.data(), 5, cursor), 0u);
  engine->close();
  EXPECT_EQ(engine->getPointSetPoints(query.handle, buffer.data(), 5, set), 0u);
  EXPECT_EQ(engine->getCursorPoints(query.handle, buffer.data(), 5, cursor), 0u);
}
