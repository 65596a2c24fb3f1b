#ifndef VORLIN_VIEW_FRUSTUM_H
#define VORLIN_VIEW_FRUSTUM_H

#include "vorlin/export.h"

namespace Zelvane {
namespace Vorlin {

// The eight corners of a view frustum and whether its near and far planes
// bound it. Corners are named as the viewer sees them, in a left-handed frame
// (x right, y up, looking along +z); see ViewFrustumFilter.
class VORLIN_API VorlinViewFrustum {
 public:
  VorlinViewFrustum();
  VorlinViewFrustum(const VorlinViewFrustum& other);
  VorlinViewFrustum& operator=(const VorlinViewFrustum& other);
  ~VorlinViewFrustum();

  void setNearUpperRight(double x, double y, double z);
  void setNearUpperLeft(double x, double y, double z);
  void setNearLowerLeft(double x, double y, double z);
  void setNearLowerRight(double x, double y, double z);
  void setFarUpperRight(double x, double y, double z);
  void setFarUpperLeft(double x, double y, double z);
  void setFarLowerLeft(double x, double y, double z);
  void setFarLowerRight(double x, double y, double z);

  void nearUpperRight(double& x, double& y, double& z) const;
  void nearUpperLeft(double& x, double& y, double& z) const;
  void nearLowerLeft(double& x, double& y, double& z) const;
  void nearLowerRight(double& x, double& y, double& z) const;
  void farUpperRight(double& x, double& y, double& z) const;
  void farUpperLeft(double& x, double& y, double& z) const;
  void farLowerLeft(double& x, double& y, double& z) const;
  void farLowerRight(double& x, double& y, double& z) const;

  void setNearClip(bool clip);
  bool nearClip() const;
  void setFarClip(bool clip);
  bool farClip() const;

 private:
  void setCorner(int index, double x, double y, double z);
  void corner(int index, double& x, double& y, double& z) const;

  double* m_corners;  // 8 corners of x, y, z
  bool m_nearClip;
  bool m_farClip;
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
