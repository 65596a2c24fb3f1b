#include <math.h>

#include <memory>

#include "engine/engine_test_support.h"
#include "engine/point_cloud_query.h"
#include "engine/view_frustum_filter.h"

using namespace engine_test;
using Zelvane::Vorlin::VorlinViewFrustum;

namespace {

struct Seen {
  std::vector<std::array<float, 3>> points;
  int prepared = 0;
};

// A host filter with a fixed box verdict and a point test; clones report to
// the same log.
class RecordingFilter : public IPointCloudFilter {
 public:
  RecordingFilter(int verdict, std::function<bool(float, float, float)> accept,
                  std::shared_ptr<Seen> seen)
      : m_verdict(verdict), m_accept(std::move(accept)), m_seen(std::move(seen)) {}
  virtual ~RecordingFilter() = default;
  int classifyBox(double, double, double, double, double, double) override { return m_verdict; }
  bool containsPoint(float x, float y, float z) override {
    m_seen->points.push_back({x, y, z});
    return m_accept(x, y, z);
  }
  void prepareCell(const double*, const double*, const double*, const double*, const double*,
                   const double*, unsigned int) override {
    ++m_seen->prepared;
  }
  IPointCloudFilter* clone() override { return new RecordingFilter(*this); }
  void release() override { delete this; }
  bool reservedQuery() override { return false; }
  void reservedNotify(unsigned int) override {}

 private:
  int m_verdict;
  std::function<bool(float, float, float)> m_accept;
  std::shared_ptr<Seen> m_seen;
};

// x right, y up, looking along +z: the box [-1, 1] x [-1, 1] x [0, 10].
VorlinViewFrustum BoxFrustum(double x0, double x1, double y0, double y1, double z0, double z1) {
  VorlinViewFrustum f;
  f.setNearUpperRight(x1, y1, z0);
  f.setNearUpperLeft(x0, y1, z0);
  f.setNearLowerLeft(x0, y0, z0);
  f.setNearLowerRight(x1, y0, z0);
  f.setFarUpperRight(x1, y1, z1);
  f.setFarUpperLeft(x0, y1, z1);
  f.setFarLowerLeft(x0, y0, z1);
  f.setFarLowerRight(x1, y0, z1);
  return f;
}

void Release(IPointCloudFilter* f) { f->release(); }
using FilterPtr = std::unique_ptr<IPointCloudFilter, decltype(&Release)>;

class ClipTest : public EngineTest {};

}  // namespace

TEST(ViewFrustumFilterTest, ClassifiesBoxesAgainstInwardPlanes) {
  VorlinViewFrustum frustum = BoxFrustum(-1, 1, -1, 1, 0, 10);
  FilterPtr f(new ViewFrustumFilter(frustum, 0, 0, 0), Release);
  const double* left = static_cast<ViewFrustumFilter*>(f.get())->plane(ViewFrustumFilter::kLeft);
  EXPECT_DOUBLE_EQ(left[0], 1.0);
  EXPECT_DOUBLE_EQ(left[3], 1.0);
  EXPECT_EQ(f->classifyBox(-0.5, -0.5, 1, 0.5, 0.5, 2), 1);
  EXPECT_EQ(f->classifyBox(-1, -1, 1, 1, 1, 2), 1) << "corners on a plane count as inside";
  EXPECT_EQ(f->classifyBox(0.5, -0.5, 1, 1.5, 0.5, 2), 0);
  EXPECT_EQ(f->classifyBox(1.5, -0.5, 1, 2.5, 0.5, 2), -1);
  EXPECT_EQ(f->classifyBox(-0.5, -0.5, 20, 0.5, 0.5, 30), 1) << "far plane off";
  EXPECT_EQ(f->classifyBox(-0.5, -0.5, -30, 0.5, 0.5, -20), 1) << "near plane off";
  EXPECT_EQ(f->classifyBox(NAN, -0.5, 1, NAN, 0.5, 2), 1) << "NaN distances count as inside";
  // Outside near two planes at once but beyond none: conservatively partial.
  EXPECT_EQ(f->classifyBox(0.9, 0.9, 1, 3, 3, 2), 0);

  frustum.setFarClip(true);
  frustum.setNearClip(true);
  FilterPtr clipped(new ViewFrustumFilter(frustum, 0, 0, 0), Release);
  EXPECT_EQ(clipped->classifyBox(-0.5, -0.5, 20, 0.5, 0.5, 30), -1);
  EXPECT_EQ(clipped->classifyBox(-0.5, -0.5, -30, 0.5, 0.5, -20), -1);
  EXPECT_EQ(clipped->classifyBox(-0.5, -0.5, 5, 0.5, 0.5, 15), 0);
  // Points ignore near and far.
  EXPECT_TRUE(clipped->containsPoint(0, 0, 50));
  EXPECT_TRUE(clipped->containsPoint(0, 0, -50));
  EXPECT_FALSE(clipped->containsPoint(1.5f, 0, 5));

  // A clone answers exactly as the original.
  FilterPtr copy(clipped->clone(), Release);
  for (double x = -2; x <= 2; x += 0.25) {
    EXPECT_EQ(copy->classifyBox(x, x, x, x + 1, x + 1, x + 20),
              clipped->classifyBox(x, x, x, x + 1, x + 1, x + 20));
    EXPECT_EQ(copy->containsPoint(float(x), 0, 0), clipped->containsPoint(float(x), 0, 0));
  }
}

