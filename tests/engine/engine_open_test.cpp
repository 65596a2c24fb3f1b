#include "engine/engine_test_support.h"

using namespace engine_test;

namespace {

class OpenTest : public EngineTest {
 protected:
  void SetUp() override { engine = QvVorlin::create(); }
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
  ASSERT_TRUE(qzv_test::WriteBytes(dir.file("text.qzv"), {'h', 'e', 'l', 'l', 'o'}));
  const std::wstring text = dir.wfile("text.qzv");
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
