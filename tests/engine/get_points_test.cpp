#include <cstdio>
#include <future>

#include "engine/engine_test_support.h"
#include "platform/fault_injection.h"

using namespace engine_test;

namespace {

// Cells along z: file order and grid order agree.
qzv_test::TestFile Column(std::vector<uint32_t> counts, std::vector<float> lods) {
  qzv_test::TestFile f;
  f.nz = int32_t(counts.size());
  qzv_test::Populate(
      f, [&](int, int, int z) { return counts[size_t(z)]; }, [&](int, int, int z) { return lods[size_t(z)]; });
  return f;
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
      {{4, 100, 100}, {2, 1, 1}, 40, {4, 18, 18}},      // a short cell's surplus by LOD
      {{10, 3, 2, 2}, {1, 1, 1, 1}, 16, {9, 3, 2, 2}},  // in headroom order; the last absorbs it
      {{5, 6, 100}, {1, 1, 0}, 50, {5, 6, 39}},         // LOD 0 fed once the rest cannot cover
      {{1, 1, 30, 30}, {5, 5, 0, 0}, 50, {1, 1, 18, 30}},  // topped up, then whole cells
      {{3, 7, 2}, {0.5f, 9, 0.1f}, 1000, {3, 7, 2}},
      {{3, 7, 2}, {1, 1, 1}, 0, {0, 0, 0}},
      {{0, 25, 0}, {0, 0.001f, 0}, 10, {0, 10, 0}},  // a single visible cell
      {{0, 25, 3}, {0, 0, 0}, 10, {0, 0, 0}},        // LOD sum 0
      // Shortfalls handed on by LOD, rounded to the nearest record.
      {{3, 50, 50, 50, 50}, {3, 1, 1, 1, 1}, 60, {3, 15, 15, 15, 12}},
      {{2, 40, 40, 40}, {2, 1.5f, 1, 0.5f}, 50, {2, 24, 16, 8}},
      {{1, 2, 60, 60, 60}, {4, 4, 1, 1, 1}, 70, {1, 2, 22, 22, 23}},
  };
  for (const Case& c : cases) {
    Open(Column(c.counts, c.lods), 0);
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    std::vector<uint32_t> takes(c.counts.size(), 0);
    for (const CellPoint& p : Fetch(query.handle, c.bufferSize)) {
      const size_t k = size_t(qzv_test::TagCell(p));
      EXPECT_EQ(qzv_test::TagRecord(p), takes[k]++) << "leading records in order";
    }
    EXPECT_EQ(takes, c.takes) << "buffer " << c.bufferSize;
  }
}

// Preloaded or not, every version gives as many records as asked: the
// leading records of each cell, front of the file first, the same each time.
TEST_F(GetPointsTest, MemoryAndFileDeliverTheSameLeadingRecords) {
  uint32_t seed = 1;
  for (int version : {3, 4, 5}) {
    for (int round = 0; round < 2; ++round) {
      const qzv_test::TestFile f = RandomGrid(version, 3 + round, 2, 4 - round, ++seed);
      const uint32_t total = uint32_t(f.TotalPoints());
      for (int budget : {19, 997, int(total * 20), int(total * 60 + 1)}) {
        Open(f, budget);
        QvVorlin* fromFile = QvVorlin::create();
        ASSERT_TRUE(fromFile->open(path.c_str(), 0));
        Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
        for (uint32_t bufferSize : {1u, 17u, 250u, total, total + 40}) {
          SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(budget) + "/" + std::to_string(bufferSize));
          const std::vector<CellPoint> got = Fetch(query.handle, bufferSize);
          EXPECT_EQ(got.size(), std::min(bufferSize, total));
          EXPECT_TRUE(SameRecords(got, Fetch(query.handle, bufferSize, fromFile)));
          LeadingRecords{&file, {}}.Check(got.data(), got.size());
          for (size_t i = 1; i < got.size(); ++i)
            ASSERT_LE(qzv_test::TagCell(got[i - 1]), qzv_test::TagCell(got[i]));
        }
        QvVorlin::destroy(fromFile);
      }
    }
  }
}

