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
};

// A box filter that sees exactly one box.
class OneBoxFilter : public IPointCloudFilter {
 public:
  explicit OneBoxFilter(const double box[6]) { std::copy(box, box + 6, m_box); }
  virtual ~OneBoxFilter() = default;
  int classifyBox(double a, double b, double c, double d, double e, double f) override {
    const double box[6] = {a, b, c, d, e, f};
    return std::equal(box, box + 6, m_box) ? 1 : -1;
  }
  bool containsPoint(float, float, float) override { return true; }
  void prepareCell(const double*, const double*, const double*, const double*, const double*,
                   const double*, unsigned int) override {}
  IPointCloudFilter* clone() override { return new OneBoxFilter(m_box); }
  void release() override { delete this; }
  bool reservedQuery() override { return false; }
  void reservedNotify(unsigned int) override {}

 private:
  double m_box[6];
};

}  // namespace

TEST_F(OpenTest, NewEngineAnswersWithoutAFile) {
  unsigned version = 77, revision = 77;
  double a = 5, b = 5, c = 5, d = 5, e = 5, g = 5;
  EXPECT_FALSE(engine->isOpen());
  EXPECT_FALSE(engine->getVersion(version, revision));
  EXPECT_FALSE(engine->getCentre(a, b, c));
  EXPECT_FALSE(engine->getExtents(a, b, c, d, e, g));
  EXPECT_EQ(version, 77u);
  EXPECT_EQ(a, 5.0);
  EXPECT_EQ(engine->unitsToFeetFactor(), 0.0);
  EXPECT_EQ(engine->getFileName(), nullptr);
  EXPECT_EQ(engine->totalPointCount(), 0u);
  bool present = false;
  EXPECT_TRUE(engine->hasAttribute(L"rgb", present));
  EXPECT_TRUE(present);
  EXPECT_TRUE(engine->hasAttribute(L"Intensity", present));
  EXPECT_FALSE(present);
  present = true;
  EXPECT_FALSE(engine->hasAttribute(L"Colour", present));
  EXPECT_FALSE(present);
  EXPECT_FALSE(engine->hasAttribute(L"RGBA", present));
  EXPECT_TRUE(engine->setClipFilter(nullptr));
  EXPECT_EQ(engine->getClipFilter(), nullptr);
  engine->close();
  engine->close();
  QvVorlin::destroy(nullptr);
  // A query on an engine without a file sees no cell.
  Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
  std::vector<CellPoint> buffer(10);
  EXPECT_EQ(engine->getPoints(query.handle, buffer.data(), 10), 0u);
}

TEST_F(OpenTest, PropertiesOfOpenFiles) {
  qzv_test::TestFile v4 = RandomGrid(4, 2, 2, 2, 3);
  v4.revision = 12;
  v4.unitsFactor = 3.280839895013124;
  v4.flags = 0x15;
  Open(v4, 0);
  unsigned version = 0, revision = 0;
  EXPECT_TRUE(engine->getVersion(version, revision));
  EXPECT_EQ(version, 4u);
  EXPECT_EQ(revision, 12u);
  EXPECT_EQ(engine->unitsToFeetFactor(), 3.280839895013124);
  EXPECT_EQ(std::wstring(engine->getFileName()), path);
  EXPECT_EQ(engine->totalPointCount(), v4.TotalPoints());
  double c[3], lo[3], hi[3];
  EXPECT_TRUE(engine->getCentre(c[0], c[1], c[2]));
  EXPECT_TRUE(engine->getExtents(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]));
  for (int a = 0; a < 3; ++a) {
    EXPECT_EQ(c[a], v4.Centre(a));
    EXPECT_EQ(lo[a], v4.boundsMin[a]);
    EXPECT_EQ(hi[a], v4.BoundsMax(a));
  }
  const std::pair<const wchar_t*, bool> expected[] = {{L"RGB", true},
                                                      {L"intensity", false},
                                                      {L"NORMAL", true},
                                                      {L"NormalGenerated", false},
                                                      {L"customattribute", true}};
  for (const auto& attribute : expected) {
    bool present = !attribute.second;
    EXPECT_TRUE(engine->hasAttribute(attribute.first, present));
    EXPECT_EQ(present, attribute.second);
  }

  // Closing keeps the figures that need no file.
  engine->close();
  EXPECT_EQ(engine->totalPointCount(), v4.TotalPoints());
  EXPECT_FALSE(engine->getExtents(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]));
  EXPECT_EQ(engine->getFileName(), nullptr);

  // A version-3 file after one with every attribute: defaults again.
  v4.flags = 0x1F;
  Open(v4, 100);
  qzv_test::TestFile v3 = RandomGrid(3, 1, 2, 1, 4);
  v3.boundsMin[0] = v3.boundsMin[1] = v3.boundsMin[2] = -4.0;  // centre at the origin
  v3.cellSize = 4.0;
  v3.nx = v3.nz = 2;
  v3.ny = 2;
  qzv_test::Populate(v3, [](int, int, int) { return 3u; }, [](int, int, int) { return 1.0f; });
  Open(v3, 100);
  EXPECT_TRUE(engine->getVersion(version, revision));
  EXPECT_EQ(version, 3u);
  EXPECT_EQ(revision, 0u);
  EXPECT_EQ(engine->unitsToFeetFactor(), 0.0);
  bool present = false;
  EXPECT_TRUE(engine->hasAttribute(L"RGB", present));
  EXPECT_TRUE(present);
  EXPECT_TRUE(engine->hasAttribute(L"Normal", present));
  EXPECT_FALSE(present);
  c[0] = c[1] = c[2] = 9;
  EXPECT_FALSE(engine->getCentre(c[0], c[1], c[2])) << "a centre at the origin";
  EXPECT_EQ(c[0], 0.0);
  EXPECT_EQ(c[2], 0.0);
}

