#include <unistd.h>

#include <future>
#include <map>

#include "engine/engine_test_support.h"

using namespace engine_test;

namespace {

// A column of cells along z (file order and grid order agree).
qzv_test::TestFile Column(int version, std::vector<uint32_t> counts, std::vector<float> lods) {
  qzv_test::TestFile f;
  f.version = version;
  f.nz = int32_t(counts.size());
  qzv_test::Populate(
      f, [&](int, int, int z) { return counts[size_t(z)]; },
      [&](int, int, int z) { return lods[size_t(z)]; });
  return f;
}

// Records delivered per cell; each cell's must be its leading records in order.
std::vector<uint32_t> TakesPerCell(const std::vector<CellPoint>& got, size_t cells) {
  std::vector<uint32_t> takes(cells, 0);
  for (const CellPoint& p : got) {
    const size_t k = size_t(qzv_test::TagCell(p));
    EXPECT_EQ(qzv_test::TagRecord(p), takes.at(k)) << "cell " << k << " out of order";
    ++takes[k];
  }
  return takes;
}

class GetPointsTest : public EngineTest {};

}  // namespace

TEST_F(GetPointsTest, SharesFollowLodValuesAndRedistributeShortfalls) {
  struct Case {
    std::vector<uint32_t> counts;
    std::vector<float> lods;
    uint32_t bufferSize;
    std::vector<uint32_t> takes;
  } cases[] = {
      // A short cell's surplus goes to the others by LOD value.
      {{4, 100, 100}, {2, 1, 1}, 40, {4, 18, 18}},
      // Several short cells in headroom order; the last one absorbs the rest.
      {{10, 3, 2, 2}, {1, 1, 1, 1}, 16, {9, 3, 2, 2}},
      // A cell of LOD 0 gets points only once the others cannot cover the budget.
      {{5, 6, 100}, {1, 1, 0}, 50, {5, 6, 39}},
      // Topped up, then every later cell is taken whole.
      {{1, 1, 30, 30}, {5, 5, 0, 0}, 50, {1, 1, 18, 30}},
      // Shares above the counts everywhere: everything, however the LOD is spread.
      {{3, 7, 2}, {0.5f, 9, 0.1f}, 1000, {3, 7, 2}},
      {{3, 7, 2}, {1, 1, 1}, 0, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    Open(Column(4, c.counts, c.lods), 0);
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    EXPECT_EQ(TakesPerCell(Fetch(query.handle, c.bufferSize), c.counts.size()), c.takes)
        << "buffer " << c.bufferSize;
  }
}

TEST_F(GetPointsTest, SingleVisibleCellAndZeroLodSum) {
  Open(Column(4, {0, 25, 0}, {0, 0.001f, 0}), 0);
  Released<IPointCloudQuery> query{engine->createQuery(nullptr, true)};
  EXPECT_EQ(Fetch(query.handle, 10).size(), 10u);
  EXPECT_EQ(Fetch(query.handle, 100).size(), 25u);

  Open(Column(4, {0, 25, 3}, {0, 0, 0}), 0);
  Released<IPointCloudQuery> flat{engine->createQuery(nullptr, true)};
  EXPECT_EQ(Fetch(flat.handle, 100).size(), 0u);
}

// Every version, every kind of preload: the records are the leading records
// of each cell, front of the file first, in the amounts the model gives.
TEST_F(GetPointsTest, DeliversLeadingRecordsFromMemoryAndFile) {
  uint32_t seed = 1;
  for (int version : {3, 4, 5}) {
    for (int round = 0; round < 3; ++round) {
      const qzv_test::TestFile f = RandomGrid(version, 3 + round, 2, 4 - round, ++seed);
      const uint64_t total = f.TotalPoints();
      const int fileBytes = int(total * 20);
      for (int budget : {0, 19, 997, fileBytes, fileBytes * 3 + 1}) {
        Open(f, budget);
        Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
        const std::vector<share_model::Cell> cells = share_model::VisibleCells(f, true);
        for (uint32_t bufferSize : {1u, 17u, 250u, uint32_t(total), uint32_t(total + 40)}) {
          SCOPED_TRACE("version " + std::to_string(version) + " budget " +
                       std::to_string(budget) + " buffer " + std::to_string(bufferSize));
          ExpectRecords(Fetch(query.handle, bufferSize),
                        share_model::OneShotReads(cells, bufferSize));
        }
      }
    }
  }
}

TEST_F(GetPointsTest, WidensVersion3Records) {
  Open(Column(3, {6}, {1}), 1000);
  Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
  for (const CellPoint& p : Fetch(query.handle, 6)) {
    EXPECT_EQ(p.color >> 24, 255u);
    EXPECT_EQ(p.normalIndex, 0);
    EXPECT_EQ(p.customAttribute, 0);
  }
}

TEST_F(GetPointsTest, ForeignOrStaleHandlesDeliverNothing) {
  Open(RandomGrid(4, 2, 2, 2, 7), 500);
  Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
  std::vector<CellPoint> buffer(5000);
  ASSERT_GT(engine->getPoints(query.handle, buffer.data(), 5000), 0u);

  QvVorlin* other = QvVorlin::create();
  ASSERT_TRUE(other->open(path.c_str(), 0));
  EXPECT_GT(other->getPoints(query.handle, buffer.data(), 5000), 0u) << "same grid is accepted";
  other->close();
  EXPECT_EQ(other->getPoints(query.handle, buffer.data(), 5000), 0u);
  QvVorlin::destroy(other);

  Open(RandomGrid(4, 3, 2, 2, 8), 500);  // another grid
  EXPECT_EQ(engine->getPoints(query.handle, buffer.data(), 5000), 0u);
  engine->close();
  EXPECT_EQ(engine->getPoints(query.handle, buffer.data(), 5000), 0u);
  EXPECT_EQ(engine->getPoints(nullptr, buffer.data(), 5000), 0u);
  unsigned long long first = 1, second = 1;
  EXPECT_FALSE(engine->getQueryCounts(nullptr, first, second));
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(second, 0u);
}

TEST_F(GetPointsTest, ShortReadFailsAndFreesTheLock) {
  qzv_test::TestFile f = Column(4, {50, 50}, {1, 1});
  Open(f, 100);
  Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
  // Cut the file under the open engine: the second cell keeps 10 records.
  ASSERT_EQ(truncate(dir.file("cloud1.qzv").c_str(),
                     off_t(qzv_test::FirstRecordOffset(f) + 60 * 20)), 0);
  std::vector<CellPoint> buffer(100);
  EXPECT_EQ(engine->getPoints(query.handle, buffer.data(), 100), 0u);
  // The lock is recursive, so only another thread would notice it still held.
  auto later = std::async(std::launch::async, [&] {
    return engine->getPoints(query.handle, buffer.data(), 20);
  });
  ASSERT_EQ(later.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(later.get(), 20u);
}
