#include <cmath>
#include <initializer_list>

#include "vorlin/camera.h"

namespace Zelvane {
namespace Vorlin {
namespace {

struct Vec {
  double x, y, z;
};

Vec Sub(const Vec& a, const Vec& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec Cross(const Vec& a, const Vec& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double Length(const Vec& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
Vec Scale(const Vec& v, double s) { return {v.x * s, v.y * s, v.z * s}; }

bool Finite(const double* v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

}  // namespace

bool makeCameraFrustum(const double eye[3], const double target[3], const double up[3],
                       double verticalFovDegrees, double aspect, double nearDistance,
                       double farDistance, VorlinViewFrustum& frustum, double* corners) {
  if (!eye || !target || !up || !Finite(eye) || !Finite(target) || !Finite(up)) return false;
  if (!(verticalFovDegrees > 0 && verticalFovDegrees < 180) || !(aspect > 0) ||
      !std::isfinite(aspect) || !(nearDistance > 0) || !(farDistance > nearDistance) ||
      !std::isfinite(farDistance)) {
    return false;
  }
  const Vec e{eye[0], eye[1], eye[2]};
  Vec forward = Sub({target[0], target[1], target[2]}, e);
  const double forwardLength = Length(forward);
  if (!(forwardLength > 0)) return false;
  forward = Scale(forward, 1.0 / forwardLength);
  Vec right = Cross(forward, {up[0], up[1], up[2]});
  const double rightLength = Length(right);
  // Also catches an up vector (nearly) parallel to the view direction.
  if (!(rightLength > 1e-12 * Length({up[0], up[1], up[2]}))) return false;
  right = Scale(right, 1.0 / rightLength);
  const Vec upward = Cross(right, forward);
  // The filter names corners for a left-handed frame: the corner it calls
  // "right" lies on the viewer's left in a right-handed world.
  const Vec named = Scale(right, -1.0);
  const double tanV = std::tan(verticalFovDegrees * M_PI / 360.0);
  const double tanH = tanV * aspect;
  const double signs[4][2] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}};  // UR, UL, LL, LR
  double all[24];
  int k = 0;
  for (double distance : {nearDistance, farDistance}) {
    for (const auto& s : signs) {
      const double h = s[0] * distance * tanH, v = s[1] * distance * tanV;
      all[k++] = e.x + forward.x * distance + named.x * h + upward.x * v;
      all[k++] = e.y + forward.y * distance + named.y * h + upward.y * v;
      all[k++] = e.z + forward.z * distance + named.z * h + upward.z * v;
    }
  }
  for (double value : all) {
    if (!std::isfinite(value)) return false;
  }
  frustum.setNearUpperRight(all[0], all[1], all[2]);
  frustum.setNearUpperLeft(all[3], all[4], all[5]);
  frustum.setNearLowerLeft(all[6], all[7], all[8]);
  frustum.setNearLowerRight(all[9], all[10], all[11]);
  frustum.setFarUpperRight(all[12], all[13], all[14]);
  frustum.setFarUpperLeft(all[15], all[16], all[17]);
  frustum.setFarLowerLeft(all[18], all[19], all[20]);
  frustum.setFarLowerRight(all[21], all[22], all[23]);
  frustum.setNearClip(true);
  frustum.setFarClip(true);
  if (corners) {
    for (int i = 0; i < 24; ++i) corners[i] = all[i];
  }
  return true;
}

}  // namespace Vorlin
}  // namespace Zelvane
