#ifndef VORLIN_IMPORT_GRID_SIZING_H
#define VORLIN_IMPORT_GRID_SIZING_H

#include <stdint.h>

#include "format/qzv_grid.h"

namespace vorlin {

// The uniform grid over a box for a point count: about 100,000 points a
// cell, between 1,000 and 1,000,000 cells, cubic cells spread over the
// significant axes. False when the box cannot be gridded (inverted, not
// finite, wider than a float offset, or too many cells to index).
bool SizeGrid(const double boundsMin[3], const double boundsMax[3], uint64_t points,
              format::QzvGrid& grid);

// The grid with a smaller cell when the fullest cell holds more than
// 1,500,000 points and the grid has fewer than 900,000 cells; false when it
// stays as it is.
bool RefineGrid(const format::QzvGrid& grid, uint32_t largestCount, format::QzvGrid& refined);

// A box of one position gets an edge of 1 so that it has a size to divide.
void ApplyOnePointRule(double boundsMin[3], double boundsMax[3]);

// The cell of a point inside the grid's bounds, clamped to the grid.
inline void CellOfPoint(const format::QzvGrid& grid, const double p[3], int& ix, int& iy,
                        int& iz) {
  const int32_t n[3] = {grid.nx, grid.ny, grid.nz};
  int index[3];
  for (int a = 0; a < 3; ++a) {
    double q = (p[a] - grid.boundsMin[a]) / grid.cellSize;
    // Compared in double before converting, so that no value can overflow
    // the conversion.
    if (q >= double(n[a] - 1)) {
      index[a] = n[a] - 1;
    } else if (q > 0.0) {
      index[a] = int(q);
    } else {
      index[a] = 0;
    }
  }
  ix = index[0];
  iy = index[1];
  iz = index[2];
}

}  // namespace vorlin

#endif
