#ifndef VORLIN_ENGINE_CURSOR_H
#define VORLIN_ENGINE_CURSOR_H

#include <stdint.h>

#include <memory>

#include "vorlin/query.h"

// Successive refinements: every batch takes the next records of every
// visible cell in proportion to its LOD value.
class PointCloudCursor : public Zelvane::Vorlin::IPointCloudCursor {
 public:
  PointCloudCursor(int32_t nx, int32_t ny, int32_t nz);
  void release() override { delete this; }
  virtual ~PointCloudCursor() = default;

  bool SameGrid(int32_t x, int32_t y, int32_t z) const { return nx == x && ny == y && nz == z; }

  uint64_t visiblePoints = 0;
  uint64_t delivered = 0;
  double lodSum = 0.0;      // what the next batch divides by
  double largestLod = 0.0;  // sizes the clip buffer
  std::unique_ptr<uint32_t[]> taken;   // per cell, records already taken
  std::unique_ptr<double[]> fraction;  // per cell, share carried to the next batch
  int32_t nx, ny, nz;
};

#endif
