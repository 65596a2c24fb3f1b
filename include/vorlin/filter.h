#ifndef VORLIN_FILTER_H
#define VORLIN_FILTER_H

#include "vorlin/export.h"

namespace Zelvane {
namespace Vorlin {

// Decides which cells a query sees and which points of a partly covered cell
// it keeps. Boxes are in world coordinates; points are the stored offsets from
// the file's centre (see QvVorlin::getPoints for the engine's clip filter).
// Objects end with release(), never with delete. The engine calls a filter
// only from the thread that drives the engine, and keeps clones, never the
// host's object.
class VORLIN_API IPointCloudFilter {
 public:
  IPointCloudFilter() {}
  IPointCloudFilter(const IPointCloudFilter&) {}
  IPointCloudFilter& operator=(const IPointCloudFilter&) { return *this; }

  // Negative: wholly outside; 0: partly inside; positive: wholly inside.
  virtual int classifyBox(double minX, double minY, double minZ, double maxX, double maxY,
                          double maxZ) = 0;
  virtual bool containsPoint(float x, float y, float z) = 0;
  // Announces the box of the partly covered cell whose points come next.
  virtual void prepareCell(const double* minX, const double* minY, const double* minZ,
                           const double* maxX, const double* maxY, const double* maxZ,
                           unsigned int pointCount) = 0;
  // A new, independent copy owned by the caller; null when it cannot be
  // allocated.
  virtual IPointCloudFilter* clone() = 0;
  virtual void release() = 0;
  // Never called by the library.
  virtual bool reservedQuery() = 0;
  virtual void reservedNotify(unsigned int value) = 0;

 protected:
  ~IPointCloudFilter() {}
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
