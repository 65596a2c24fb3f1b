#include <limits.h>

#include "engine/engine_test_support.h"
#include "format/little_endian.h"

using namespace engine_test;

namespace {

class OpenTest : public EngineTest {
 protected:
  void SetUp() override { engine = QvVorlin::create(); }
  std::wstring WriteRaw(const std::vector<uint8_t>& bytes) {
    const std::string name = "raw" + std::to_string(++fileNumber) + ".qzv";
    EXPECT_TRUE(qzv_test::WriteBytes(dir.file(name), bytes));
    return dir.wfile(name);
  }
  bool Present(const wchar_t* name) {
    bool present = false;
    EXPECT_TRUE(engine->hasAttribute(name, present)) << "known name";
    return present;
  }
};

}  // namespace

TEST_F(OpenTest, NewEngineAnswersWithoutAFile) {
  unsigned version = 77, revision = 77;
  double x = 5, y = 5, z = 5;
  EXPECT_FALSE(engine->isOpen() || engine->getVersion(version, revision) ||
               engine->getCentre(x, y, z) || engine->getExtents(x, y, z, x, y, z));
  EXPECT_TRUE(version == 77 && x == 5.0);
  EXPECT_TRUE(engine->getFileName() == nullptr && engine->totalPointCount() == 0);
  EXPECT_TRUE(Present(L"rgb") && !Present(L"Intensity"));
  bool present = true;
  EXPECT_FALSE(engine->hasAttribute(L"RGBA", present));
  EXPECT_FALSE(present);
  EXPECT_TRUE(engine->setClipFilter(nullptr));
  engine->close();
  QvVorlin::destroy(nullptr);
  Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
  EXPECT_TRUE(Fetch(query.handle, 10).empty());
}

TEST_F(OpenTest, PropertiesFollowTheOpenFile) {
  qzv_test::TestFile v4 = RandomGrid(4, 2, 2, 2, 3);
  v4.revision = 12;
  v4.unitsFactor = 3.280839895013124;
  v4.flags = 0x15;
  Open(v4, 0);
  unsigned version = 0, revision = 0;
  EXPECT_TRUE(engine->getVersion(version, revision));
  EXPECT_EQ(version * 100 + revision, 412u);
  EXPECT_EQ(engine->unitsToFeetFactor(), 3.280839895013124);
  EXPECT_EQ(std::wstring(engine->getFileName()), path);
  EXPECT_EQ(engine->totalPointCount(), v4.TotalPoints());
  double c[3], lo[3], hi[3];
  EXPECT_TRUE(engine->getCentre(c[0], c[1], c[2]));
  EXPECT_TRUE(engine->getExtents(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]));
  for (int a = 0; a < 3; ++a) EXPECT_EQ(c[a] + lo[a] + hi[a], v4.Centre(a) + v4.boundsMin[a] + v4.BoundsMax(a));
  EXPECT_TRUE(Present(L"RGB") && !Present(L"intensity") && Present(L"NORMAL") &&
              !Present(L"NormalGenerated") && Present(L"customattribute"));
  engine->close();
  EXPECT_EQ(engine->totalPointCount(), v4.TotalPoints()) << "kept after close";
  EXPECT_FALSE(engine->getExtents(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]));

  // A version-3 file after one with every attribute: defaults again.
  v4.flags = 0x1F;
  Open(v4, 100);
  qzv_test::TestFile v3;
  v3.version = 3;
  v3.nx = v3.ny = v3.nz = 2;
  v3.boundsMin[0] = v3.boundsMin[1] = v3.boundsMin[2] = -4.0;  // centre at the origin
  v3.cellSize = 4.0;
  qzv_test::Populate(v3, [](int, int, int) { return 3u; }, [](int, int, int) { return 1.0f; });
  Open(v3, 100);
  EXPECT_TRUE(engine->getVersion(version, revision));
  EXPECT_EQ(version * 100 + revision, 300u);
  EXPECT_EQ(engine->unitsToFeetFactor(), 0.0);
  EXPECT_TRUE(Present(L"RGB") && !Present(L"Normal"));
  c[0] = c[2] = 9;
  EXPECT_FALSE(engine->getCentre(c[0], c[1], c[2])) << "a centre at the origin";
  EXPECT_EQ(c[0] + c[2], 0.0);
}

TEST_F(OpenTest, OpenStates) {
  EXPECT_FALSE(engine->open(dir.wfile("missing.qzv").c_str(), 100));
  EXPECT_FALSE(engine->isOpen());
  const std::wstring text = WriteRaw({'h', 'e', 'l', 'l', 'o'});
  EXPECT_FALSE(engine->open(text.c_str(), 100));
  EXPECT_TRUE(engine->isOpen()) << "held without tables";
  EXPECT_EQ(std::wstring(engine->getFileName()), text);
  engine->close();
  EXPECT_FALSE(engine->isOpen());
  Open(RandomGrid(4, 1, 1, 2, 9), 0);
  EXPECT_TRUE(dynamic_cast<QvVorlinImp*>(engine)->IsPreloadFinished()) << "no loader at budget 0";
}

