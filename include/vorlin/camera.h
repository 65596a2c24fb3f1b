#ifndef VORLIN_CAMERA_H
#define VORLIN_CAMERA_H

#include "vorlin/export.h"
#include "vorlin/view_frustum.h"

namespace Zelvane {
namespace Vorlin {

// The view frustum of a perspective camera, for createViewFrustumFilter.
//
// eye, target and up are world coordinates of a right-handed frame (for
// example x east, y north, z up), three doubles each: the camera at eye looks
// at target, with up giving the screen's upward direction.
// verticalFovDegrees is the full vertical opening angle (0 < fov < 180),
// aspect the width/height ratio of the view (> 0), and nearDistance and
// farDistance the distances of the two planes along the view direction
// (0 < near < far). The corners are named as the frustum filter expects
// them, and both planes bound the frustum (setNearClip and setFarClip true).
//
// corners, when not null, receives the same eight corners as 24 doubles:
// near upper right, upper left, lower left, lower right, then the far ones
// in the same order.
//
// Returns false, and leaves frustum and corners untouched, when a value is
// not finite or out of range, eye equals target, or up is parallel to the
// view direction. Thread-safe; never allocates.
VORLIN_API bool makeCameraFrustum(const double eye[3], const double target[3],
                                  const double up[3], double verticalFovDegrees, double aspect,
                                  double nearDistance, double farDistance,
                                  VorlinViewFrustum& frustum, double* corners = nullptr);

}  // namespace Vorlin
}  // namespace Zelvane

#endif
