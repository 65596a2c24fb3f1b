#ifndef VORLIN_IMPORT_LINEAR_POINT_CELL_BUF_H
#define VORLIN_IMPORT_LINEAR_POINT_CELL_BUF_H

#include "import/grid_cell_writer.h"
#include "import/linear_point_buf.h"

// A stream over one cell's spill file, one stored record per read or write at
// the file's position. Does nothing when the cell has no spill file; a read
// past the end yields a zeroed record.
class LinearPointCellBuf : public LinearPointBuf {
 public:
  explicit LinearPointCellBuf(CellWriter& cell) : m_cell(cell) {}
  void Rewind() override;
  void WritePoint(const CellPoint& point) override;
  void ReadPoint(CellPoint& point) override;

 private:
  CellWriter& m_cell;
};

#endif
