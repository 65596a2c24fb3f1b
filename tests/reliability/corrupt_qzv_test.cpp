// A corpus of damaged files made from good small ones of every version: each
// is opened with and without preloading, and every fetch and the save run
// over it. Nothing may crash, hang or read outside the file, and every record
// delivered must be bytes of the file.

#include <limits.h>
#include <math.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "engine/engine_test_support.h"
#include "base/little_endian.h"

using namespace engine_test;
using vorlin::format::PutF32;
using vorlin::format::PutF64;
using vorlin::format::PutI32;
using vorlin::format::PutU32;
using vorlin::format::PutU64;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Damaged {
  std::string name;
  std::vector<uint8_t> bytes;
};

class CorruptFiles : public ::testing::Test {
 protected:
  void Add(const std::string& name, std::vector<uint8_t> bytes) { corpus.push_back({name, std::move(bytes)}); }

  void Build() {
    for (int version : {3, 4, 5}) {
      const qzv_test::TestFile f = RandomGrid(version, 3, 2, 2, 40 + uint32_t(version), 40);
      const std::vector<uint8_t> good = qzv_test::Serialize(f);
      const std::string v = "v" + std::to_string(version) + " ";
      const size_t dims = version <= 3 ? 79 : 91, cells = size_t(f.CellCount());  // dims: offset of nx
      const struct {
        size_t counts, offsets, lods, trailer;
      } t = {f.TablesOffset(), f.TablesOffset() + 4 * cells, f.TablesOffset() + 12 * cells, f.TablesOffset() + 16 * cells};
      auto patched = [&](const std::function<void(uint8_t*)>& patch) {
        std::vector<uint8_t> b = good;
        patch(b.data());
        return b;
      };

      // Cut at every byte of the header and tables, and inside the records.
      for (size_t cut = 0; cut <= f.FirstRecordOffset() + 1; ++cut)
        Add(v + "cut at " + std::to_string(cut), {good.begin(), good.begin() + ptrdiff_t(cut)});
      for (size_t cut : {good.size() - 1, good.size() - 20, good.size() / 2 + 3})
        Add(v + "records cut at " + std::to_string(cut), {good.begin(), good.begin() + ptrdiff_t(cut)});

      // A wrong version on an intact layout.
      for (int32_t claimed : {2, 3, 4, 5, 6, 0, -1, INT32_MIN})
        if (claimed != version)
          Add(v + "claims version " + std::to_string(claimed), patched([&](uint8_t* b) { PutI32(b + 3, claimed); }));

      // Absurd and zero dimensions.
      const std::vector<std::array<int32_t, 3>> sizes{
          {0, 2, 2},     {3, 0, 2},         {3, 2, 0},         {-3, -2, 2},      {INT32_MIN, 1, 1},
          {1, 1, INT32_MAX}, {65536, 65536, 1}, {1 << 20, 1 << 20, 1 << 20}, {2, 3, 2}, {12, 1, 1},
          {1, 1, 1},     {6, 2, 2}};
      for (const auto& n : sizes)
        Add(v + "dims " + std::to_string(n[0]) + "x" + std::to_string(n[1]) + "x" + std::to_string(n[2]),
            patched([&](uint8_t* b) {
              for (int a = 0; a < 3; ++a) PutI32(b + dims + 4 * size_t(a), n[size_t(a)]);
            }));

      // Bounds and cell sizes that are not numbers or make no box.
      for (double value : {kNaN, kInf, -kInf, 0.0, -4.0, 1e300, 1e-300}) {
        const std::string s = std::to_string(value);
        Add(v + "bounds min " + s, patched([&](uint8_t* b) { PutF64(b + dims - 72, value); }));
        Add(v + "bounds max " + s, patched([&](uint8_t* b) { PutF64(b + dims - 48, value); }));
        Add(v + "centre " + s, patched([&](uint8_t* b) { PutF64(b + dims - 24 + 16, value); }));
        if (version == 5) {
          Add(v + "first edge " + s, patched([&](uint8_t* b) { PutF64(b + dims + 12, value); }));
          Add(v + "every edge " + s, patched([&](uint8_t* b) {
                for (size_t i = 0; i < 7; ++i) PutF64(b + dims + 12 + 8 * i, value);
              }));
        } else {
          Add(v + "cell size " + s, patched([&](uint8_t* b) { PutF64(b + dims + 12, value); }));
        }
      }
      if (version == 5)
        Add(v + "edges descending", patched([&](uint8_t* b) {
              for (size_t i = 0; i < 7; ++i) PutF64(b + dims + 12 + 8 * i, 5000.0 - 100.0 * double(i));
            }));

      // Tables that point past the end, into the header or at each other.
      const uint64_t size = good.size(), first = f.FirstRecordOffset();
      const std::vector<std::pair<std::string, std::function<uint64_t(size_t)>>> offsets{
          {"all cells at the first record", [&](size_t) { return first; }},
          {"all cells at the end", [&](size_t) { return size; }},
          {"all cells straddle the end", [&](size_t) { return size - 7; }},
          {"cells in the header", [&](size_t k) { return uint64_t(k); }},
          {"cells at 2^63", [&](size_t k) { return (uint64_t(1) << 63) + k; }},
          {"cells reversed", [&](size_t k) { return size - 20 * (k + 1); }},
          {"cells one byte apart", [&](size_t k) { return first + k; }}};
      for (const auto& o : offsets)
        Add(v + o.first, patched([&](uint8_t* b) {
              for (size_t k = 0; k < cells; ++k) PutU64(b + t.offsets + 8 * k, o.second(k));
            }));
      for (uint32_t count : {0xFFFFFFFFu, 0x80000000u, 100000u})
        Add(v + "counts " + std::to_string(count), patched([&](uint8_t* b) {
              for (size_t k = 0; k < cells; k += 2) PutU32(b + t.counts + 4 * k, count);
            }));

      // Level-of-detail values that break the share arithmetic.
      for (float lod : {float(kNaN), float(kInf), -1.0f, 3e38f, 1e-45f})
        Add(v + "lods " + std::to_string(lod), patched([&](uint8_t* b) {
              for (size_t k = 0; k < cells; k += 3) PutF32(b + t.lods + 4 * k, lod);
            }));

      if (version > 3) {
        for (uint32_t flags : {0xFFFFFFFFu, 0x20u, 0u})
          Add(v + "flags " + std::to_string(flags), patched([&](uint8_t* b) { PutU32(b + t.trailer + 8, flags); }));
        Add(v + "units NaN", patched([&](uint8_t* b) { PutF64(b + t.trailer, kNaN); }));
      }
    }
  }