// File table index 5 of a 2 x 3 x 4 grid is cell (0, 1, 1): a filter that
// sees only that cell's box must get that cell's records.
TEST_F(OpenTest, FileOrderMapsToGridPositions) {
  for (int version : {4, 5}) {
    qzv_test::TestFile f = RandomGrid(version, 2, 3, 4, 11);
    qzv_test::Populate(f, [](int, int, int) { return 4u; }, [](int, int, int) { return 1.0f; });
    Open(f, 0);
    const std::vector<double> box{f.LowerEdge(0, 0), f.LowerEdge(1, 1), f.LowerEdge(2, 1),
                                  f.UpperEdge(0, 0), f.UpperEdge(1, 1), f.UpperEdge(2, 1)};
    TestFilter only([&](const double* b) { return std::equal(b, b + 6, box.begin()) ? 1 : -1; },
                    [](float, float, float) { return true; });
    Released<IPointCloudQuery> query{engine->createQuery(&only, false)};
    const std::vector<CellPoint> got = Fetch(query.handle, 100);
    ASSERT_EQ(got.size(), 4u);
    for (const CellPoint& p : got) EXPECT_EQ(qzv_test::TagCell(p), 5);
  }
}

// Damaged files are refused or have their cells clamped: nothing crashes,
// hangs, reads outside the file or allocates beyond it.
TEST_F(OpenTest, DamagedFilesAreRefusedOrClamped) {
  const qzv_test::TestFile base = RandomGrid(4, 2, 2, 2, 21);
  const std::vector<uint8_t> good = qzv_test::Serialize(base);
  std::vector<std::vector<uint8_t>> refused{{}}, clamped;
  for (size_t cut : {2, 6, 50, 102, 110, 150, 200, 240}) refused.push_back({good.begin(), good.begin() + ptrdiff_t(cut)});
  auto patch = [&](std::vector<int32_t> values, size_t at) {
    std::vector<uint8_t> bytes = good;
    for (int32_t v : values) vorlin::format::PutI32(&bytes[at], v), at += 4;
    refused.push_back(bytes);
  };
  patch({6}, 3);  // version 6
  patch({0}, 91);
  patch({-2}, 95);
  patch({INT32_MAX}, 99);
  patch({INT32_MAX, INT32_MAX, INT32_MAX}, 91);
  patch({int32_t(0x76727a71)}, 0);  // magic "qzv"
  qzv_test::TestFile f = RandomGrid(5, 2, 2, 2, 22);
  refused.push_back(qzv_test::Serialize(f));
  vorlin::format::PutI32(&refused.back()[91], 100000);  // edge arrays past the end
  f = base;
  f.countOverride.assign(8, 0xFFFFFFF0u);
  clamped.push_back(qzv_test::Serialize(f));
  f = base;
  f.offsetOverride.assign(8, UINT64_MAX - 3);
  f.offsetOverride[0] = f.FirstRecordOffset();
  clamped.push_back(qzv_test::Serialize(f));
  clamped.push_back({good.begin(), good.end() - 77});

  std::vector<CellPoint> buffer(5000);
  for (size_t i = 0; i < refused.size(); ++i) {
    EXPECT_FALSE(engine->open(WriteRaw(refused[i]).c_str(), INT_MAX)) << "refused #" << i;
    EXPECT_TRUE(engine->isOpen());
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    IPointSetData* set = nullptr;
    EXPECT_EQ(engine->createPointSet(query.handle, buffer.data(), 100, 100, &set), 0u);
    EXPECT_EQ(set, nullptr);
  }
  for (size_t i = 0; i < clamped.size(); ++i) {
    ASSERT_TRUE(engine->open(WriteRaw(clamped[i]).c_str(), INT_MAX)) << "clamped #" << i;
    WaitForPreload();
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, true)};
    // Clamped cells may overlap, but every record comes from the file.
    const uint32_t got = engine->getPoints(query.handle, buffer.data(), 5000);
    EXPECT_GT(got, 0u);
    for (uint32_t r = 0; r < got; ++r) {
      const int64_t k = qzv_test::TagCell(buffer[r]);
      ASSERT_TRUE(k < 8 && qzv_test::TagRecord(buffer[r]) < base.records[size_t(k)].size());
    }
    IPointSetData* set = nullptr;
    IPointCloudCursor* cursor = nullptr;
    uint32_t n = engine->createPointSet(query.handle, buffer.data(), 7, 5000, &set);
    for (int c = 0; n > 0 && c < 10000; ++c) n = engine->getPointSetPoints(query.handle, buffer.data(), 7, set);
    n = engine->createCursor(query.handle, buffer.data(), 7, &cursor);
    for (int c = 0; n > 0 && c < 10000; ++c) n = engine->getCursorPoints(query.handle, buffer.data(), 7, cursor);
    if (set) set->release();
    if (cursor) cursor->release();
  }
}
