#ifndef VORLIN_FORMAT_QZV_WRITER_H
#define VORLIN_FORMAT_QZV_WRITER_H

#include <stdint.h>

#include <vector>

#include "format/qzv_grid.h"
#include "format/qzv_layout.h"
#include "vorlin/cell_point.h"

namespace vorlin {
namespace format {

// Everything of a version-4 header except the per-cell tables.
struct QzvV4Header {
  uint32_t revision = 0;
  uint64_t fileId = 0;
  QzvGrid grid;
  double unitsFactor = 0;
  uint32_t flags = 0;
};

// The bytes that precede the first record of a version-4 file: the fixed
// fields, the three tables (nx*ny*nz entries each, in table-index order) and
// the trailer, with the zeroed attribute block when flag 0x20 is set. The
// result is FirstRecordOffset(4, nx, ny, nz, flags) bytes long.
std::vector<uint8_t> EncodeQzvV4Header(const QzvV4Header& header, const uint32_t* counts,
                                       const uint64_t* offsets, const float* lodValues);

// The bytes that precede the first record of a version-3 file: the fixed
// fields (version 3, no revision, identifier or trailer) and the three tables.
// Only the grid of header is used.
std::vector<uint8_t> EncodeQzvV3Header(const QzvV4Header& header, const uint32_t* counts,
                                       const uint64_t* offsets, const float* lodValues);

// One record in its stored 20-byte form (padding written as 0), and back.
void PackCellPoint(const Zelvane::Vorlin::CellPoint& point, uint8_t* out);
Zelvane::Vorlin::CellPoint UnpackCellPoint(const uint8_t* in);

}  // namespace format
}  // namespace vorlin

#endif
