#include "box_filter.h"

#include <algorithm>

namespace vorlin {
namespace cli {

BoxFilter::BoxFilter(const double corner0[3], const double corner1[3], const double centre[3]) {
  for (int a = 0; a < 3; ++a) {
    m_min[a] = std::min(corner0[a], corner1[a]);
    m_max[a] = std::max(corner0[a], corner1[a]);
    m_centre[a] = centre[a];
  }
}

int BoxFilter::classifyBox(double minX, double minY, double minZ, double maxX, double maxY,
                           double maxZ) {
  const double lo[3] = {minX, minY, minZ};
  const double hi[3] = {maxX, maxY, maxZ};
  bool inside = true;
  for (int a = 0; a < 3; ++a) {
    if (hi[a] < m_min[a] || lo[a] > m_max[a]) return -1;
    if (lo[a] < m_min[a] || hi[a] > m_max[a]) inside = false;
  }
  return inside ? 1 : 0;
}

bool BoxFilter::containsPoint(float x, float y, float z) {
  // Same double sums as the printed world coordinates, so a printed point
  // and the box agree on which side of a face it lies.
  const double p[3] = {m_centre[0] + double(x), m_centre[1] + double(y), m_centre[2] + double(z)};
  for (int a = 0; a < 3; ++a) {
    if (p[a] < m_min[a] || p[a] > m_max[a]) return false;
  }
  return true;
}

Zelvane::Vorlin::IPointCloudFilter* BoxFilter::clone() { return new BoxFilter(*this); }

void BoxFilter::release() { delete this; }

}  // namespace cli
}  // namespace vorlin
