#include "vorlin/view_frustum.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

using Zelvane::Vorlin::VorlinViewFrustum;

namespace {

using Triple = std::array<double, 3>;
using Setter = void (VorlinViewFrustum::*)(double, double, double);
using Getter = void (VorlinViewFrustum::*)(double&, double&, double&) const;

const Setter kSetters[8] = {
    &VorlinViewFrustum::setNearUpperRight, &VorlinViewFrustum::setNearUpperLeft,
    &VorlinViewFrustum::setNearLowerLeft,  &VorlinViewFrustum::setNearLowerRight,
    &VorlinViewFrustum::setFarUpperRight,  &VorlinViewFrustum::setFarUpperLeft,
    &VorlinViewFrustum::setFarLowerLeft,   &VorlinViewFrustum::setFarLowerRight};
const Getter kGetters[8] = {
    &VorlinViewFrustum::nearUpperRight, &VorlinViewFrustum::nearUpperLeft,
    &VorlinViewFrustum::nearLowerLeft,  &VorlinViewFrustum::nearLowerRight,
    &VorlinViewFrustum::farUpperRight,  &VorlinViewFrustum::farUpperLeft,
    &VorlinViewFrustum::farLowerLeft,   &VorlinViewFrustum::farLowerRight};

Triple Get(const VorlinViewFrustum& f, int corner) {
  Triple t;
  (f.*kGetters[corner])(t[0], t[1], t[2]);
  return t;
}

void FillDistinct(VorlinViewFrustum& f, double base) {
  for (int c = 0; c < 8; ++c) (f.*kSetters[c])(base + c, base + c + 0.25, base + c + 0.5);
}

}  // namespace

TEST(ViewFrustum, EachSetterStoresOnlyItsCorner) {
  VorlinViewFrustum f;
  EXPECT_FALSE(f.nearClip());
  EXPECT_FALSE(f.farClip());
  FillDistinct(f, 10.0);
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(Get(f, c), (Triple{10.0 + c, 10.25 + c, 10.5 + c})) << "corner " << c;
  }
  (f.*kSetters[3])(-1, -2, -3);
  for (int c = 0; c < 8; ++c) {
    if (c == 3) {
      EXPECT_EQ(Get(f, c), (Triple{-1, -2, -3}));
    } else {
      EXPECT_EQ(Get(f, c), (Triple{10.0 + c, 10.25 + c, 10.5 + c}));
    }
  }
  f.setNearClip(true);
  EXPECT_TRUE(f.nearClip());
  EXPECT_FALSE(f.farClip());
  f.setFarClip(true);
  EXPECT_TRUE(f.farClip());
}

TEST(ViewFrustum, CopiesOwnTheirCorners) {
  auto source = std::make_unique<VorlinViewFrustum>();
  FillDistinct(*source, 1.0);
  source->setFarClip(true);
  VorlinViewFrustum copied(*source);
  VorlinViewFrustum assigned;
  assigned = *source;
  FillDistinct(*source, 100.0);
  source->setFarClip(false);
  source.reset();
  for (const VorlinViewFrustum* f : {&copied, &assigned}) {
    EXPECT_TRUE(f->farClip());
    EXPECT_FALSE(f->nearClip());
    for (int c = 0; c < 8; ++c) EXPECT_EQ(Get(*f, c), (Triple{1.0 + c, 1.25 + c, 1.5 + c}));
  }
  assigned = assigned;  // self-assignment keeps the values
  EXPECT_EQ(Get(assigned, 7), (Triple{8.0, 8.25, 8.5}));
}
