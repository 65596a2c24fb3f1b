// The public box filter and camera helper, checked against the engine's own
// frustum filter: what a camera sees must be what lies in front of it.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "engine/engine_test_support.h"
#include "engine/view_frustum_filter.h"
#include "vorlin/box_filter.h"
#include "vorlin/camera.h"

using namespace Zelvane::Vorlin;
using engine_test::FilterPtr;

namespace {

TEST(BoxFilter, ClassifiesCellsAndPointsAroundTheCentre) {
  const double a[3] = {10, 20, 30}, b[3] = {0, 0, 0}, centre[3] = {5, 5, 5};
  FilterPtr box(createBoxFilter(a, b, centre));
  ASSERT_TRUE(box);
  EXPECT_EQ(box->classifyBox(1, 1, 1, 2, 2, 2), 1);
  EXPECT_EQ(box->classifyBox(-1, 1, 1, 2, 2, 2), 0);
  EXPECT_EQ(box->classifyBox(11, 1, 1, 12, 2, 2), -1);
  // Points are offsets from the centre; faces are inside.
  EXPECT_TRUE(box->containsPoint(5, 15, 25));
  EXPECT_TRUE(box->containsPoint(-5, -5, -5));
  EXPECT_FALSE(box->containsPoint(5.5f, 0, 0));
  EXPECT_FALSE(box->containsPoint(std::nanf(""), 0, 0));
  FilterPtr copy(box->clone());
  ASSERT_TRUE(copy);
  EXPECT_TRUE(copy->containsPoint(0, 0, 0));

  const double nan[3] = {std::nan(""), 0, 0};
  EXPECT_EQ(createBoxFilter(nan, b, centre), nullptr);
  EXPECT_EQ(createBoxFilter(a, b, nan), nullptr);
}

TEST(CameraFrustum, SeesWhatLiesInFrontAndKeepsLeftAndRight) {
  // Looking north from the south, z up: east is on the viewer's right.
  const double eye[3] = {0, -100, 10}, target[3] = {0, 0, 10}, up[3] = {0, 0, 1};
  VorlinViewFrustum frustum;
  double corners[24];
  ASSERT_TRUE(makeCameraFrustum(eye, target, up, 60, 2.0, 1, 1000, frustum, corners));
  EXPECT_TRUE(frustum.nearClip());
  EXPECT_TRUE(frustum.farClip());
  double x, y, z;
  frustum.farUpperLeft(x, y, z);
  EXPECT_DOUBLE_EQ(x, corners[15]);
  // The filter names corners for a left-handed frame, so its "left" is east.
  EXPECT_GT(x, 0);
  EXPECT_GT(z, 10);
  EXPECT_NEAR(y, 900, 1e-9);

  FilterPtr filter(new ViewFrustumFilter(frustum, 0, 0, 0));
  EXPECT_TRUE(filter->containsPoint(0, 0, 10));    // the target
  EXPECT_TRUE(filter->containsPoint(80, 0, 10));   // inside the wide horizontal opening
  EXPECT_TRUE(filter->containsPoint(-80, 0, 10));
  EXPECT_FALSE(filter->containsPoint(0, 0, 80));   // above the 30-degree half angle
  EXPECT_FALSE(filter->containsPoint(0, -150, 10));  // behind the eye
  EXPECT_EQ(filter->classifyBox(-1, -1, 9, 1, 1, 11), 1);
  EXPECT_EQ(filter->classifyBox(-1, -200, 9, 1, -150, 11), -1);
  EXPECT_EQ(filter->classifyBox(-1, 850, 9, 1, 2000, 11), 0);  // crosses the far plane
}

TEST(CameraFrustum, RefusesDegenerateCameras) {
  const double eye[3] = {0, 0, 0}, target[3] = {1, 0, 0}, up[3] = {0, 0, 1};
  const double alongView[3] = {2, 0, 0}, inf = std::numeric_limits<double>::infinity();
  const double infinite[3] = {inf, 0, 0};
  VorlinViewFrustum frustum;
  EXPECT_FALSE(makeCameraFrustum(eye, eye, up, 60, 1, 1, 10, frustum));
  EXPECT_FALSE(makeCameraFrustum(eye, target, alongView, 60, 1, 1, 10, frustum));
  EXPECT_FALSE(makeCameraFrustum(eye, target, up, 0, 1, 1, 10, frustum));
  EXPECT_FALSE(makeCameraFrustum(eye, target, up, 180, 1, 1, 10, frustum));
  EXPECT_FALSE(makeCameraFrustum(eye, target, up, 60, 0, 1, 10, frustum));
  EXPECT_FALSE(makeCameraFrustum(eye, target, up, 60, 1, 0, 10, frustum));
  EXPECT_FALSE(makeCameraFrustum(eye, target, up, 60, 1, 10, 10, frustum));
  EXPECT_FALSE(makeCameraFrustum(infinite, target, up, 60, 1, 1, 10, frustum));
}

}  // namespace
