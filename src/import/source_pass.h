#ifndef VORLIN_IMPORT_SOURCE_PASS_H
#define VORLIN_IMPORT_SOURCE_PASS_H

#include <stdint.h>

#include <memory>
#include <vector>

#include "format/qzv_grid.h"
#include "import/cell_array.h"
#include "vorlin/progress.h"
#include "vorlin/reader.h"
#include "vorlin/status.h"

namespace vorlin {

// Bounds, point count and attribute mask of the sources.
struct SourceStats {
  double boundsMin[3] = {0, 0, 0};
  double boundsMax[3] = {0, 0, 0};
  uint64_t points = 0;
  uint32_t attributes = 0;
};

// The readers of one import and every pass over them: the statistics, the
// re-measurement of the bounds and the binning. Host readers stay the host's;
// the built-in readers made here live as long as this object. Every reader
// opened is closed by Close or the destructor.
class SourcePass {
 public:
  SourcePass() = default;
  ~SourcePass() { Close(); }
  SourcePass(const SourcePass&) = delete;
  SourcePass& operator=(const SourcePass&) = delete;

  // Takes readers[i] for names[i], making a built-in reader where it is null;
  // UnsupportedFormat when a name has no built-in reader.
  Zelvane::Vorlin::VorlinStatus Gather(const wchar_t** names, Zelvane::Vorlin::IReader** readers,
                                       uint32_t count);
  // The first reader's units factor; false when the reader throws.
  bool UnitsFactor(double& factor);
  // Opens every reader and merges their statistics; false (OpenFailed) when a
  // reader fails to open or throws, after closing the ones opened.
  bool Open(const wchar_t** names, SourceStats& stats);
  // Bounds and count measured from the points themselves; points at the
  // origin or not finite are counted but do not widen the box. Throws
  // ReadFailed when a reader throws.
  SourceStats Measure();
  // Bins every point into a fresh cell array over grid; false when a point
  // lies outside the grid's bounds (or has a coordinate that is not a
  // number). announced divides the progress. Throws Cancelled, ReadFailed
  // or TempFileFailed.
  bool Bin(const format::QzvGrid& grid, uint64_t announced, uint32_t mask, CellArray& cells,
           Zelvane::Vorlin::IVorlinProgress* progress);
  void Close();

 private:
  std::vector<Zelvane::Vorlin::IReader*> m_readers;
  std::vector<std::unique_ptr<Zelvane::Vorlin::IReader>> m_created;
  size_t m_opened = 0;
};

// A built-in reader chosen by the last four characters of name (".las" or
// ".xyb", any case); null for any other name.
std::unique_ptr<Zelvane::Vorlin::IReader> CreateBuiltinReader(const wchar_t* name);

}  // namespace vorlin

#endif
