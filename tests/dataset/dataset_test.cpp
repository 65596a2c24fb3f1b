#include <gtest/gtest.h>

#include <math.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dataset/catalog.h"
#include "dataset/json_value.h"
#include "support/temp_dir.h"
#include "synth/synth.h"
#include "vorlin/vorlin.h"

using namespace Zelvane::Vorlin;
using vorlin::dataset::Catalog;
using vorlin::dataset::JsonValue;

namespace {

bool ParseCatalog(const std::string& text, Catalog& catalog, std::string& error) {
  JsonValue doc;
  if (!vorlin::dataset::ParseJson(text, doc, error)) return false;
  return vorlin::dataset::ReadCatalogDocument(doc, catalog, error);
}

std::string TileJson(const std::string& name, const std::string& file, uint64_t points,
                     const std::string& bounds = "[0, 0, 0, 1, 1, 1]") {
  return "{\"name\": \"" + name + "\", \"file\": \"" + file + "\", \"points\": " +
         std::to_string(points) + ", \"bounds\": " + bounds +
         ", \"attributes\": [\"RGB\"], \"georeferencing\": \"\"}";
}

std::string CatalogJson(const std::vector<std::string>& tiles, uint64_t points) {
  std::string list;
  for (const std::string& t : tiles) list += (list.empty() ? "" : ", ") + t;
  return "{\"format\": \"vorlin-dataset\", \"version\": 1, \"tiles\": [" + list +
         "], \"totals\": {\"tiles\": " + std::to_string(tiles.size()) +
         ", \"points\": " + std::to_string(points) + "}}";
}

}  // namespace

