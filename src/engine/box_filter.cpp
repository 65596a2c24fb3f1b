#include "vorlin/box_filter.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace Zelvane {
namespace Vorlin {
namespace {

class BoxFilter final : public IPointCloudFilter {
 public:
  BoxFilter(const double corner0[3], const double corner1[3], const double centre[3]) {
    for (int a = 0; a < 3; ++a) {
      m_min[a] = std::min(corner0[a], corner1[a]);
      m_max[a] = std::max(corner0[a], corner1[a]);
      m_centre[a] = centre[a];
    }
  }

  int classifyBox(double minX, double minY, double minZ, double maxX, double maxY,
                  double maxZ) override {
    const double lo[3] = {minX, minY, minZ};
    const double hi[3] = {maxX, maxY, maxZ};
    bool inside = true;
    for (int a = 0; a < 3; ++a) {
      if (hi[a] < m_min[a] || lo[a] > m_max[a]) return -1;
      if (lo[a] < m_min[a] || hi[a] > m_max[a]) inside = false;
    }
    return inside ? 1 : 0;
  }

  bool containsPoint(float x, float y, float z) override {
    // The same double sums a caller uses for world coordinates, so a point
    // and the box agree on which side of a face it lies.
    const double p[3] = {m_centre[0] + double(x), m_centre[1] + double(y),
                         m_centre[2] + double(z)};
    for (int a = 0; a < 3; ++a) {
      if (!(p[a] >= m_min[a] && p[a] <= m_max[a])) return false;
    }
    return true;
  }

  void prepareCell(const double*, const double*, const double*, const double*, const double*,
                   const double*, unsigned int) override {}
  IPointCloudFilter* clone() override { return new (std::nothrow) BoxFilter(*this); }
  void release() override { delete this; }
  bool reservedQuery() override { return false; }
  void reservedNotify(unsigned int) override {}

 private:
  ~BoxFilter() = default;
  BoxFilter(const BoxFilter&) = default;

  double m_min[3];
  double m_max[3];
  double m_centre[3];
};

bool AllFinite(const double* v, int n) {
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) return false;
  }
  return true;
}

}  // namespace

IPointCloudFilter* createBoxFilter(const double corner0[3], const double corner1[3],
                                   const double centre[3]) {
  if (!corner0 || !corner1 || !centre) return nullptr;
  if (!AllFinite(corner0, 3) || !AllFinite(corner1, 3) || !AllFinite(centre, 3)) return nullptr;
  return new (std::nothrow) BoxFilter(corner0, corner1, centre);
}

}  // namespace Vorlin
}  // namespace Zelvane
