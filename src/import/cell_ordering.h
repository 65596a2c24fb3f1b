#ifndef VORLIN_IMPORT_CELL_ORDERING_H
#define VORLIN_IMPORT_CELL_ORDERING_H

#include <stddef.h>
#include <stdint.h>

#include "import/linear_point_buf.h"

namespace vorlin {

// Settings of the level-of-detail ordering; fixed for an import.
struct OrderingSettings {
  float growthThreshold = 0.25f;
  int32_t coarsenDivisor = 2;
  int32_t coarseningSteps = 1;
  float sparseFactor = 1.5f;
  float maximumGain = 2.0f;
  // Bytes of sub-cell blocks a cell ordered through its spill file keeps in
  // memory before blocks go to a temporary file.
  size_t residentBlockBytes = size_t(64) << 20;
  // Bytes the shuffle of one sub-cell may hold; a sub-cell whose records
  // exceed it is shuffled in windows through a temporary file instead.
  size_t shuffleBytes = size_t(48) << 20;
};

// Reads count records from stream, writes them back in level-of-detail order
// (every prefix an even sample of the cell) and leaves the stream rewound.
// lo and hi are the cell's box in the records' centre-relative coordinates.
// Returns the cell's level-of-detail value. Random numbers come from the
// platform generator, seeded once per import. Throws TempFileFailed (a
// VorlinStatus) when the stream or the ordering's own temporary file fails;
// the stream's records are then not the cell's.
float OrderCellRecords(const OrderingSettings& settings, const double lo[3],
                       const double hi[3], LinearPointBuf& stream, uint32_t count);

}  // namespace vorlin

#endif
