#include <chrono>
#include <future>

#include "engine/cell_loader.h"
#include "engine/engine_test_support.h"

using namespace engine_test;
namespace platform = vorlin::platform;

namespace {

class CellLoaderTest : public ::testing::Test {
 protected:
  // Writes f, opens it and builds the engine's cell table (x fastest).
  void Prepare(const qzv_test::TestFile& f) {
    file = f;
    ASSERT_TRUE(qzv_test::Write(dir.file("c.qzv"), f));
    handle = platform::File::Open(dir.wfile("c.qzv").c_str(), platform::kAccessRead,
                                  platform::kShareRead, platform::Disposition::kOpenExisting);
    ASSERT_TRUE(handle.IsValid());
    cells.reset(new GridCell[size_t(f.CellCount())]);
    uint64_t offset = qzv_test::FirstRecordOffset(f);
    for (int ix = 0; ix < f.nx; ++ix)
      for (int iy = 0; iy < f.ny; ++iy)
        for (int iz = 0; iz < f.nz; ++iz) {
          const size_t k = size_t(f.FileIndex(ix, iy, iz));
          GridCell& cell = cells[size_t(f.EngineIndex(ix, iy, iz))];
          cell.offset = offset;
          cell.count = uint32_t(f.records[k].size());
          cell.lod = f.lods[k];
          offset += cell.count * f.RecordSize();
        }
  }

  void Run(CellLoader& loader, int budget) {
    ASSERT_TRUE(loader.SetUp(file.nx, file.ny, file.nz, budget));
    loader.Start(file.TotalPoints(), handle, cells.get(), file.version == 3);
    for (int i = 0; i < 20000 && !loader.IsFinished(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(loader.IsFinished());
  }

  // Every cell has an entry holding its first m records, m its share of the
  // budget (capped at the cell's count).
  void ExpectShares(CellLoader& loader, int budget) {
    const double budgetRecords = budget / 20.0, total = double(file.TotalPoints());
    CellLoaderLock lock(loader);
    for (int ix = 0; ix < file.nx; ++ix)
      for (int iy = 0; iy < file.ny; ++iy)
        for (int iz = 0; iz < file.nz; ++iz) {
          const auto& records = file.records[size_t(file.FileIndex(ix, iy, iz))];
          const CellLoader::Entry* entry = loader.Lookup(ix, iy, iz);
          ASSERT_NE(entry, nullptr);
          const uint32_t m = uint32_t(std::min(double(records.size()), double(records.size()) * budgetRecords / total));
          ASSERT_EQ(entry->count, m);
          for (uint32_t j = 0; j < m; ++j)
            ASSERT_TRUE(qzv_test::SameRecord(entry->records[j], records[j]));
        }
  }

  vorlin_test::TempDir dir;
  qzv_test::TestFile file;
  platform::File handle;
  std::unique_ptr<GridCell[]> cells;
};

qzv_test::TestFile Counts(int version, std::vector<uint32_t> counts) {
  qzv_test::TestFile f;
  f.version = version;
  f.nx = int32_t(counts.size());
  qzv_test::Populate(
      f, [&](int x, int, int) { return counts[size_t(x)]; }, [](int, int, int) { return 1.0f; });
  return f;
}

}  // namespace

TEST_F(CellLoaderTest, KeepsEachCellsShareOfTheBudget) {
  for (int version : {3, 4}) {
    SCOPED_TRACE(version);
    // 1000 points and room for 100 records: a tenth of every cell.
    Prepare(Counts(version, {150, 5, 845, 0}));
    for (int budget : {19, 2000, 20000, 20000 * 3}) {
      CellLoader loader;
      Run(loader, budget);
      ExpectShares(loader, budget);
    }
    CellLoader loader;
    ASSERT_TRUE(loader.SetUp(4, 1, 1, 2000));
    loader.Start(file.TotalPoints(), handle, cells.get(), version == 3);
    loader.Stop();
    EXPECT_FALSE(loader.IsActive());
    EXPECT_EQ(loader.Lookup(0, 0, 0), nullptr);
    loader.Stop();  // twice is harmless
  }
}

TEST_F(CellLoaderTest, OffBelowABudgetOfOne) {
  Prepare(Counts(4, {10, 10}));
  CellLoader loader;
  EXPECT_FALSE(loader.SetUp(2, 1, 1, 0));
  loader.Start(file.TotalPoints(), handle, cells.get(), false);
  loader.Lock();
  loader.Unlock();
  EXPECT_EQ(loader.Lookup(0, 0, 0), nullptr);
  EXPECT_FALSE(loader.SetUp(2, 1, 1, -5));
}

TEST_F(CellLoaderTest, BigBudgetOnAnEmptyFile) {
  Prepare(Counts(4, {0, 0, 0}));
  CellLoader loader;
  Run(loader, 1 << 30);
  CellLoaderLock lock(loader);
  for (int x = 0; x < 3; ++x) {
    ASSERT_NE(loader.Lookup(x, 0, 0), nullptr);
    EXPECT_EQ(loader.Lookup(x, 0, 0)->count, 0u);
  }
}

namespace {
class LoaderThreadTest : public EngineTest {};
}  // namespace

// Queries made while the loader runs see either a finished entry or none, so
// the records are right either way.
TEST_F(LoaderThreadTest, QueriesDuringLoadingAreCorrect) {
  const qzv_test::TestFile f = RandomGrid(4, 8, 8, 4, 77, 400);
  const int budget = int(f.TotalPoints() * 20 / 2);
  const auto cells = share_model::VisibleCells(f, true);
  for (int round = 0; round < 3; ++round) {
    Open(f, budget, false);
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    for (uint32_t bufferSize : {3000u, 500u, 20000u, 100000u})
      ExpectRecords(Fetch(query.handle, bufferSize), share_model::OneShotReads(cells, bufferSize));
  }
}

TEST_F(LoaderThreadTest, CloseDuringLoadingReturnsPromptlyAndReopenLoadsAgain) {
  const qzv_test::TestFile f = RandomGrid(4, 16, 16, 8, 78, 200);
  const int budget = int(f.TotalPoints() * 20);
  Open(f, budget, false);
  const auto start = std::chrono::steady_clock::now();
  engine->close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(engine->isOpen());

  ASSERT_TRUE(engine->open(path.c_str(), budget));
  WaitForPreload();
  CellLoader& loader = dynamic_cast<QvVorlinImp*>(engine)->LoaderForTesting();
  CellLoaderLock lock(loader);
  for (int ix = 0; ix < f.nx; ++ix)
    for (int iy = 0; iy < f.ny; ++iy)
      for (int iz = 0; iz < f.nz; ++iz) {
        const CellLoader::Entry* entry = loader.Lookup(ix, iy, iz);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->count, f.records[size_t(f.FileIndex(ix, iy, iz))].size());
      }
}

// Destroying an engine in the middle of loading ends the thread too.
TEST_F(LoaderThreadTest, DestroyWhileLoading) {
  const qzv_test::TestFile f = RandomGrid(3, 12, 12, 6, 79, 200);
  for (int i = 0; i < 3; ++i) {
    Open(f, INT32_MAX, false);
    QvVorlin::destroy(engine);
    engine = nullptr;
  }
}
