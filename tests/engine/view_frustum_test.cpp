#include "vorlin/view_frustum.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

using Zelvane::Vorlin::VorlinViewFrustum;

namespace {

using Triple = std::array<double, 3>;
using Setter = void (VorlinViewFrustum::*)(double, double, double);
using Getter = void (VorlinViewFrustum::*)(double&, double&, double&) const;

const Setter kSet[8] = {&VorlinViewFrustum::setNearUpperRight, &VorlinViewFrustum::setNearUpperLeft,
                        &VorlinViewFrustum::setNearLowerLeft,  &VorlinViewFrustum::setNearLowerRight,
                        &VorlinViewFrustum::setFarUpperRight,  &VorlinViewFrustum::setFarUpperLeft,
                        &VorlinViewFrustum::setFarLowerLeft,   &VorlinViewFrustum::setFarLowerRight};
const Getter kGet[8] = {&VorlinViewFrustum::nearUpperRight, &VorlinViewFrustum::nearUpperLeft,
                        &VorlinViewFrustum::nearLowerLeft,  &VorlinViewFrustum::nearLowerRight,
                        &VorlinViewFrustum::farUpperRight,  &VorlinViewFrustum::farUpperLeft,
                        &VorlinViewFrustum::farLowerLeft,   &VorlinViewFrustum::farLowerRight};

void FillDistinct(VorlinViewFrustum& f, double base) {
  for (int c = 0; c < 8; ++c) (f.*kSet[c])(base + c, base + c + 0.25, base + c + 0.5);
}

void ExpectCorners(const VorlinViewFrustum& f, double base) {
  for (int c = 0; c < 8; ++c) {
    Triple t;
    (f.*kGet[c])(t[0], t[1], t[2]);
    EXPECT_EQ(t, (Triple{base + c, base + c + 0.25, base + c + 0.5})) << "corner " << c;
  }
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
