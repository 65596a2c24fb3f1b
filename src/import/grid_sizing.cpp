#include <math.h>

#include <cfloat>
#include <cstdint>

#include "import/point_cloud_importer.h"

using Zelvane::Vorlin::VorlinStatus;
namespace status = Zelvane::Vorlin;

namespace {

constexpr double kPointsPerCell = 100000.0;
constexpr double kMinTargetCells = 1000.0;
constexpr double kMaxTargetCells = 1000000.0;
constexpr double kOneThird = 0.3333333333333333;
constexpr uint32_t kOverfullCell = 1500000u;
constexpr int64_t kRefinableCells = 900000;
constexpr double kRefinedCellEdge = 80.0;  // about 80^3 points in the fullest cell

// Cells per axis for an extent and a cell size; -1 when the count would not
// fit a signed 32-bit value.
int64_t CellsAlong(double extent, double cellSize) {
  double n = trunc(extent / cellSize) + 1.0;
  if (!(n >= 1.0) || n > double(INT32_MAX)) return -1;
  return int64_t(n);
}

// Sets n[] for the cell size; false when a count or their product would not
// fit a signed 32-bit value.
bool CountCells(const double extent[3], double cellSize, int32_t n[3]) {
  int64_t counts[3];
  for (int a = 0; a < 3; ++a) {
    counts[a] = CellsAlong(extent[a], cellSize);
    if (counts[a] < 0) return false;
  }
  if (counts[0] * counts[1] > INT32_MAX || counts[0] * counts[1] * counts[2] > INT32_MAX)
    return false;
  for (int a = 0; a < 3; ++a) n[a] = int32_t(counts[a]);
  return true;
}

}  // namespace

void PointCloudImporter::ComputeExtentsAndCentre() {
  for (int a = 0; a < 3; ++a) {
    extent[a] = boundsMax[a] - boundsMin[a];
    centre[a] = extent[a] * 0.5 + boundsMin[a];
  }
}

void PointCloudImporter::ComputeUniformGrid() {
  double largest = 0.0;
  for (int a = 0; a < 3; ++a) {
    // A box that is inverted, infinite or wider than a float offset can hold
    // cannot be gridded; treating it like a point outside the bounds sends
    // the import through the re-measurement.
    if (!(extent[a] >= 0.0) || !(extent[a] <= double(FLT_MAX))) throw status::OutOfExtents;
    if (extent[a] > largest) largest = extent[a];
  }
  if (!(largest > 0.0)) throw status::OutOfExtents;

  double product = 1.0;
  int significant = 0;
  for (int a = 0; a < 3; ++a) {
    bool isSignificant = true;
    for (int b = 0; b < 3; ++b) {
      if (b != a && !(extent[b] / 100.0 <= extent[a])) isSignificant = false;
    }
    if (isSignificant) {
      product *= extent[a] / largest;
      ++significant;
    }
  }

  double target = double(totalPointCount) / kPointsPerCell;
  if (target < kMinTargetCells) {
    target = kMinTargetCells;
  } else if (target > kMaxTargetCells) {
    target = kMaxTargetCells;
  }

  double size = significant == 1 ? largest / (target / product)
                                  : largest / pow(target / product, kOneThird);
  int32_t n[3];
  if (!(size > 0.0) || !CountCells(extent, size, n)) throw status::OutOfExtents;
  cellSize = size;
  nx = n[0];
  ny = n[1];
  nz = n[2];
}

uint32_t PointCloudImporter::SizeAndBin() {
  ComputeExtentsAndCentre();
  ComputeUniformGrid();
  if (progress && progress->isCancelled()) throw status::Cancelled;
  return BinPoints();
}

bool PointCloudImporter::RefineGrid(uint32_t largestCount) {
  if (largestCount <= kOverfullCell) return false;
  if (int64_t(nx) * int64_t(ny) * int64_t(nz) >= kRefinableCells) return false;
  double size = cellSize / (pow(double(largestCount), kOneThird) / kRefinedCellEdge);
  int32_t n[3];
  // A grid too large to index stays as it is; the overfull cell is then
  // ordered through its spill file.
  if (!(size > 0.0) || !CountCells(extent, size, n)) return false;
  cellSize = size;
  nx = n[0];
  ny = n[1];
  nz = n[2];
  return true;
}

uint32_t PointCloudImporter::BuildCells() {
  uint32_t largest = 0;
  bool remeasure = false;
  try {
    largest = SizeAndBin();
  } catch (VorlinStatus thrown) {
    if (thrown != status::OutOfExtents) throw;
    remeasure = true;
  }
  if (remeasure) {
    ReleaseCells();
    RemeasureExtents();
    largest = SizeAndBin();
  }
  if (RefineGrid(largest)) {
    ReleaseCells();
    largest = BinPoints();
  }
  return largest;
}
