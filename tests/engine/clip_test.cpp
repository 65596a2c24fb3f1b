#include <math.h>

#include "engine/engine_test_support.h"
#include "engine/point_cloud_query.h"
#include "engine/view_frustum_filter.h"

using namespace engine_test;
using Zelvane::Vorlin::VorlinViewFrustum;

namespace {

// Named for a viewer with x right, y up, looking along +z.
VorlinViewFrustum BoxFrustum(double x0, double x1, double y0, double y1, double z0, double z1) {
  VorlinViewFrustum f;
  f.setNearUpperRight(x1, y1, z0), f.setNearUpperLeft(x0, y1, z0);
  f.setNearLowerLeft(x0, y0, z0), f.setNearLowerRight(x1, y0, z0);
  f.setFarUpperRight(x1, y1, z1), f.setFarUpperLeft(x0, y1, z1);
  f.setFarLowerLeft(x0, y0, z1), f.setFarLowerRight(x1, y0, z1);
  return f;
}

class ClipTest : public EngineTest {};

}  // namespace

TEST(ViewFrustumFilterTest, ClassifiesBoxesAndPoints) {
  VorlinViewFrustum frustum = BoxFrustum(-1, 1, -1, 1, 0, 10);
  FilterPtr f(new ViewFrustumFilter(frustum, 0, 0, 0));
  EXPECT_EQ(f->classifyBox(-1, -1, 1, 1, 1, 2), 1) << "corners on a plane are inside";
  EXPECT_EQ(f->classifyBox(0.5, -0.5, 1, 1.5, 0.5, 2), 0);
  EXPECT_EQ(f->classifyBox(1.5, -0.5, 1, 2.5, 0.5, 2), -1);
  EXPECT_EQ(f->classifyBox(0.9, 0.9, 1, 3, 3, 2), 0) << "beyond no single plane";
  EXPECT_EQ(f->classifyBox(-0.5, -0.5, 20, 0.5, 0.5, 30), 1) << "far plane off";
  EXPECT_EQ(f->classifyBox(NAN, -0.5, 1, NAN, 0.5, 2), 1) << "NaN distances are inside";
  frustum.setNearClip(true);
  frustum.setFarClip(true);
  FilterPtr clipped(new ViewFrustumFilter(frustum, 100, 0, 0));
  EXPECT_EQ(clipped->classifyBox(-0.5, -0.5, 20, 0.5, 0.5, 30), -1);
  EXPECT_EQ(clipped->classifyBox(-0.5, -0.5, -30, 0.5, 0.5, -20), -1);
  // Points are offsets from the centre and ignore near and far.
  EXPECT_FALSE(clipped->containsPoint(0, 0, 5));
  EXPECT_TRUE(clipped->containsPoint(-100, 0, 50));
  EXPECT_FALSE(clipped->containsPoint(-98.5f, 0, 5));
  FilterPtr copy(clipped->clone());
  for (double x = -2; x <= 2; x += 0.25) {
    EXPECT_EQ(copy->classifyBox(x, x, x, x + 1, x + 1, x + 20), clipped->classifyBox(x, x, x, x + 1, x + 1, x + 20));
    EXPECT_EQ(copy->containsPoint(float(x - 100), 0, 0), clipped->containsPoint(float(x - 100), 0, 0));
  }
  // Left and right swapped: a mirrored frame turns the frustum inside out.
  FilterPtr mirrored(new ViewFrustumFilter(BoxFrustum(1, -1, -1, 1, 0, 10), 0, 0, 0));
  EXPECT_EQ(mirrored->classifyBox(-0.5, -0.5, 1, 0.5, 0.5, 2), -1);
}

TEST_F(ClipTest, QueryClassifiesCellsByBothFilters) {
  Open(RandomGrid(4, 3, 3, 3, 41), 0);
  size_t nonEmpty = 0;
  double lodSum = 0.0;
  for (size_t k = 0; k < 27; ++k)
    if (!file.records[k].empty()) ++nonEmpty, lodSum += file.lods[k];
  // No filter: every non-empty cell wholly inside, no clipping.
  Released<IPointCloudQuery> all{engine->createQuery(nullptr, true)};
  const PointCloudQuery* q = dynamic_cast<PointCloudQuery*>(all.handle);
  EXPECT_FALSE(q->clip);
  EXPECT_EQ(q->visibleCells, nonEmpty);
  EXPECT_DOUBLE_EQ(q->lodSum, lodSum);
  for (int64_t k = 0; k < 27; ++k) {
    const int32_t i = int32_t(file.EngineIndex(int(k / 9), int(k / 3 % 3), int(k % 3)));
    EXPECT_EQ(q->IsVisible(i) && q->IsWhollyInside(i), !file.records[size_t(k)].empty()) << k;
  }
  // The engine's clip filter alone decides; empty cells stay outside.
  TestFilter partial = Verdict(0), outside = Verdict(-1);
  engine->setClipFilter(&partial);
  Released<IPointCloudQuery> clipped{engine->createQuery(nullptr, true)};
  q = dynamic_cast<PointCloudQuery*>(clipped.handle);
  EXPECT_EQ(q->visibleCells, nonEmpty);
  for (int32_t i = 0; i < 27; ++i) EXPECT_FALSE(q->IsWhollyInside(i));
  unsigned long long first = 0, second = 0;
  EXPECT_TRUE(engine->getQueryCounts(clipped.handle, first, second));
  EXPECT_EQ(first, file.TotalPoints());

  engine->setClipFilter(&outside);
  Released<IPointCloudQuery> nothing{engine->createQuery(&partial, true)};
  EXPECT_FALSE(engine->getQueryCounts(nothing.handle, first, second));
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(second, file.TotalPoints());
  EXPECT_TRUE(Fetch(nothing.handle, 100).empty());
  // Partly covered cells without the clip flag are read whole, untested.
  engine->setClipFilter(nullptr);
  Released<IPointCloudQuery> unclipped{engine->createQuery(&partial, false)};
  EXPECT_EQ(Fetch(unclipped.handle, 100).size(), 100u);
  EXPECT_TRUE(partial.log().empty());
}

