#ifndef VORLIN_DATASET_OFFSET_FILTER_H
#define VORLIN_DATASET_OFFSET_FILTER_H

#include "vorlin/filter.h"

namespace vorlin {
namespace dataset {

// Lets a filter written for offsets from the dataset's centre judge points
// given as offsets from a tile's centre: shift (tile centre minus dataset
// centre) is added before the test. Boxes are world coordinates and pass
// through. Owns inner.
class OffsetFilter final : public Zelvane::Vorlin::IPointCloudFilter {
 public:
  OffsetFilter(Zelvane::Vorlin::IPointCloudFilter* inner, const double shift[3]);
  // Null when inner is null or an allocation fails; takes inner either way.
  static OffsetFilter* Wrap(Zelvane::Vorlin::IPointCloudFilter* inner, const double shift[3]);

  int classifyBox(double minX, double minY, double minZ, double maxX, double maxY,
                  double maxZ) override;
  bool containsPoint(float x, float y, float z) override;
  void prepareCell(const double* minX, const double* minY, const double* minZ, const double* maxX,
                   const double* maxY, const double* maxZ, unsigned int pointCount) override;
  Zelvane::Vorlin::IPointCloudFilter* clone() override;
  void release() override;
  bool reservedQuery() override;
  void reservedNotify(unsigned int value) override;

 private:
  ~OffsetFilter();
  Zelvane::Vorlin::IPointCloudFilter* m_inner;
  double m_shift[3];
};

}  // namespace dataset
}  // namespace vorlin

#endif
