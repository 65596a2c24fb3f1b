#ifndef VORLIN_ENGINE_VIEW_FRUSTUM_FILTER_H
#define VORLIN_ENGINE_VIEW_FRUSTUM_FILTER_H

#include "vorlin/filter.h"
#include "vorlin/view_frustum.h"

// A filter bounded by the six planes of a view frustum. Boxes are tested in
// world coordinates; points are stored offsets from a centre, which the
// filter adds back before testing them against the four side planes.
class ViewFrustumFilter final : public Zelvane::Vorlin::IPointCloudFilter {
 public:
  ViewFrustumFilter(const Zelvane::Vorlin::VorlinViewFrustum& frustum, double offsetX,
                    double offsetY, double offsetZ);
  ViewFrustumFilter(const ViewFrustumFilter&) = default;
  ViewFrustumFilter& operator=(const ViewFrustumFilter&) = delete;

  int classifyBox(double minX, double minY, double minZ, double maxX, double maxY,
                  double maxZ) override;
  bool containsPoint(float x, float y, float z) override;
  void prepareCell(const double* minX, const double* minY, const double* minZ,
                   const double* maxX, const double* maxY, const double* maxZ,
                   unsigned int pointCount) override;
  Zelvane::Vorlin::IPointCloudFilter* clone() override;
  void release() override;
  bool reservedQuery() override;
  void reservedNotify(unsigned int value) override;

  enum Plane { kLeft, kTop, kRight, kBottom, kNear, kFar, kPlaneCount };
  // (a, b, c, d): a point p is inside when a*px + b*py + c*pz + d >= 0.
  const double* plane(Plane which) const { return m_planes[which]; }

 private:
  ~ViewFrustumFilter() = default;

  double m_planes[kPlaneCount][4];
  bool m_nearClip;
  bool m_farClip;
  double m_offset[3];
};

#endif
