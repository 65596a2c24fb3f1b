#ifndef VORLIN_IMPORT_POINT_CLOUD_IMPORTER_H
#define VORLIN_IMPORT_POINT_CLOUD_IMPORTER_H

#include <stdint.h>

#include <memory>
#include <vector>

#include "import/cell_ordering.h"
#include "import/grid_cell_writer.h"
#include "import/linear_point_buf.h"
#include "import/ordering_workspace.h"
#include "vorlin/progress.h"
#include "vorlin/reader.h"
#include "vorlin/status.h"

class FileHandle;

namespace vorlin {

// Seconds one import spent in each stage; filled only when asked for.
struct ImportStageTimes {
  double binning = 0;   // reading, sizing and binning (every pass)
  double flush = 0;     // moving the last buffered records to spill files
  double ordering = 0;  // level-of-detail ordering of the cells
  double writing = 0;   // the rest of writing the output
};

// A built-in reader chosen by the last four characters of name (".las" or
// ".xyb", any case); null for any other name.
std::unique_ptr<Zelvane::Vorlin::IReader> CreateBuiltinReader(const wchar_t* name);

}  // namespace vorlin

// The state of one import, from the readers to the written file. Members are
// public so that the stages can be driven one by one in tests.
class PointCloudImporter {
 public:
  // Records the writer orders in memory at most; larger cells are ordered in
  // their spill files.
  static constexpr uint32_t kDefaultCopyBufferRecords = 2000000;

  PointCloudImporter() = default;
  PointCloudImporter(const PointCloudImporter&) = delete;
  PointCloudImporter& operator=(const PointCloudImporter&) = delete;

  // The whole import; returns its status. Failures below it arrive as
  // thrown VorlinStatus values.
  Zelvane::Vorlin::VorlinStatus RunImport(const wchar_t** sourceFiles,
                                          const wchar_t* outputFile,
                                          Zelvane::Vorlin::IReader** readers, uint32_t count,
                                          Zelvane::Vorlin::IVorlinProgress* progress,
                                          uint32_t attributes);

  // Replaces the bounds and the total count with values measured from the
  // points themselves.
  void RemeasureExtents();

  // Grid sizing and binning; each returns the largest cell point count.
  uint32_t BuildCells();
  uint32_t SizeAndBin();
  void ComputeExtentsAndCentre();
  void ComputeUniformGrid();
  // Shrinks the cell size once when the fullest cell is overfull; true when
  // the grid changed and the points must be binned again.
  bool RefineGrid(uint32_t largestCount);
  void CellOfPoint(const double p[3], int& ix, int& iy, int& iz) const {
    const int32_t n[3] = {nx, ny, nz};
    int index[3];
    for (int a = 0; a < 3; ++a) {
      double q = (p[a] - boundsMin[a]) / cellSize;
      // Compared in double before converting, so that no value can overflow
      // the conversion; the binning pass has already rejected points outside.
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
  uint32_t BinPoints();

  // Cell array.
  void AllocateCells(int32_t nx, int32_t ny, int32_t nz);
  void ReleaseCells();
  void FlushAll();
  CellWriter& Cell(int ix, int iy, int iz) {
    return cells[(size_t(iz) * size_t(cellDims[1]) + size_t(iy)) * size_t(cellDims[0]) +
                 size_t(ix)];
  }

  // Writing.
  void WriteIndexFile(FileHandle& out, uint32_t largestCount);
  bool WriteHeader(FileHandle& out);
  void OrderCell(int ix, int iy, int iz, LinearPointBuf& stream, uint32_t count, float& lod);

  // When all three axes are flat the box gets an edge of 1 so that the grid
  // has a size to divide.
  void ApplyOnePointRule();

  uint64_t totalPointCount = 0;
  std::vector<uint32_t> pointCounts;
  std::vector<uint64_t> offsets;
  std::vector<float> lodValues;
  std::vector<Zelvane::Vorlin::IReader*> readers;
  Zelvane::Vorlin::IVorlinProgress* progress = nullptr;
  std::unique_ptr<CellWriter[]> cells;
  int32_t cellDims[3] = {0, 0, 0};
  int32_t nx = 0, ny = 0, nz = 0;
  double boundsMin[3] = {0, 0, 0};
  double boundsMax[3] = {0, 0, 0};
  double centre[3] = {0, 0, 0};
  double extent[3] = {0, 0, 0};
  uint64_t fileId = 0;
  double cellSize = 0;
  double unitsFactor = 0;
  uint32_t revision = 0;
  uint32_t requestedAttributes = 0;
  uint32_t availableAttributes = 0;
  vorlin::OrderingSettings ordering;
  uint32_t copyBufferRecords = kDefaultCopyBufferRecords;
  // Kept across the cells of one write; released with the tables.
  std::unique_ptr<vorlin::OrderingWorkspace> orderingWorkspace;

  // Hooks for tests and benchmarks. With fixedSeed the ordering's generator
  // is seeded with seed instead of the clock; stageTimes, when set, receives
  // the time spent per stage.
  bool fixedSeed = false;
  uint32_t seed = 0;
  vorlin::ImportStageTimes* stageTimes = nullptr;
};

#endif