  // The record's stored bytes must appear somewhere in the file.
  void ExpectFromFile(const std::vector<uint8_t>& bytes, int version, const CellPoint* records, uint32_t n,
                      const std::string& what) {
    // Version-3 records come back with their intensity byte forced.
    const size_t width = version <= 3 ? 15 : 19;
    for (uint32_t i = 0; i < n; ++i) {
      if (isnan(records[i].x)) continue;  // filler of a batch, not a record
      uint8_t stored[20];
      memcpy(stored, &records[i], 20);
      const bool found = bytes.size() >= width &&
                         std::search(bytes.begin(), bytes.end(), stored, stored + width) != bytes.end();
      ASSERT_TRUE(found) << what << ": record " << i << " is not in the file";
    }
  }

  void Exercise(QvVorlin* engine, const Damaged& d, int budget) {
    const std::string what = d.name + " (budget " + std::to_string(budget) + ")";
    const std::string name = "damaged.qzv";
    ASSERT_TRUE(qzv_test::WriteBytes(dir.file(name), d.bytes));
    if (!engine->open(dir.wfile(name).c_str(), budget)) return;
    ++opened;
    unsigned version = 0, revision = 0;
    ASSERT_TRUE(engine->getVersion(version, revision)) << what;
    // Versions below 3 are read in the version-3 layout.
    ASSERT_LE(int(version), 5) << what;
    std::vector<CellPoint> buffer(4096);
    for (bool clip : {false, true}) {
      Released<IPointCloudQuery> query{engine->createQuery(nullptr, clip)};
      ASSERT_NE(query.handle, nullptr) << what;
      unsigned long long a = 0, b = 0;
      engine->getQueryCounts(query.handle, a, b);
      const int layout = int(version) < 3 ? 3 : int(version);
      uint32_t n = engine->getPoints(query.handle, buffer.data(), 4096);
      ExpectFromFile(d.bytes, layout, buffer.data(), n, what + " getPoints");
      IPointSetData* set = nullptr;
      n = engine->createPointSet(query.handle, buffer.data(), 97, 3000, &set);
      for (int i = 0; n > 0 && i < 1000; ++i, n = engine->getPointSetPoints(query.handle, buffer.data(), 97, set))
        ExpectFromFile(d.bytes, layout, buffer.data(), n, what + " point set");
      if (set) set->release();
      IPointCloudCursor* cursor = nullptr;
      n = engine->createCursor(query.handle, buffer.data(), 50, &cursor);
      for (int i = 0; n > 0 && i < 40; ++i, n = engine->getCursorPoints(query.handle, buffer.data(), 1 + i * 200, cursor))
        ExpectFromFile(d.bytes, layout, buffer.data(), n, what + " cursor");
      if (cursor) cursor->release();
    }
    const std::string copy = dir.file("copy.qzv");
    if (engine->saveAsVersion(dir.wfile("copy.qzv").c_str(), 3)) {
      ++saved;
      QvVorlin* reader = QvVorlin::create();
      EXPECT_TRUE(reader->open(dir.wfile("copy.qzv").c_str(), 0)) << what << ": its copy does not open";
      QvVorlin::destroy(reader);
      std::filesystem::remove(copy);
    } else {
      EXPECT_FALSE(std::filesystem::exists(copy)) << what << ": failed save left a file";
    }
    engine->close();
  }

  vorlin_test::TempDir dir;
  std::vector<Damaged> corpus;
  size_t opened = 0, saved = 0;
};

}  // namespace

TEST_F(CorruptFiles, OpenFetchAndSaveSurviveEveryDamage) {
  Build();
  QvVorlin* engine = QvVorlin::create();
  for (const Damaged& d : corpus) {
    for (int budget : {0, INT_MAX}) {
      Exercise(engine, d, budget);
      if (HasFatalFailure()) break;
    }
    if (HasFatalFailure()) break;
  }
  QvVorlin::destroy(engine);
  printf("%zu damaged files, %zu opens succeeded, %zu saved\n", corpus.size(), opened, saved);
}
