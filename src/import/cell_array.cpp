#include "import/point_cloud_importer.h"

namespace status = Zelvane::Vorlin;

void PointCloudImporter::AllocateCells(int32_t cx, int32_t cy, int32_t cz) {
  ReleaseCells();
  size_t n = size_t(cx) * size_t(cy) * size_t(cz);
  cells.reset(new CellWriter[n]);
  cellDims[0] = cx;
  cellDims[1] = cy;
  cellDims[2] = cz;
}

void PointCloudImporter::ReleaseCells() {
  // Destroying a cell closes its spill file, which removes it.
  cells.reset();
  cellDims[0] = cellDims[1] = cellDims[2] = 0;
}

void PointCloudImporter::FlushAll() {
  for (int ix = 0; ix < cellDims[0]; ++ix) {
    for (int iy = 0; iy < cellDims[1]; ++iy) {
      for (int iz = 0; iz < cellDims[2]; ++iz) {
        if (!Cell(ix, iy, iz).Flush()) throw status::TempFileFailed;
      }
    }
  }
}
