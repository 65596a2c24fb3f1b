#include <math.h>

#include <cfloat>
#include <cstdint>

#include "import/grid_sizing.h"

namespace vorlin {
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

bool SizeGrid(const double boundsMin[3], const double boundsMax[3], uint64_t points,
              format::QzvGrid& grid) {
  double extent[3];
  double largest = 0.0;
  for (int a = 0; a < 3; ++a) {
    extent[a] = boundsMax[a] - boundsMin[a];
    // A box that is inverted, infinite or wider than a float offset can hold
    // cannot be gridded.
    if (!(extent[a] >= 0.0) || !(extent[a] <= double(FLT_MAX))) return false;
    if (extent[a] > largest) largest = extent[a];
  }
  if (!(largest > 0.0)) return false;

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

  double target = double(points) / kPointsPerCell;
  if (target < kMinTargetCells) {
    target = kMinTargetCells;
  } else if (target > kMaxTargetCells) {
    target = kMaxTargetCells;
  }

  double size = significant == 1 ? largest / (target / product)
                                  : largest / pow(target / product, kOneThird);
  int32_t n[3];
  if (!(size > 0.0) || !CountCells(extent, size, n)) return false;
  for (int a = 0; a < 3; ++a) {
    grid.boundsMin[a] = boundsMin[a];
    grid.boundsMax[a] = boundsMax[a];
    grid.centre[a] = extent[a] * 0.5 + boundsMin[a];
  }
  grid.cellSize = size;
  grid.nx = n[0];
  grid.ny = n[1];
  grid.nz = n[2];
  return true;
}

bool RefineGrid(const format::QzvGrid& grid, uint32_t largestCount, format::QzvGrid& refined) {
  if (largestCount <= kOverfullCell) return false;
  if (int64_t(grid.nx) * int64_t(grid.ny) * int64_t(grid.nz) >= kRefinableCells) return false;
  double size = grid.cellSize / (pow(double(largestCount), kOneThird) / kRefinedCellEdge);
  double extent[3];
  for (int a = 0; a < 3; ++a) extent[a] = grid.boundsMax[a] - grid.boundsMin[a];
  int32_t n[3];
  // A grid too large to index stays as it is; the overfull cell is then
  // ordered through its spill file.
  if (!(size > 0.0) || !CountCells(extent, size, n)) return false;
  refined = grid;
  refined.cellSize = size;
  refined.nx = n[0];
  refined.ny = n[1];
  refined.nz = n[2];
  return true;
}

void ApplyOnePointRule(double boundsMin[3], double boundsMax[3]) {
  if (boundsMin[0] == boundsMax[0] && boundsMin[1] == boundsMax[1] &&
      boundsMin[2] == boundsMax[2]) {
    for (int a = 0; a < 3; ++a) boundsMax[a] += 1.0;
  }
}

}  // namespace vorlin
