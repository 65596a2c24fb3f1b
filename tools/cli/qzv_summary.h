#ifndef VORLIN_CLI_QZV_SUMMARY_H
#define VORLIN_CLI_QZV_SUMMARY_H

// The tool's own reading of a QZV header and cell tables, for what the
// library does not report (grid, cell size, per-cell counts and LOD values).
// Every size read from the file is checked against the file's real length
// before anything is allocated, so a damaged file is reported, never trusted.

#include <stdint.h>

#include <string>
#include <vector>

namespace vorlin {
namespace cli {

struct QzvSummary {
  int64_t fileSize = 0;
  int32_t version = 0;
  uint32_t revision = 0;
  uint64_t fileIdentifier = 0;
  double minimum[3] = {0, 0, 0};
  double maximum[3] = {0, 0, 0};
  double centre[3] = {0, 0, 0};
  int32_t cells[3] = {0, 0, 0};  // nx, ny, nz
  double cellSize = 0.0;         // 0 for version 5 (per-axis edges instead)
  // Upper edge of every layer of cells along each axis.
  std::vector<double> upperEdges[3];
  // Per cell, in the file's table order (x slowest, z fastest).
  std::vector<uint32_t> counts;
  std::vector<uint64_t> offsets;
  std::vector<float> lodValues;
  bool hasTrailer = false;
  double unitsFactor = 0.0;
  uint32_t attributeFlags = 1;
  uint32_t recordSize = 0;
  uint64_t totalPoints = 0;
  uint64_t nonEmptyCells = 0;

  uint64_t cellCount() const { return counts.size(); }
  // World box of the cell with table index k.
  void cellBox(uint64_t k, double minimumOut[3], double maximumOut[3]) const;
};

// False with a reason in error ("not a QZV file", "header cut short", ...)
// when the file cannot be read or is not a consistent QZV file.
bool ReadQzvSummary(const std::string& path, QzvSummary& summary, std::string& error);

}  // namespace cli
}  // namespace vorlin

#endif