TEST(ViewFrustumFilterTest, RightHandedNamingTurnsInsideOut) {
  // The same box with left and right swapped: a mirrored frame.
  VorlinViewFrustum mirrored = BoxFrustum(1, -1, -1, 1, 0, 10);
  FilterPtr f(new ViewFrustumFilter(mirrored, 0, 0, 0), Release);
  EXPECT_EQ(f->classifyBox(-0.5, -0.5, 1, 0.5, 0.5, 2), -1);
}

TEST(ViewFrustumFilterTest, PointsAreOffsetsFromTheCentre) {
  FilterPtr f(new ViewFrustumFilter(BoxFrustum(99, 101, -1, 1, 0, 10), 100, 0, 0), Release);
  EXPECT_TRUE(f->containsPoint(0, 0, 0));
  EXPECT_TRUE(f->containsPoint(0.9f, 0, 0));
  EXPECT_FALSE(f->containsPoint(1.1f, 0, 0));
  EXPECT_FALSE(f->reservedQuery());
}

TEST_F(ClipTest, QueryClassifiesCellsByBothFilters) {
  qzv_test::TestFile f = RandomGrid(4, 3, 3, 3, 41);
  Open(f, 0);
  // No filter: every non-empty cell wholly inside and no clipping.
  Released<IPointCloudQuery> all{engine->createQuery(nullptr, true)};
  PointCloudQuery* q = dynamic_cast<PointCloudQuery*>(all.handle);
  ASSERT_NE(q, nullptr);
  EXPECT_FALSE(q->clip);
  const auto cells = share_model::VisibleCells(f, true);
  EXPECT_EQ(q->visibleCells, cells.size());
  EXPECT_EQ(q->visiblePoints, f.TotalPoints());
  EXPECT_DOUBLE_EQ(q->lodSum, share_model::LodSum(cells));
  for (int ix = 0; ix < 3; ++ix)
    for (int iy = 0; iy < 3; ++iy)
      for (int iz = 0; iz < 3; ++iz) {
        const int32_t i = int32_t(f.EngineIndex(ix, iy, iz));
        const bool filled = !f.records[size_t(f.FileIndex(ix, iy, iz))].empty();
        EXPECT_EQ(q->IsVisible(i), filled);
        EXPECT_EQ(q->IsWhollyInside(i), filled);
      }

  // The engine's clip filter alone decides when the query has none; empty
  // cells stay outside although the filter takes everything.
  auto seen = std::make_shared<Seen>();
  RecordingFilter partial(0, [](float, float, float) { return true; }, seen);
  engine->setClipFilter(&partial);
  Released<IPointCloudQuery> clipped{engine->createQuery(nullptr, true)};
  q = dynamic_cast<PointCloudQuery*>(clipped.handle);
  EXPECT_EQ(q->visibleCells, cells.size());
  for (int32_t i = 0; i < 27; ++i) EXPECT_FALSE(q->IsWhollyInside(i));
  unsigned long long first = 0, second = 0;
  EXPECT_TRUE(engine->getQueryCounts(clipped.handle, first, second));
  EXPECT_EQ(first, f.TotalPoints());
  EXPECT_EQ(second, f.TotalPoints());

  RecordingFilter none(-1, [](float, float, float) { return true; }, seen);
  engine->setClipFilter(&none);
  Released<IPointCloudQuery> nothing{engine->createQuery(&partial, true)};
  EXPECT_FALSE(engine->getQueryCounts(nothing.handle, first, second));
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(second, f.TotalPoints());
  EXPECT_EQ(Fetch(nothing.handle, 100).size(), 0u);

  // Partly covered cells without the clip flag are read whole, untested.
  engine->setClipFilter(nullptr);
  Released<IPointCloudQuery> unclipped{engine->createQuery(&partial, false)};
  seen->points.clear();
  EXPECT_EQ(Fetch(unclipped.handle, 100).size(), 100u);
  EXPECT_TRUE(seen->points.empty());
}