TEST_F(OpenTest, OpenStates) {
  EXPECT_FALSE(engine->open(dir.wfile("missing.qzv").c_str(), 100));
  EXPECT_FALSE(engine->isOpen());
  EXPECT_EQ(engine->getFileName(), nullptr);

  const std::wstring text = WriteRaw({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
  EXPECT_FALSE(engine->open(text.c_str(), 100));
  EXPECT_TRUE(engine->isOpen()) << "held without tables";
  EXPECT_EQ(std::wstring(engine->getFileName()), text);
  engine->close();
  EXPECT_FALSE(engine->isOpen());

  Open(RandomGrid(4, 1, 1, 2, 9), 0);
  EXPECT_TRUE(dynamic_cast<QvVorlinImp*>(engine)->IsPreloadFinished()) << "no loader at budget 0";
}

// Cell boxes follow the grid position: file table index k = 5 of a 2 x 3 x 4
// grid is cell (0, 1, 1), engine element 8.
TEST_F(OpenTest, FileOrderMapsToGridPositions) {
  for (int version : {4, 5}) {
    qzv_test::TestFile f = RandomGrid(version, 2, 3, 4, 11);
    qzv_test::Populate(f, [](int, int, int) { return 4u; }, [](int, int, int) { return 1.0f; });
    ASSERT_EQ(f.FileIndex(0, 1, 1), 5);
    ASSERT_EQ(f.EngineIndex(0, 1, 1), 8);
    Open(f, 0);
    const double box[6] = {f.LowerEdge(0, 0), f.LowerEdge(1, 1), f.LowerEdge(2, 1),
                           f.UpperEdge(0, 0), f.UpperEdge(1, 1), f.UpperEdge(2, 1)};
    OneBoxFilter only(box);
    Released<IPointCloudQuery> query{engine->createQuery(&only, false)};
    const std::vector<CellPoint> got = Fetch(query.handle, 100);
    ASSERT_EQ(got.size(), 4u);
    for (const CellPoint& p : got) EXPECT_EQ(qzv_test::TagCell(p), 5);
  }
}

// Damaged files: open refuses them or clamps their cells; nothing crashes,
// hangs, over-reads or allocates beyond the file.
TEST_F(OpenTest, DamagedFilesAreRefusedOrClamped) {
  qzv_test::TestFile base = RandomGrid(4, 2, 2, 2, 21);
  const std::vector<uint8_t> good = qzv_test::Serialize(base);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> refused;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> clamped;

  refused.push_back({"empty", {}});
  for (size_t cut : {2, 6, 50, 102, 110, 150, 200, 240})
    refused.push_back({"cut at " + std::to_string(cut), {good.begin(), good.begin() + ptrdiff_t(cut)}});
  auto patched = [&](const std::string& name, size_t at, int32_t value, bool refuse) {
    std::vector<uint8_t> bytes = good;
    vorlin::format::PutI32(&bytes[at], value);
    (refuse ? refused : clamped).push_back({name, bytes});
  };
  patched("version 6", 3, 6, true);
  patched("nx 0", 91, 0, true);
  patched("ny negative", 95, -2, true);
  patched("nz huge", 99, INT32_MAX, true);
  {
    std::vector<uint8_t> bytes = good;
    for (int d = 0; d < 3; ++d) vorlin::format::PutI32(&bytes[91 + 4 * d], INT32_MAX);
    refused.push_back({"product overflows", bytes});
    bytes = good;
    bytes[0] = 'q';
    bytes[1] = 'z';
    bytes[2] = 'v';
    refused.push_back({"lower-case magic", bytes});
  }
  {
    qzv_test::TestFile v5 = RandomGrid(5, 2, 2, 2, 22);
    std::vector<uint8_t> bytes = qzv_test::Serialize(v5);
    vorlin::format::PutI32(&bytes[91], 100000);  // edge arrays run past the end
    refused.push_back({"version-5 edges", bytes});
  }
  {
    qzv_test::TestFile f = base;
    f.countOverride.assign(8, 0xFFFFFFF0u);
    clamped.push_back({"counts past the end", qzv_test::Serialize(f)});
    f = base;
    f.offsetOverride.assign(8, UINT64_MAX - 3);
    f.offsetOverride[0] = qzv_test::FirstRecordOffset(f);
    clamped.push_back({"offsets past the end", qzv_test::Serialize(f)});
    std::vector<uint8_t> bytes = good;
    bytes.resize(bytes.size() - 77);
    clamped.push_back({"records cut short", bytes});
  }

  for (const auto& item : refused) {
    SCOPED_TRACE(item.first);
    const std::wstring name = WriteRaw(item.second);
    EXPECT_FALSE(engine->open(name.c_str(), INT_MAX));
    EXPECT_TRUE(engine->isOpen());
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
    std::vector<CellPoint> buffer(100);
    EXPECT_EQ(engine->getPoints(query.handle, buffer.data(), 100), 0u);
    IPointSetData* set = nullptr;
    EXPECT_EQ(engine->createPointSet(query.handle, buffer.data(), 100, 100, &set), 0u);
    EXPECT_EQ(set, nullptr);
    engine->close();
    EXPECT_FALSE(engine->isOpen());
  }
  for (const auto& item : clamped) {
    SCOPED_TRACE(item.first);
    const std::wstring name = WriteRaw(item.second);
    ASSERT_TRUE(engine->open(name.c_str(), INT_MAX));
    WaitForPreload();
    // Cells may overlap once clamped, but every record comes from the file.
    const uint64_t held = (item.second.size() - qzv_test::FirstRecordOffset(base)) / 20;
    EXPECT_LE(engine->totalPointCount(), 8 * held);
    Released<IPointCloudQuery> query{engine->createQuery(nullptr, true)};
    std::vector<CellPoint> buffer(5000);
    const uint32_t got = engine->getPoints(query.handle, buffer.data(), 5000);
    EXPECT_GT(got, 0u);
    for (uint32_t i = 0; i < got; ++i) {
      const int64_t k = qzv_test::TagCell(buffer[i]);
      ASSERT_LT(k, 8);
      ASSERT_LT(qzv_test::TagRecord(buffer[i]), base.records[size_t(k)].size());
    }
    IPointSetData* set = nullptr;
    uint32_t n = engine->createPointSet(query.handle, buffer.data(), 7, 5000, &set);
    for (int i = 0; n > 0 && i < 10000; ++i) n = engine->getPointSetPoints(query.handle, buffer.data(), 7, set);
    if (set) set->release();
    IPointCloudCursor* cursor = nullptr;
    n = engine->createCursor(query.handle, buffer.data(), 7, &cursor);
    for (int i = 0; n > 0 && i < 10000; ++i) n = engine->getCursorPoints(query.handle, buffer.data(), 7, cursor);
    if (cursor) cursor->release();
  }
}
