#include <future>

#include "engine/cell_loader.h"
#include "engine/engine_test_support.h"

using namespace engine_test;

namespace {

class LoaderTest : public EngineTest {
 protected:
  // Every cell has an entry with its first m records, m its share of the
  // budget by its share of the points, capped at its count.
  void ExpectPreloaded(int budget) {
    CellLoader& loader = dynamic_cast<QvVorlinImp*>(engine)->LoaderForTesting();
    CellLoaderLock lock(loader);
    const double records = budget / 20.0, total = double(file.TotalPoints());
    for (int ix = 0; ix < file.nx; ++ix)
      for (int iy = 0; iy < file.ny; ++iy)
        for (int iz = 0; iz < file.nz; ++iz) {
          const auto& cell = file.records[size_t(file.FileIndex(ix, iy, iz))];
          const CellLoader::Entry* entry = loader.Lookup(ix, iy, iz);
          ASSERT_NE(entry, nullptr);
          const uint32_t m = uint32_t(std::min(double(cell.size()), double(cell.size()) * records / total));
          ASSERT_EQ(entry->count, m);
          for (uint32_t j = 0; j < m; ++j) ASSERT_TRUE(qzv_test::SameRecord(entry->records[j], cell[j]));
        }
  }
};

}  // namespace

TEST_F(LoaderTest, KeepsEachCellsShareOfTheBudget) {
  for (int version : {3, 4}) {
    qzv_test::TestFile f;
    f.version = version;
    f.nx = 4;
    std::vector<uint32_t> counts{150, 5, 845, 0};  // 1000 points
    qzv_test::Populate(f, [&](int x, int, int) { return counts[size_t(x)]; }, [](int, int, int) { return 1.0f; });
    for (int budget : {19, 2000, 20000, 60000}) {
      SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(budget));
      Open(f, budget);
      ExpectPreloaded(budget);
    }
  }
}

// A query while the loader runs sees finished entries or none, so its
// records are right either way.
TEST_F(LoaderTest, QueriesDuringLoadingAreCorrect) {
  const qzv_test::TestFile f = RandomGrid(4, 8, 8, 4, 77, 400);
  const auto cells = share_model::VisibleCells(f, true);
  for (int round = 0; round < 3; ++round) {
    Open(f, int(f.TotalPoints() * 10), false);
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    for (uint32_t bufferSize : {3000u, 500u, 20000u, 100000u})
      ExpectRecords(Fetch(query.handle, bufferSize), share_model::OneShotReads(cells, bufferSize));
  }
}

TEST_F(LoaderTest, CloseDuringLoadingIsPromptAndReopenLoadsAgain) {
  const qzv_test::TestFile f = RandomGrid(4, 16, 16, 8, 78, 200);
  const int budget = int(f.TotalPoints() * 20);
  Open(f, budget, false);
  const auto start = std::chrono::steady_clock::now();
  engine->close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_TRUE(engine->open(path.c_str(), budget));
  WaitForPreload();
  ExpectPreloaded(budget);
  // Destroying an engine in the middle of loading ends its thread too.
  Open(f, INT32_MAX, false);
  QvVorlin::destroy(engine);
  engine = nullptr;
}
