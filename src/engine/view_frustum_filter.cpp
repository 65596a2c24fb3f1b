#include "engine/view_frustum_filter.h"

#include <math.h>

#include <new>

#include "engine/qv_vorlin_imp.h"

using Zelvane::Vorlin::IPointCloudFilter;
using Zelvane::Vorlin::VorlinViewFrustum;

namespace {

struct Point3 {
  double x, y, z;
};

// Plane through a, b, c with normal (c - a) x (b - a), made unit length.
void PlaneThrough(const Point3& a, const Point3& b, const Point3& c, double plane[4]) {
  const Point3 u{b.x - a.x, b.y - a.y, b.z - a.z};
  const Point3 v{c.x - a.x, c.y - a.y, c.z - a.z};
  const Point3 n{v.y * u.z - v.z * u.y, v.z * u.x - v.x * u.z, v.x * u.y - v.y * u.x};
  const double length = sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
  plane[0] = n.x / length;
  plane[1] = n.y / length;
  plane[2] = n.z / length;
  plane[3] = -(plane[0] * a.x + plane[1] * a.y + plane[2] * a.z);
}

inline double Distance(const double plane[4], double x, double y, double z) {
  return plane[0] * x + plane[1] * y + plane[2] * z + plane[3];
}

}  // namespace

ViewFrustumFilter::ViewFrustumFilter(const VorlinViewFrustum& frustum, double offsetX,
                                     double offsetY, double offsetZ)
    : m_nearClip(frustum.nearClip()), m_farClip(frustum.farClip()),
      m_offset{offsetX, offsetY, offsetZ} {
  Point3 nur, nul, nll, nlr, fur, ful, fll, flr;
  frustum.nearUpperRight(nur.x, nur.y, nur.z);
  frustum.nearUpperLeft(nul.x, nul.y, nul.z);
  frustum.nearLowerLeft(nll.x, nll.y, nll.z);
  frustum.nearLowerRight(nlr.x, nlr.y, nlr.z);
  frustum.farUpperRight(fur.x, fur.y, fur.z);
  frustum.farUpperLeft(ful.x, ful.y, ful.z);
  frustum.farLowerLeft(fll.x, fll.y, fll.z);
  frustum.farLowerRight(flr.x, flr.y, flr.z);
  PlaneThrough(nul, nll, ful, m_planes[kLeft]);
  PlaneThrough(nur, nul, fur, m_planes[kTop]);
  PlaneThrough(nur, fur, nlr, m_planes[kRight]);
  PlaneThrough(nll, nlr, fll, m_planes[kBottom]);
  PlaneThrough(nll, nul, nlr, m_planes[kNear]);
  PlaneThrough(fll, flr, ful, m_planes[kFar]);
}

int ViewFrustumFilter::classifyBox(double minX, double minY, double minZ, double maxX,
                                   double maxY, double maxZ) {
  const double xs[2] = {minX, maxX}, ys[2] = {minY, maxY}, zs[2] = {minZ, maxZ};
  bool allInside = true;
  for (int p = 0; p < kPlaneCount; ++p) {
    if ((p == kNear && !m_nearClip) || (p == kFar && !m_farClip)) continue;
    int outside = 0;
    for (int corner = 0; corner < 8; ++corner) {
      // A NaN distance is not negative, so it counts as inside.
      if (Distance(m_planes[p], xs[corner & 1], ys[(corner >> 1) & 1], zs[corner >> 2]) < 0.0)
        ++outside;
    }
    if (outside == 8) return -1;
    if (outside > 0) allInside = false;
  }
  return allInside ? 1 : 0;
}

bool ViewFrustumFilter::containsPoint(float x, float y, float z) {
  const double qx = double(x) + m_offset[0];
  const double qy = double(y) + m_offset[1];
  const double qz = double(z) + m_offset[2];
  for (int p = kLeft; p <= kBottom; ++p) {
    if (Distance(m_planes[p], qx, qy, qz) < 0.0) return false;
  }
  return true;
}

void ViewFrustumFilter::prepareCell(const double*, const double*, const double*, const double*,
                                    const double*, const double*, unsigned int) {}

IPointCloudFilter* ViewFrustumFilter::clone() { return new ViewFrustumFilter(*this); }

void ViewFrustumFilter::release() { delete this; }

bool ViewFrustumFilter::reservedQuery() { return false; }

void ViewFrustumFilter::reservedNotify(unsigned int) {}

IPointCloudFilter* QvVorlinImp::createViewFrustumFilter(const VorlinViewFrustum& frustum) {
  return new (std::nothrow) ViewFrustumFilter(frustum, m_grid.centre[0], m_grid.centre[1], m_grid.centre[2]);
}
