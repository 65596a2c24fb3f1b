#include <map>
#include <set>

#include "engine/engine_test_support.h"

using namespace engine_test;

namespace {

class BatchTest : public EngineTest {
 protected:
  // Runs a set or cursor to its end, checking every batch against the model.
  template <typename Model, typename First, typename Next>
  std::vector<CellPoint> Drain(Model& model, uint32_t batch, First first, Next next) {
    std::vector<CellPoint> buffer(batch), all;
    for (uint32_t n = first(buffer.data()), calls = 0; n > 0; n = next(buffer.data()), ++calls) {
      EXPECT_LT(calls, 100000u);
      ExpectRecords({buffer.begin(), buffer.begin() + n}, model.Batch(batch));
      if (HasFatalFailure()) return all;
      all.insert(all.end(), buffer.begin(), buffer.begin() + n);
    }
    EXPECT_TRUE(model.Batch(batch).empty()) << "stopped early";
    EXPECT_EQ(next(buffer.data()), 0u) << "a finished batch stays finished";
    // Nothing twice; each cell front to back.
    std::set<std::pair<int64_t, uint32_t>> seen;
    std::map<int64_t, uint32_t> next_;
    for (const CellPoint& p : all) {
      EXPECT_TRUE(seen.insert({qzv_test::TagCell(p), qzv_test::TagRecord(p)}).second);
      EXPECT_EQ(qzv_test::TagRecord(p), next_[qzv_test::TagCell(p)]++);
    }
    return all;
  }
};

}  // namespace

TEST_F(BatchTest, PointSetBatchesResumeWhereTheLastEnded) {
  uint32_t seed = 100;
  for (int version : {3, 4}) {
    Open(RandomGrid(version, 3, 2, 3, ++seed), 4000);
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    const auto cells = share_model::VisibleCells(file, false);
    const uint64_t visible = share_model::PointSum(cells);
    std::map<uint32_t, size_t> atVisible;
    for (uint64_t count : {visible / 3, visible, visible + 1000}) {
      for (uint32_t batch : {1u, 7u, 150u, uint32_t(visible + 10)}) {
        SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(count) + "/" + std::to_string(batch));
        share_model::PointSetModel model(cells, count);
        IPointSetData* set = nullptr;
        const auto all = Drain(
            model, batch,
            [&](CellPoint* b) { return engine->createPointSet(query.handle, b, batch, count, &set); },
            [&](CellPoint* b) { return engine->getPointSetPoints(query.handle, b, batch, set); });
        set->release();
        if (count == visible) atVisible[batch] = all.size();
        if (count > visible) {
          EXPECT_EQ(all.size(), atVisible[batch]) << "aims at the visible points";
        }
      }
    }
  }
}

TEST_F(BatchTest, CursorRefinesUntilTheCellsRunOut) {
  uint32_t seed = 200;
  for (int version : {3, 5}) {
    Open(RandomGrid(version, 2, 3, 3, ++seed), 1500);
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    for (uint32_t batch : {1u, 13u, 200u}) {
      SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(batch));
      share_model::CursorModel model(share_model::VisibleCells(file, false));
      IPointCloudCursor* cursor = nullptr;
      Drain(
          model, batch, [&](CellPoint* b) { return engine->createCursor(query.handle, b, batch, &cursor); },
          [&](CellPoint* b) { return engine->getCursorPoints(query.handle, b, batch, cursor); });
      cursor->release();
    }
  }
}

TEST_F(BatchTest, CursorFigures) {
  std::vector<uint32_t> sizes;
  auto run = [&](std::vector<uint32_t> counts, int ny, uint32_t batch) {
    qzv_test::TestFile f;
    f.nx = int32_t(counts.size());
    f.ny = ny;
    qzv_test::Populate(
        f, [&](int x, int, int) { return counts[size_t(x)]; }, [](int, int, int) { return 1.0f; });
    Open(f, 0);
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    std::vector<CellPoint> buffer(batch);
    IPointCloudCursor* cursor = nullptr;
    sizes = {engine->createCursor(query.handle, buffer.data(), batch, &cursor)};
    while (sizes.back() > 0 && sizes.size() < 20)
      sizes.push_back(engine->getCursorPoints(query.handle, buffer.data(), batch, cursor));
    cursor->release();
  };
  // Equal LOD values: a full buffer per call until the cells run out.
  run({100, 100}, 2, 40);
  EXPECT_EQ(sizes, (std::vector<uint32_t>{40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 0}));
  // An exhausted cell still uses up LOD, so the cell after it is starved.
  run({1, 100}, 1, 10);
  EXPECT_EQ(sizes, (std::vector<uint32_t>{6, 5, 0}));
}

TEST_F(BatchTest, NothingVisibleOrForeignHandles) {
  qzv_test::TestFile flat;
  flat.nz = 2;
  qzv_test::Populate(flat, [](int, int, int) { return 10u; }, [](int, int, int) { return 0.0f; });
  Open(flat, 0);
  Released<IPointCloudQuery> none{engine->createQuery(nullptr, false)};
  std::vector<CellPoint> b(50);
  IPointSetData* set = reinterpret_cast<IPointSetData*>(&b);
  IPointCloudCursor* cursor = reinterpret_cast<IPointCloudCursor*>(&b);
  EXPECT_EQ(engine->createPointSet(none.handle, b.data(), 50, 100, &set), 0u);
  EXPECT_EQ(engine->createCursor(none.handle, b.data(), 50, &cursor), 0u);
  EXPECT_EQ(set, nullptr);
  EXPECT_EQ(cursor, nullptr);

  Open(RandomGrid(4, 2, 2, 2, 5), 0);
  Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
  ASSERT_GT(engine->createPointSet(query.handle, b.data(), 5, 1000, &set), 0u);
  ASSERT_GT(engine->createCursor(query.handle, b.data(), 5, &cursor), 0u);
  Released<IPointSetData> ownedSet{set};
  Released<IPointCloudCursor> ownedCursor{cursor};
  EXPECT_EQ(engine->getPointSetPoints(query.handle, b.data(), 5, nullptr), 0u);
  EXPECT_EQ(engine->getPointSetPoints(query.handle, nullptr, 5, set), 0u);
  EXPECT_EQ(engine->getCursorPoints(query.handle, b.data(), 5, nullptr), 0u);
  EXPECT_EQ(engine->getPointSetPoints(query.handle, b.data(), 0, set), 0u);
  EXPECT_EQ(engine->getCursorPoints(query.handle, b.data(), 0, cursor), 0u);
  // Another grid, then no file: refused.
  Open(RandomGrid(4, 3, 1, 2, 6), 0);
  Released<IPointCloudQuery> other{engine->createQuery(nullptr, false)};
  EXPECT_EQ(engine->getPointSetPoints(query.handle, b.data(), 5, set), 0u);
  EXPECT_EQ(engine->getCursorPoints(other.handle, b.data(), 5, cursor), 0u);
  engine->close();
  EXPECT_EQ(engine->getPointSetPoints(query.handle, b.data(), 5, set), 0u);
  EXPECT_EQ(engine->getCursorPoints(query.handle, b.data(), 5, cursor), 0u);
}
