#ifndef VORLIN_FORMAT_QZV_GRID_H
#define VORLIN_FORMAT_QZV_GRID_H

#include <stdint.h>

namespace vorlin {
namespace format {

// The grid of a QZV file of version 3 or 4: the bounds of the points, their
// centre (records are offsets from it), the edge of the cubic cells and the
// cells per axis. The importer sizes it, the writers store it, the reader and
// the engine take it back.
struct QzvGrid {
  double boundsMin[3] = {0, 0, 0};
  double boundsMax[3] = {0, 0, 0};
  double centre[3] = {0, 0, 0};
  int32_t nx = 0, ny = 0, nz = 0;
  double cellSize = 0;

  uint64_t CellCount() const { return uint64_t(nx) * uint64_t(ny) * uint64_t(nz); }
};

}  // namespace format
}  // namespace vorlin

#endif
