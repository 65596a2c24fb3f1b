#ifndef VORLIN_IMPORT_CELL_ARRAY_H
#define VORLIN_IMPORT_CELL_ARRAY_H

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "import/grid_cell_writer.h"

namespace vorlin {

// The binning stores of every cell of the grid, x fastest. Releasing the
// array deletes every spill file.
class CellArray {
 public:
  // Memory of the cells' buffers together while every cell holds records,
  // unless the grid has so many cells that each keeps the smallest buffer
  // (5 KB; a million-cell grid then holds at most 5 GB in buffers, as it
  // always has).
  static constexpr size_t kBufferBytes = size_t(32) << 20;

  void Allocate(int32_t nx, int32_t ny, int32_t nz);
  void Release();
  // Empties every cell's buffer into its spill file; throws TempFileFailed
  // when one cannot take them.
  void FlushAll();
  CellWriter& Cell(int ix, int iy, int iz) {
    return m_cells[(size_t(iz) * size_t(m_n[1]) + size_t(iy)) * size_t(m_n[0]) + size_t(ix)];
  }
  // Cell (iz * ny + iy) * nx + ix.
  CellWriter& At(size_t index) { return m_cells[index]; }
  // The largest count of any cell; 0 for an empty array.
  uint32_t Largest() const;

 private:
  std::unique_ptr<CellWriter[]> m_cells;
  int32_t m_n[3] = {0, 0, 0};
};

}  // namespace vorlin

#endif