// getPoints hands the engine's clip filter world coordinates; the batch calls
// hand it the stored offsets, which the query's filter always gets.
TEST_F(ClipTest, ClipFilterCoordinatesPerFetch) {
  Open(RandomGrid(4, 2, 2, 2, 43, 30), 0);
  TestFilter queryFilter = Verdict(0), clipFilter = Verdict(1);
  engine->setClipFilter(&clipFilter);
  Released<IPointCloudQuery> query{engine->createQuery(&queryFilter, true)};
  const uint32_t total = uint32_t(file.TotalPoints());
  std::vector<CellPoint> buffer(total);
  for (int fetch = 0; fetch < 3; ++fetch) {
    clipFilter.log().clear();
    queryFilter.log().clear();
    uint32_t n = 0;
    if (fetch == 0) {
      n = engine->getPoints(query.handle, buffer.data(), total);
    } else if (fetch == 1) {
      IPointSetData* set = nullptr;
      n = engine->createPointSet(query.handle, buffer.data(), total, total, &set);
      set->release();
    } else {
      IPointCloudCursor* cursor = nullptr;
      n = engine->createCursor(query.handle, buffer.data(), total, &cursor);
      cursor->release();
    }
    ASSERT_GT(n, 0u);
    ASSERT_EQ(clipFilter.log().size(), n);
    ASSERT_EQ(queryFilter.log().size(), n);
    for (uint32_t i = 0; i < n; ++i) {
      const float stored[3] = {buffer[i].x, buffer[i].y, buffer[i].z};
      for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(queryFilter.log()[i][size_t(a)], stored[a]);
        EXPECT_EQ(clipFilter.log()[i][size_t(a)], fetch == 0 ? float(double(stored[a]) + file.Centre(a)) : stored[a]);
      }
    }
  }
}

// A frustum through the grid: partly covered cells give exactly the records
// of their share that lie inside (the share an unclipped query reads whole),
// packed without gaps.
TEST_F(ClipTest, FrustumClipsPointByPoint) {
  for (int version : {3, 4}) {
    Open(RandomGrid(version, 4, 4, 2, 47), 2000);
    const double x0 = file.boundsMin[0] + 3, x1 = file.boundsMin[0] + 11;
    const double y0 = file.boundsMin[1] + 5, y1 = file.boundsMin[1] + 14;
    FilterPtr frustum(engine->createViewFrustumFilter(BoxFrustum(x0, x1, y0, y1, -1e6, 1e6)));
    Released<IPointCloudQuery> query{engine->createQuery(frustum.get(), true)};
    Released<IPointCloudQuery> whole{engine->createQuery(frustum.get(), false)};
    for (uint32_t bufferSize : {50u, 400u, 5000u}) {
      std::vector<CellPoint> want;
      size_t cut = 0;
      for (const CellPoint& p : Fetch(whole.handle, bufferSize)) {
        const int64_t k = qzv_test::TagCell(p);
        const int ix = int(k / file.nz / file.ny), iy = int(k / file.nz % file.ny), iz = int(k % file.nz);
        const int verdict = frustum->classifyBox(file.LowerEdge(0, ix), file.LowerEdge(1, iy), file.LowerEdge(2, iz),
                                                 file.UpperEdge(0, ix), file.UpperEdge(1, iy), file.UpperEdge(2, iz));
        ASSERT_GE(verdict, 0);
        if (verdict > 0 || frustum->containsPoint(p.x, p.y, p.z)) {
          want.push_back(p);
        } else {
          ++cut;
        }
      }
      EXPECT_GT(cut, 0u);
      const std::vector<CellPoint> got = Fetch(query.handle, bufferSize);
      ASSERT_TRUE(SameRecords(got, want));
      for (const CellPoint& p : got) {
        EXPECT_GE(double(p.x) + file.Centre(0), x0 - 1e-3);
        EXPECT_LE(double(p.x) + file.Centre(0), x1 + 1e-3);
      }
    }
  }
}

// With point clipping a batch returns what it took from the cells; the
// records the filters rejected follow the accepted ones as NaN fillers.
TEST_F(ClipTest, ClippedBatchesMarkRejectedRecords) {
  Open(RandomGrid(4, 2, 2, 2, 91, 40), 0);
  TestFilter half([](const double*) { return 0; }, [](float x, float, float) { return x < 0.0f; });
  Released<IPointCloudQuery> query{engine->createQuery(&half, true)};
  const uint32_t total = uint32_t(file.TotalPoints());
  for (bool cursorMode : {false, true}) {
    std::vector<CellPoint> buffer(total);
    uint32_t consumed;
    if (cursorMode) {
      IPointCloudCursor* cursor = nullptr;
      consumed = engine->createCursor(query.handle, buffer.data(), total, &cursor);
      cursor->release();
    } else {
      IPointSetData* set = nullptr;
      consumed = engine->createPointSet(query.handle, buffer.data(), total, total, &set);
      set->release();
    }
    uint32_t accepted = 0;
    while (accepted < consumed && !isnan(buffer[accepted].x)) EXPECT_LT(buffer[accepted++].x, 0.0f);
    EXPECT_TRUE(accepted > 0 && accepted < consumed);
    for (uint32_t i = accepted; i < consumed; ++i)
      ASSERT_TRUE(isnan(buffer[i].x) && isnan(buffer[i].y) && isnan(buffer[i].z));
  }
}