TEST(JsonReader, RefusesWhatIsNotStrictJson) {
  JsonValue v;
  std::string error;
  for (const char* bad : {"", "{", "[1,]", "{\"a\":1,}", "{\"a\":1 \"b\":2}", "{\"a\":1,\"a\":2}",
                          "01", "1.", "\"\\x\"", "\"\\ud800\"", "nul", "[1] 2", "1e999",
                          "\"tab\there\""}) {
    EXPECT_FALSE(vorlin::dataset::ParseJson(bad, v, error)) << bad;
    EXPECT_NE(error.find("at byte"), std::string::npos) << bad;
  }
  EXPECT_FALSE(vorlin::dataset::ParseJson(std::string(100, '[') + std::string(100, ']'), v, error));
  ASSERT_TRUE(vorlin::dataset::ParseJson("{\"s\": \"a\\u00e9\\ud83d\\ude00\", \"n\": [-1.5e2, true, null]}",
                                         v, error)) << error;
  EXPECT_EQ(v.Find("s")->text, "a\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(v.Find("n")->items[0].number, -150.0);
}

TEST(Catalog, FrameErrorsFailTheCatalogAndBadEntriesOnlyTheirTile) {
  Catalog c;
  std::string error;
  EXPECT_FALSE(ParseCatalog("{\"format\": \"other\", \"version\": 1}", c, error));
  EXPECT_FALSE(ParseCatalog("{\"format\": \"vorlin-dataset\", \"version\": 2, \"tiles\": [], "
                            "\"totals\": {\"tiles\": 0, \"points\": 0}}", c, error));
  EXPECT_FALSE(ParseCatalog(CatalogJson({TileJson("a", "a.qzv", 5)}, 6), c, error));
  EXPECT_NE(error.find("totals"), std::string::npos);

  const std::string good = TileJson("good", "tiles/good.qzv", 5, "[0, 0, 0, 2, 2, 2]");
  const std::string escapes = TileJson("escapes", "../x.qzv", 1);
  const std::string absolute = TileJson("absolute", "/etc/x.qzv", 1);
  const std::string inverted = TileJson("inverted", "i.qzv", 1, "[1, 0, 0, 0, 1, 1]");
  const std::string noCount = "{\"name\": \"nocount\", \"file\": \"n.qzv\", \"bounds\": [0,0,0,1,1,1], \"attributes\": []}";
  ASSERT_TRUE(ParseCatalog(CatalogJson({good, escapes, absolute, inverted, noCount, "[]"}, 8), c, error))
      << error;
  ASSERT_EQ(c.tiles.size(), 6u);
  EXPECT_TRUE(c.tiles[0].problem.empty());
  for (size_t i = 1; i < 6; ++i) EXPECT_FALSE(c.tiles[i].problem.empty()) << c.tiles[i].name;
  EXPECT_EQ(c.tiles[5].name, "#5");
  EXPECT_EQ(c.points, 5u);  // the usable tiles only
  EXPECT_EQ(c.bounds[3], 2.0);
}

TEST(Catalog, BudgetSplitIsProportionalCappedAndExact) {
  using vorlin::dataset::SplitBudget;
  EXPECT_EQ(SplitBudget({300, 100}, 100), (std::vector<uint64_t>{75, 25}));
  EXPECT_EQ(SplitBudget({300, 100}, 1000), (std::vector<uint64_t>{300, 100}));
  EXPECT_EQ(SplitBudget({0, 0}, 10), (std::vector<uint64_t>{0, 0}));
  const std::vector<uint64_t> s = SplitBudget({1, 1, 1}, 2);
  EXPECT_EQ(s[0] + s[1] + s[2], 2u);
  const std::vector<uint64_t> big = SplitBudget({7, 1000000, 13, 999}, 12345);
  uint64_t sum = 0;
  for (size_t i = 0; i < big.size(); ++i) sum += big[i];
  EXPECT_EQ(sum, 12345u);
  EXPECT_LE(big[0], 7u);
}

// Two generated tiles read through the dataset: counts, the budget split,
// a cursor that drains every point, the open-tile bound, and a damaged tile
// named at query time while the other is served.
TEST(Dataset, AnswersOverTilesAndNamesADamagedOne) {
  vorlin_test::TempDir dir;
  const std::filesystem::path root = dir.path();
  std::filesystem::create_directories(root / "tiles");
  const uint64_t counts[2] = {6000, 2000};
  std::vector<std::string> entries;
  for (int i = 0; i < 2; ++i) {
    synth::SceneOptions scene;
    scene.points = counts[i];
    scene.seed = uint32_t(i + 1);
    const std::string las = (root / ("t" + std::to_string(i) + ".las")).string();
    const std::string qzv = (root / "tiles" / ("t" + std::to_string(i) + ".qzv")).string();
    ASSERT_TRUE(synth::WriteSceneLas(las, scene));
    const std::wstring wlas(las.begin(), las.end()), wqzv(qzv.begin(), qzv.end());
    ASSERT_EQ(QvVorlin::import(wlas.c_str(), wqzv.c_str(), nullptr, AttributeAll), Ok);
    QvVorlin* e = QvVorlin::create();
    ASSERT_TRUE(e->open(wqzv.c_str(), 0));
    double b[6];
    e->getExtents(b[0], b[1], b[2], b[3], b[4], b[5]);
    char bounds[512];
    snprintf(bounds, sizeof bounds, "[%.17g, %.17g, %.17g, %.17g, %.17g, %.17g]", b[0], b[1], b[2],
             b[3], b[4], b[5]);
    entries.push_back(TileJson("t" + std::to_string(i), "tiles/t" + std::to_string(i) + ".qzv",
                               e->totalPointCount(), bounds));
    QvVorlin::destroy(e);
  }
  const std::string catalog = (root / "catalog.json").string();
  std::ofstream(catalog) << CatalogJson(entries, counts[0] + counts[1]);
  const std::wstring wcatalog(catalog.begin(), catalog.end());

  VorlinDataset* d = VorlinDataset::createDataset(1);
  ASSERT_TRUE(d->open(wcatalog.c_str(), 1 << 20));
  EXPECT_EQ(d->openTileCount(), 0u);  // nothing read before a query needs it
  EXPECT_EQ(d->totalPointCount(), 8000u);
  IPointCloudQuery* q = d->createQuery(nullptr, false);
  unsigned long long first = 0, second = 0;
  EXPECT_TRUE(d->getQueryCounts(q, first, second));
  EXPECT_EQ(first, 8000u);
  std::vector<CellPoint> buffer(10000);
  EXPECT_EQ(d->getPoints(q, buffer.data(), 1000), 1000u);
  EXPECT_EQ(d->getPoints(q, buffer.data(), 10000), 8000u);
  EXPECT_LE(d->openTileCount(), 1u);

  // Small batches may leave each cell's last rounding behind, as one
  // engine's cursor does; batches larger than the tiles drain everything.
  // Two tiles at once: one can run dry while the other still gives (and
  // each tile's half of a small batch leaves more rounding behind).
  VorlinDataset* both = VorlinDataset::createDataset(2);
  ASSERT_TRUE(both->open(wcatalog.c_str(), 0));
  IPointCloudQuery* bothQuery = both->createQuery(nullptr, false);
  for (VorlinDataset* set : {d, both}) {
    IPointCloudQuery* query = set == d ? q : bothQuery;
    for (unsigned batch : {5u, 700u, 10000u}) {
      IPointCloudCursor* cursor = nullptr;
      uint64_t drained = set->createCursor(query, buffer.data(), batch, &cursor);
      ASSERT_NE(cursor, nullptr);
      for (unsigned got; (got = set->getCursorPoints(query, buffer.data(), batch, cursor)) > 0;) {
        drained += got;
      }
      cursor->release();
      EXPECT_LE(drained, 8000u);
      EXPECT_GE(drained, batch < 8000 ? 7000u : 8000u);
    }
  }
  bothQuery->release();
  both->release();
  EXPECT_LE(d->openTileCount(), 1u);
  q->release();

  // Damage the second tile: the dataset keeps serving the first one.
  d->close();
  std::filesystem::resize_file(root / "tiles" / "t1.qzv", 100);
  ASSERT_TRUE(d->open(wcatalog.c_str(), 0));
  q = d->createQuery(nullptr, false);
  EXPECT_EQ(d->getPoints(q, buffer.data(), 10000), 6000u);
  ASSERT_EQ(d->failedTileCount(), 1u);
  const char* name = nullptr;
  const char* reason = nullptr;
  ASSERT_TRUE(d->failedTile(0, &name, &reason));
  EXPECT_STREQ(name, "t1");
  q->release();
  d->release();

  VorlinDataset* bad = VorlinDataset::createDataset(4);
  std::ofstream(catalog) << "{\"format\": \"vorlin-dataset\", \"version\": 1, \"tiles\": [";
  EXPECT_FALSE(bad->open(wcatalog.c_str(), 0));
  EXPECT_NE(std::string(bad->catalogError()).find("JSON"), std::string::npos);
  bad->release();
}
