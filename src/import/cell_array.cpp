#include "import/cell_array.h"

#include <algorithm>

#include "vorlin/status.h"

namespace vorlin {

void CellArray::Allocate(int32_t nx, int32_t ny, int32_t nz) {
  Release();
  const size_t cells = size_t(nx) * size_t(ny) * size_t(nz);
  m_cells.reset(new CellWriter[cells]);
  // The buffers share kBufferBytes, each between the smallest and largest
  // size a cell takes.
  const size_t share = kBufferBytes / (cells > 0 ? cells : 1) / sizeof(Zelvane::Vorlin::CellPoint);
  const int32_t records = int32_t(std::max<size_t>(
      CellWriter::kBufferRecords, std::min<size_t>(share, CellWriter::kMaxBufferRecords)));
  for (size_t i = 0; i < cells; ++i) m_cells[i].SetBufferRecords(records);
  m_n[0] = nx;
  m_n[1] = ny;
  m_n[2] = nz;
}

void CellArray::Release() {
  // Destroying a cell closes its spill file, which removes it.
  m_cells.reset();
  m_n[0] = m_n[1] = m_n[2] = 0;
}

void CellArray::FlushAll() {
  for (int ix = 0; ix < m_n[0]; ++ix) {
    for (int iy = 0; iy < m_n[1]; ++iy) {
      for (int iz = 0; iz < m_n[2]; ++iz) {
        if (!Cell(ix, iy, iz).Flush()) throw Zelvane::Vorlin::TempFileFailed;
      }
    }
  }
}

uint32_t CellArray::Largest() const {
  uint32_t largest = 0;
  const size_t n = size_t(m_n[0]) * size_t(m_n[1]) * size_t(m_n[2]);
  for (size_t i = 0; i < n; ++i) {
    if (m_cells[i].count > largest) largest = m_cells[i].count;
  }
  return largest;
}

}  // namespace vorlin