// getPoints hands the engine's clip filter world coordinates; the batch
// calls hand it the stored offsets, as the query's filter always gets them.
TEST_F(ClipTest, ClipFilterCoordinatesPerFetch) {
  qzv_test::TestFile f = RandomGrid(4, 2, 2, 2, 43, 30);
  Open(f, 0);
  auto querySeen = std::make_shared<Seen>();
  auto clipSeen = std::make_shared<Seen>();
  RecordingFilter queryFilter(0, [](float, float, float) { return true; }, querySeen);
  RecordingFilter clipFilter(1, [](float, float, float) { return true; }, clipSeen);
  engine->setClipFilter(&clipFilter);
  Released<IPointCloudQuery> query{engine->createQuery(&queryFilter, true)};
  const uint32_t total = uint32_t(f.TotalPoints());
  std::vector<CellPoint> got = Fetch(query.handle, total);
  ASSERT_EQ(got.size(), total);
  ASSERT_EQ(clipSeen->points.size(), got.size());
  ASSERT_EQ(querySeen->points.size(), got.size());
  EXPECT_EQ(querySeen->prepared, int(share_model::VisibleCells(f, true).size()));
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(querySeen->points[i][0], got[i].x);
    EXPECT_EQ(clipSeen->points[i][0], float(double(got[i].x) + f.Centre(0)));
    EXPECT_EQ(clipSeen->points[i][1], float(double(got[i].y) + f.Centre(1)));
    EXPECT_EQ(clipSeen->points[i][2], float(double(got[i].z) + f.Centre(2)));
  }

  std::vector<CellPoint> buffer(total);
  for (int kind = 0; kind < 2; ++kind) {
    clipSeen->points.clear();
    uint32_t n;
    if (kind == 0) {
      IPointSetData* set = nullptr;
      n = engine->createPointSet(query.handle, buffer.data(), total, total, &set);
      set->release();
    } else {
      IPointCloudCursor* cursor = nullptr;
      n = engine->createCursor(query.handle, buffer.data(), total, &cursor);
      cursor->release();
    }
    ASSERT_GT(n, 0u);
    ASSERT_EQ(clipSeen->points.size(), n);
    for (uint32_t i = 0; i < n; ++i) {
      EXPECT_EQ(clipSeen->points[i][0], buffer[i].x);
      EXPECT_EQ(clipSeen->points[i][2], buffer[i].z);
    }
  }
}

// With a frustum through the grid, partly covered cells give exactly the
// records of their share that lie inside, packed without gaps.
TEST_F(ClipTest, FrustumClipsPointByPoint) {
  for (int version : {3, 4}) {
    qzv_test::TestFile f = RandomGrid(version, 4, 4, 2, 47);
    Open(f, 2000);
    // Through the middle of the grid in x and y (cells are 4 units wide).
    const double x0 = f.boundsMin[0] + 3, x1 = f.boundsMin[0] + 11;
    const double y0 = f.boundsMin[1] + 5, y1 = f.boundsMin[1] + 14;
    FilterPtr frustum(engine->createViewFrustumFilter(BoxFrustum(x0, x1, y0, y1, -1e6, 1e6)),
                      Release);
    Released<IPointCloudQuery> query{engine->createQuery(frustum.get(), true)};

    std::vector<bool> visible(size_t(f.CellCount()));
    std::vector<int> verdict(size_t(f.CellCount()));
    for (int ix = 0; ix < f.nx; ++ix)
      for (int iy = 0; iy < f.ny; ++iy)
        for (int iz = 0; iz < f.nz; ++iz) {
          const size_t k = size_t(f.FileIndex(ix, iy, iz));
          verdict[k] = frustum->classifyBox(f.LowerEdge(0, ix), f.LowerEdge(1, iy),
                                            f.LowerEdge(2, iz), f.UpperEdge(0, ix),
                                            f.UpperEdge(1, iy), f.UpperEdge(2, iz));
          visible[k] = verdict[k] >= 0;
        }
    const auto cells = share_model::VisibleCells(f, true, &visible);
    for (uint32_t bufferSize : {50u, 400u, 5000u}) {
      std::vector<CellPoint> want;
      int partial = 0;
      for (const CellPoint& p : share_model::Records(f, share_model::OneShotReads(cells, bufferSize))) {
        const int64_t k = qzv_test::TagCell(p);
        if (verdict[size_t(k)] > 0) {
          want.push_back(p);
        } else if (frustum->containsPoint(p.x, p.y, p.z)) {
          want.push_back(p);
        } else {
          ++partial;
        }
      }
      EXPECT_GT(partial, 0) << "the frustum should cut some records";
      const std::vector<CellPoint> got = Fetch(query.handle, bufferSize);
      ASSERT_EQ(got.size(), want.size());
      for (size_t i = 0; i < got.size(); ++i) ASSERT_TRUE(qzv_test::SameRecord(got[i], want[i]));
      // Every delivered record lies inside the frustum's side planes.
      for (const CellPoint& p : got) {
        EXPECT_GE(double(p.x) + f.Centre(0), x0 - 1e-3);
        EXPECT_LE(double(p.x) + f.Centre(0), x1 + 1e-3);
      }
    }
  }
}
