#include "engine/cell_loader.h"
#include "engine/engine_test_support.h"

using namespace engine_test;

namespace {

class LoaderTest : public EngineTest {
 protected:
  // Every cell of the row has an entry with its first records, as many as want.
  void ExpectPreloaded(const std::vector<uint32_t>& want) {
    CellLoader& loader = dynamic_cast<QvVorlinImp*>(engine)->LoaderForTesting();
    CellLoaderLock lock(loader);
    for (int ix = 0; ix < file.nx; ++ix) {
      const CellLoader::Entry* entry = loader.Lookup(ix, 0, 0);
      ASSERT_NE(entry, nullptr);
      ASSERT_EQ(entry->count, want[size_t(ix)]) << ix;
      for (uint32_t j = 0; j < entry->count; ++j)
        ASSERT_TRUE(qzv_test::SameRecord(entry->records[j], file.records[size_t(ix)][j]));
    }
  }
};

}  // namespace

// Each cell keeps its share of the budget (20 bytes a record) by its share
// of the points, capped at its count.
TEST_F(LoaderTest, KeepsEachCellsShareOfTheBudget) {
  const std::vector<uint32_t> counts{150, 5, 845, 0};  // 1000 points
  const std::pair<int, std::vector<uint32_t>> cases[] = {
      {19, {0, 0, 0, 0}}, {2000, {15, 0, 84, 0}}, {20000, counts}, {60000, counts}};
  for (int version : {3, 4}) {
    qzv_test::TestFile f;
    f.version = version;
    f.nx = 4;
    qzv_test::Populate(f, [&](int x, int, int) { return counts[size_t(x)]; }, [](int, int, int) { return 1.0f; });
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(c.first));
      Open(f, c.first);
      ExpectPreloaded(c.second);
    }
  }
}

// A query while the loader runs sees finished entries or none, so its
// records are those of the file alone either way.
TEST_F(LoaderTest, QueriesDuringLoadingAreCorrect) {
  const qzv_test::TestFile f = RandomGrid(4, 8, 8, 4, 77, 400);
  Open(f, 0);
  Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
  std::vector<std::vector<CellPoint>> want;
  for (uint32_t bufferSize : {3000u, 500u, 20000u, 100000u}) want.push_back(Fetch(query.handle, bufferSize));
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(engine->open(path.c_str(), int(f.TotalPoints() * 10)));
    size_t i = 0;
    for (uint32_t bufferSize : {3000u, 500u, 20000u, 100000u})
      EXPECT_TRUE(SameRecords(Fetch(query.handle, bufferSize), want[i++]));
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
  CellLoader& loader = dynamic_cast<QvVorlinImp*>(engine)->LoaderForTesting();
  {
    CellLoaderLock lock(loader);
    const CellLoader::Entry* entry = loader.Lookup(15, 15, 7);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->count, f.records[size_t(f.FileIndex(15, 15, 7))].size()) << "whole budget: whole cells";
  }
  // Destroying an engine in the middle of loading ends its thread too.
  Open(f, INT32_MAX, false);
  QvVorlin::destroy(engine);
  engine = nullptr;
}