// Each cell read alone, cells merged with their neighbours, or copied from a
// mapping of the file, in fetches mixing preloaded, clipped and whole cells:
// the same records in the same places.
TEST_F(GetPointsTest, EveryReadPathDeliversTheSameRecords) {
  using vorlin::platform::RangeReader;
  const std::pair<size_t, size_t> alone{0, 0}, paths[] = {
      {0, RangeReader::kDefaultMergeLimit}, {RangeReader::kDefaultMappedBudget, 0}};
  // Cells of up to 300 records lie closer than the merge limit.
  TestFilter mixed([](const double* box) { return int(box[0] * 7 + box[1]) % 3 == 0 ? 0 : 1; },
                   [](float x, float, float) { return int(x * 16) % 3 != 0; });
  uint32_t seed = 50;
  for (int version : {4, 5}) {
    const qzv_test::TestFile f = RandomGrid(version, 6, 5, 4, ++seed, 300);
    const uint32_t total = uint32_t(f.TotalPoints());
    for (int budget : {0, int(total * 4)}) {
      Open(f, budget);
      auto& reader = dynamic_cast<QvVorlinImp*>(engine)->ReaderForTesting();
      for (bool clip : {false, true}) {
        Released<IPointCloudQuery> query{engine->createQuery(&mixed, clip)};
        for (uint32_t bufferSize : {37u, total / 3, total}) {
          SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(budget) + "/" +
                       std::to_string(clip) + "/" + std::to_string(bufferSize));
          reader.SetLimits(alone.first, alone.second);
          const std::vector<CellPoint> expected = Fetch(query.handle, bufferSize);
          ASSERT_FALSE(expected.empty());
          if (!clip) LeadingRecords{&file, {}}.Check(expected.data(), expected.size());
          for (const auto& path : paths) {
            reader.SetLimits(path.first, path.second);
            // The mapping serves only cells a fetch has been to before.
            EXPECT_TRUE(SameRecords(Fetch(query.handle, bufferSize), expected));
            EXPECT_TRUE(SameRecords(Fetch(query.handle, bufferSize), expected));
          }
        }
      }
      reader.SetLimits(RangeReader::kDefaultMappedBudget, RangeReader::kDefaultMergeLimit);
    }
  }
}

// Every read of a fetch failing or coming short in turn: the fetch reports 0
// (or a batch stops), the lock is free again and nothing leaks.
TEST_F(GetPointsTest, EveryFailingReadIsContained) {
  // Narrow records are read cell by cell, wide ones in one batch: from the
  // mapping, or by merged reads.
  const std::pair<int, bool> setups[] = {{3, false}, {4, false}, {4, true}};
  for (const auto& setup : setups) {
    Open(RandomGrid(setup.first, 3, 2, 2, 31, 60), 400);
    if (setup.second)
      dynamic_cast<QvVorlinImp*>(engine)->ReaderForTesting().SetLimits(
          0, vorlin::platform::RangeReader::kDefaultMergeLimit);
    TestFilter partial = Verdict(0);
    Released<IPointCloudQuery> query{engine->createQuery(&partial, true)};
    Released<IPointCloudQuery> whole{engine->createQuery(nullptr, false)};
    const uint32_t total = uint32_t(file.TotalPoints());
    std::vector<CellPoint> buffer(total);
    for (bool shortRead : {false, true}) {
      for (uint64_t n = 1;; ++n) {
        vorlin::platform::ArmFault(vorlin::platform::kFaultRead, n, shortRead);
        const uint32_t got = engine->getPoints(whole.handle, buffer.data(), total);
        EXPECT_EQ(got, vorlin::platform::FaultTriggered() ? 0u : total);
        engine->getPoints(query.handle, buffer.data(), total);
        IPointSetData* set = nullptr;
        IPointCloudCursor* cursor = nullptr;
        for (uint32_t r = engine->createPointSet(query.handle, buffer.data(), 9, total, &set); r > 0;)
          r = engine->getPointSetPoints(query.handle, buffer.data(), 9, set);
        for (uint32_t r = engine->createCursor(whole.handle, buffer.data(), 9, &cursor); r > 0;)
          r = engine->getCursorPoints(whole.handle, buffer.data(), 9, cursor);
        const bool triggered = vorlin::platform::FaultTriggered();
        vorlin::platform::DisarmFault();
        if (set) set->release();
        if (cursor) cursor->release();
        if (!triggered) {
          printf("queries: %llu reads swept\n", (unsigned long long)(n - 1));
          break;
        }
      }
    }
    auto later = std::async(std::launch::async, [&] { return engine->getPoints(whole.handle, buffer.data(), total); });
    ASSERT_EQ(later.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(later.get(), total);
  }
}
