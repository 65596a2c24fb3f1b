#include "vorlin/view_frustum.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

using Zelvane::Vorlin::VorlinViewFrustum;

namespace {

using Triple = std::array<double, 3>;
void Set(VorlinViewFrustum& f, int corner, double x, double y, double z) {
  switch (corner) {
    case 0: f.setNearUpperRight(x, y, z); break;
    case 1: f.setNearUpperLeft(x, y, z); break;
    case 2: f.setNearLowerLeft(x, y, z); break;
    case 3: f.setNearLowerRight(x, y, z); break;
    case 4: f.setFarUpperRight(x, y, z); break;
    case 5: f.setFarUpperLeft(x, y, z); break;
    case 6: f.setFarLowerLeft(x, y, z); break;
    default: f.setFarLowerRight(x, y, z); break;
  }
}

Triple Get(const VorlinViewFrustum& f, int corner) {
  Triple t;
  switch (corner) {
    case 0: f.nearUpperRight(t[0], t[1], t[2]); break;
    case 1: f.nearUpperLeft(t[0], t[1], t[2]); break;
    case 2: f.nearLowerLeft(t[0], t[1], t[2]); break;
    case 3: f.nearLowerRight(t[0], t[1], t[2]); break;
    case 4: f.farUpperRight(t[0], t[1], t[2]); break;
    case 5: f.farUpperLeft(t[0], t[1], t[2]); break;
    case 6: f.farLowerLeft(t[0], t[1], t[2]); break;
    default: f.farLowerRight(t[0], t[1], t[2]); break;
  }
  return t;
}

void FillDistinct(VorlinViewFrustum& f, double base) {
  for (int c = 0; c < 8; ++c) Set(f, c, base + c, base + c + 0.25, base + c + 0.5);
}

void ExpectCorners(const VorlinViewFrustum& f, double base) {
  for (int c = 0; c < 8; ++c)
    EXPECT_EQ(Get(f, c), (Triple{base + c, base + c + 0.25, base + c + 0.5})) << "corner " << c;
}

}  // namespace

// Each corner is its own (a setter writing the wrong corner shows as two
// equal corners), and copies own their values.
TEST(ViewFrustum, CornersAndCopies) {
  auto source = std::make_unique<VorlinViewFrustum>();
  EXPECT_FALSE(source->nearClip() || source->farClip());
  FillDistinct(*source, 1.0);
  ExpectCorners(*source, 1.0);
  source->setFarClip(true);
  VorlinViewFrustum copied(*source);
  VorlinViewFrustum assigned;
  assigned = *source;
  FillDistinct(*source, 100.0);
  source->setFarClip(false);
  source->setNearClip(true);
  EXPECT_TRUE(source->nearClip() && !source->farClip());
  source.reset();
  for (const VorlinViewFrustum* f : {&copied, &assigned}) {
    EXPECT_TRUE(f->farClip() && !f->nearClip());
    ExpectCorners(*f, 1.0);
  }
  assigned = assigned;  // self-assignment keeps the values
  ExpectCorners(assigned, 1.0);
}
