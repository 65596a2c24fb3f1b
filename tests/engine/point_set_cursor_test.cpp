#include "engine/engine_test_support.h"

using namespace engine_test;

namespace {

class BatchTest : public EngineTest {
 protected:
  // Runs a set or cursor to its end, checking every record; the batch sizes.
  template <typename First, typename Next>
  std::vector<uint32_t> Drain(uint32_t batch, First first, Next next) {
    std::vector<CellPoint> buffer(batch);
    LeadingRecords check{&file, {}};
    std::vector<uint32_t> sizes;
    for (uint32_t n = first(buffer.data()); n > 0 && sizes.size() < 100000; n = next(buffer.data())) {
      sizes.push_back(n);
      EXPECT_LE(n, batch);
      check.Check(buffer.data(), n);
      if (HasFatalFailure()) return sizes;
    }
    EXPECT_EQ(next(buffer.data()), 0u) << "a finished batch stays finished";
    return sizes;
  }
  std::vector<uint32_t> PointSet(uint32_t batch, uint64_t count) {
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    IPointSetData* set = nullptr;
    auto sizes = Drain(
        batch, [&](CellPoint* b) { return engine->createPointSet(query.handle, b, batch, count, &set); },
        [&](CellPoint* b) { return engine->getPointSetPoints(query.handle, b, batch, set); });
    if (set) set->release();
    return sizes;
  }
  std::vector<uint32_t> Cursor(uint32_t batch) {
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    IPointCloudCursor* cursor = nullptr;
    auto sizes = Drain(
        batch, [&](CellPoint* b) { return engine->createCursor(query.handle, b, batch, &cursor); },
        [&](CellPoint* b) { return engine->getCursorPoints(query.handle, b, batch, cursor); });
    if (cursor) cursor->release();
    return sizes;
  }
  // Cells along x with LOD 1 unless given.
  void OpenRow(std::vector<uint32_t> counts, std::vector<float> lods = {}) {
    qzv_test::TestFile f;
    f.nx = int32_t(counts.size());
    lods.resize(counts.size(), 1.0f);
    qzv_test::Populate(
        f, [&](int x, int, int) { return counts[size_t(x)]; }, [&](int x, int, int) { return lods[size_t(x)]; });
    Open(f, 0);
  }
};

uint64_t Sum(const std::vector<uint32_t>& sizes) {
  uint64_t n = 0;
  for (uint32_t s : sizes) n += s;
  return n;
}

}  // namespace

TEST_F(BatchTest, PointSetBatchesResumeWhereTheLastEnded) {
  uint32_t seed = 100;
  for (int version : {3, 4}) {
    Open(RandomGrid(version, 3, 2, 3, ++seed), 4000);
    const uint64_t visible = file.TotalPoints();
    for (uint32_t batch : {1u, 7u, 150u, uint32_t(visible + 10)}) {
      SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(batch));
      EXPECT_GT(Sum(PointSet(batch, visible / 3)), 0u);
      const uint64_t atVisible = Sum(PointSet(batch, visible));
      EXPECT_EQ(Sum(PointSet(batch, visible + 1000)), atVisible) << "aims at the visible points";
    }
  }
  // A short cell's shortfall goes to the cells after it. A full batch resumes
  // inside its cell, whose takings past its share are no longer charged.
  OpenRow({5, 100, 100}, {2, 1, 1});
  EXPECT_EQ(PointSet(40, 120), (std::vector<uint32_t>{40, 40, 40, 27}));
  EXPECT_EQ(PointSet(500, 120), (std::vector<uint32_t>{120}));
}

TEST_F(BatchTest, CursorRefinesUntilTheCellsRunOut) {
  uint32_t seed = 200;
  for (int version : {3, 5}) {
    Open(RandomGrid(version, 2, 3, 3, ++seed), 1500);
    for (uint32_t batch : {1u, 13u, 200u}) {
      SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(batch));
      EXPECT_LE(Sum(Cursor(batch)), file.TotalPoints());
    }
  }
  // Equal LOD values: a full buffer per call until the cells run out.
  OpenRow({100, 100, 100, 100});
  EXPECT_EQ(Cursor(40), (std::vector<uint32_t>(10, 40)));
  // An exhausted cell still uses up LOD, so the cell after it is starved.
  OpenRow({1, 100});
  EXPECT_EQ(Cursor(10), (std::vector<uint32_t>{6, 5}));
  OpenRow({30, 7, 50}, {1, 3, 0.5f});
  EXPECT_EQ(Cursor(16), (std::vector<uint32_t>{11, 6, 10, 11, 2}));
}

// Queries, sets and cursors of another grid, of no file or of nothing
// visible give nothing.
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
  EXPECT_EQ(engine->getPoints(nullptr, b.data(), 5), 0u);
  // Another grid, then no file: refused.
  Open(RandomGrid(4, 3, 1, 2, 6), 0);
  Released<IPointCloudQuery> other{engine->createQuery(nullptr, false)};
  EXPECT_EQ(engine->getPoints(query.handle, b.data(), 5), 0u);
  EXPECT_EQ(engine->getPointSetPoints(query.handle, b.data(), 5, set), 0u);
  EXPECT_EQ(engine->getCursorPoints(other.handle, b.data(), 5, cursor), 0u);
  engine->close();
  EXPECT_EQ(engine->getPoints(other.handle, b.data(), 5), 0u);
  EXPECT_EQ(engine->getPointSetPoints(query.handle, b.data(), 5, set), 0u);
  EXPECT_EQ(engine->getCursorPoints(query.handle, b.data(), 5, cursor), 0u);
}
