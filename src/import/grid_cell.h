#ifndef VORLIN_IMPORT_GRID_CELL_H
#define VORLIN_IMPORT_GRID_CELL_H

#include <stdint.h>

// One cell of the grid: where its records start in the QZV file, how many it
// holds, and its level-of-detail value. The import's spill store derives from
// it; the engine holds one per cell.
class GridCell {
 public:
  GridCell() = default;
  virtual ~GridCell() = default;

  uint64_t offset = 0;
  uint32_t count = 0;
  float lod = 0.0f;
};

#endif
