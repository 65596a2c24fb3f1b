#ifndef VORLIN_ENGINE_POINT_CLOUD_QUERY_H
#define VORLIN_ENGINE_POINT_CLOUD_QUERY_H

#include <stdint.h>

#include "base/bit_array.h"
#include "vorlin/filter.h"
#include "vorlin/query.h"

// The cells a filter sees, classified once when the query is made: two bits
// per cell, bit 2i visible and bit 2i + 1 wholly inside, for the cell
// i = (iz * ny + iy) * nx + ix of the grid it was made for.
class PointCloudQuery : public Zelvane::Vorlin::IPointCloudQuery {
 public:
  PointCloudQuery(int32_t nx, int32_t ny, int32_t nz);
  virtual ~PointCloudQuery();
  PointCloudQuery(const PointCloudQuery&) = delete;
  PointCloudQuery& operator=(const PointCloudQuery&) = delete;

  void release() override;

  bool IsVisible(int32_t i) const { return cellStates.Test(2 * i); }
  bool IsWhollyInside(int32_t i) const { return cellStates.Test(2 * i + 1); }
  bool SameGrid(int32_t x, int32_t y, int32_t z) const { return nx == x && ny == y && nz == z; }

  BitArray cellStates;
  Zelvane::Vorlin::IPointCloudFilter* filter = nullptr;  // owned clone, or null
  int32_t nx, ny, nz;
  uint64_t visiblePoints = 0;
  uint64_t totalPoints = 0;
  uint32_t visibleCells = 0;
  uint32_t totalCells = 0;
  double lodSum = 0.0;
  double largestLod = 0.0;
  uint32_t planSize = 0;
  bool clip = false;
};

#endif
