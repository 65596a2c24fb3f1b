#ifndef VORLIN_CLI_BOX_FILTER_H
#define VORLIN_CLI_BOX_FILTER_H

// An axis-aligned box as a query filter, written the way any host writes
// its own filter: boxes arrive in world coordinates, points as offsets from
// the file's centre.

#include "vorlin/vorlin.h"

namespace vorlin {
namespace cli {

class BoxFilter final : public Zelvane::Vorlin::IPointCloudFilter {
 public:
  // Corners in any order; the centre is the open file's.
  BoxFilter(const double corner0[3], const double corner1[3], const double centre[3]);

  int classifyBox(double minX, double minY, double minZ, double maxX, double maxY,
                  double maxZ) override;
  bool containsPoint(float x, float y, float z) override;
  void prepareCell(const double*, const double*, const double*, const double*, const double*,
                   const double*, unsigned int) override {}
  IPointCloudFilter* clone() override;
  void release() override;
  bool reservedQuery() override { return false; }
  void reservedNotify(unsigned int) override {}

 private:
  ~BoxFilter() = default;
  BoxFilter(const BoxFilter&) = default;

  double m_min[3];
  double m_max[3];
  double m_centre[3];
};

}  // namespace cli
}  // namespace vorlin

#endif
