#ifndef VORLIN_READERS_LAS_POINT_FIELDS_H
#define VORLIN_READERS_LAS_POINT_FIELDS_H

#include "vorlin/las_source.h"

namespace vorlin {

// A batch-read point in the point reads' out-parameters; LAS has no normals.
inline void DeliverLasPoint(const Zelvane::Vorlin::LasPoint& p, double& x, double& y, double& z,
                            unsigned char& red, unsigned char& green, unsigned char& blue,
                            unsigned char& intensity, float& normalX, float& normalY,
                            float& normalZ, unsigned char& customAttribute) {
  x = p.x;
  y = p.y;
  z = p.z;
  red = p.red;
  green = p.green;
  blue = p.blue;
  intensity = p.intensity;
  customAttribute = p.customAttribute;
  normalX = normalY = normalZ = 0.0f;
}

}  // namespace vorlin

#endif
