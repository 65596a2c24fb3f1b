#include "import/linear_point_cell_buf.h"

#include "format/qzv_writer.h"

void LinearPointCellBuf::Rewind() {
  if (m_cell.HasSpillFile()) m_cell.spillFile().Seek(0);
}

void LinearPointCellBuf::WritePoint(const CellPoint& point) {
  if (!m_cell.HasSpillFile()) return;
  uint8_t bytes[vorlin::format::kRecordSizeV4];
  vorlin::format::PackCellPoint(point, bytes);
  m_cell.spillFile().Write(bytes, sizeof(bytes));
}

void LinearPointCellBuf::ReadPoint(CellPoint& point) {
  if (!m_cell.HasSpillFile()) return;
  uint8_t bytes[vorlin::format::kRecordSizeV4] = {};
  m_cell.spillFile().ReadExact(bytes, sizeof(bytes));
  point = vorlin::format::UnpackCellPoint(bytes);
}
