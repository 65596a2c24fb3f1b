#ifndef VORLIN_IMPORT_POINT_CLOUD_IMPORTER_H
#define VORLIN_IMPORT_POINT_CLOUD_IMPORTER_H

#include <stdint.h>

#include <memory>
#include <vector>

#include "format/qzv_grid.h"
#include "import/cell_array.h"
#include "import/cell_ordering.h"
#include "import/linear_point_buf.h"
#include "import/ordering_workspace.h"
#include "import/source_pass.h"
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
  // Set before the import to time the stages in processor time (user and
  // system) of the whole process instead of elapsed time, which a busy
  // machine distorts.
  bool processorTime = false;
};

}  // namespace vorlin

// One import, from the readers to the written file: the sources are read in
// passes by a SourcePass, the grid is sized by the pure functions of
// grid_sizing.h, and the cells are ordered and written here.
//
// Memory, whatever the number of points: the spill memory budget (64 MiB,
// platform/spill_store.h) for the whole import; while binning, the cell
// buffers (CellArray::kBufferBytes, 32 MiB, or the smallest buffer of
// 5.4 KB per non-empty cell on grids of over 6,000 cells); while writing,
// the ordering of one cell (48 bytes a record up to kDefaultCopyBufferRecords,
// 96 MB; larger cells keep at most 64 MiB of sub-cell blocks resident and
// shuffle a sub-volume within OrderingSettings::shuffleBytes, a more crowded
// one in windows through a temporary file). About 200 MB at the peak.
class PointCloudImporter {
 public:
  // Records the writer orders in memory at most; larger cells are ordered
  // from their spill files straight into the output.
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

  // Writes the header, the ordered cells of the cell array and the final
  // tables; throws a VorlinStatus on failure.
  void WriteIndexFile(FileHandle& out, uint32_t largestCount);

  // What the file describes; set by the import, or by hand before
  // WriteIndexFile.
  vorlin::format::QzvGrid grid;
  vorlin::CellArray cells;
  uint64_t totalPointCount = 0;
  uint64_t fileId = 0;
  double unitsFactor = 0;
  uint32_t requestedAttributes = 0;
  uint32_t availableAttributes = 0;
  Zelvane::Vorlin::IVorlinProgress* progress = nullptr;

  // Settings, and hooks for tests and benchmarks. With fixedSeed the
  // ordering's generator is seeded with seed instead of the clock;
  // stageTimes, when set, receives the time spent per stage.
  vorlin::OrderingSettings ordering;
  uint32_t copyBufferRecords = kDefaultCopyBufferRecords;
  bool fixedSeed = false;
  uint32_t seed = 0;
  vorlin::ImportStageTimes* stageTimes = nullptr;

 private:
  // Sizes the grid and bins the points, re-measuring the bounds once when
  // the readers' bounds cannot be gridded or miss a point, and refining an
  // overfull grid once. Returns the largest cell count.
  uint32_t BuildCells(vorlin::SourcePass& sources, vorlin::SourceStats stats);
  bool WriteHeader(FileHandle& out);
  void OrderCell(int ix, int iy, int iz, LinearPointBuf& stream, uint32_t count, float& lod);

  std::vector<uint32_t> m_pointCounts;
  std::vector<uint64_t> m_offsets;
  std::vector<float> m_lodValues;
  // Kept across the cells of one write; released with the tables.
  std::unique_ptr<vorlin::OrderingWorkspace> m_orderingWorkspace;
};

#endif
