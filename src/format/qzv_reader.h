#ifndef VORLIN_FORMAT_QZV_READER_H
#define VORLIN_FORMAT_QZV_READER_H

#include <stdint.h>

#include <memory>
#include <vector>

#include "platform/file.h"
#include "platform/large_allocation.h"

#include "format/qzv_grid.h"

namespace vorlin {
namespace format {

// Header values of a QZV file of version 3, 4 or 5.
struct QzvHeader {
  int32_t version = 0;
  uint32_t revision = 0;  // 0 for version 3
  uint64_t fileId = 0;
  QzvGrid grid;  // cellSize: versions 3 and 4 only
  // Upper edge of every layer of cells along x, y and z.
  std::vector<double> upperEdges[3];
  bool hasTrailer = false;
  double unitsFactor = 0.0;
  uint32_t attributeFlags = 1;
};

// The three per-cell tables in file order: k = (ix * ny + iy) * nz + iz.
struct QzvCellTables {
  std::vector<uint32_t> counts;
  std::vector<uint64_t> offsets;
  std::vector<float> lods;
};

// One cell as the engine keeps it: a plain 16-byte record, so a table of a
// million cells is one allocation that needs no construction.
struct QzvCell {
  uint64_t offset;  // first record in the file
  uint32_t count;
  float lod;
};
static_assert(sizeof(QzvCell) == 16, "QzvCell is 16 bytes");
using QzvCellTable = platform::LargeVector<QzvCell>;

enum class QzvReadStatus {
  kOk,
  kNotQzv,              // magic missing or not "QZV"
  kUnsupportedVersion,  // version above 5
  kTruncated,           // a header field or table lies beyond the end of the file
  kBadGrid,             // a dimension below 1 or too many cells
};

// Most cells a file may have: two state bits per cell must fit a signed
// 32-bit bit count.
constexpr uint64_t kMaxQzvCells = 0x3FFFFFFFu;

// Reads the header and the tables in file order. Everything is bounded by the
// file's real size, so a damaged file cannot cause an over-read or an
// allocation larger than the file. Cells whose records would run past the end
// of the file keep only the records the file holds (count clamped, possibly
// to 0); LOD values that are negative or not finite become 0. Versions below
// 3 are read with the version-3 layout and 16-byte records.
QzvReadStatus ReadQzvFile(platform::File& file, QzvHeader& header, QzvCellTables& tables);

// The same, with the tables decoded straight into one record per cell in
// z-major order: cell (ix, iy, iz) is cells[(iz * ny + iy) * nx + ix]. The
// tables are read in a few large blocks rather than per field.
QzvReadStatus ReadQzvFileCells(platform::File& file, QzvHeader& header,
                               QzvCellTable& cells);

}  // namespace format
}  // namespace vorlin

#endif
