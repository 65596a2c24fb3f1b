#ifndef VORLIN_IMPORT_ORDERING_STEPS_H
#define VORLIN_IMPORT_ORDERING_STEPS_H

// The building blocks of the level-of-detail ordering of one cell. All random
// numbers come from vorlin::platform::Rand(), in a fixed order, so a seeded
// import orders every cell the same way.

#include <stddef.h>
#include <stdint.h>

#include "import/bit_array.h"
#include "import/linear_point_buf.h"
#include "import/occupancy_grid.h"

namespace vorlin {

// Sub-cells per axis of a cell and fine voxels per axis.
constexpr int32_t kSubCellsPerAxis = 16;
constexpr int32_t kSubCells = kSubCellsPerAxis * kSubCellsPerAxis * kSubCellsPerAxis;
constexpr int32_t kFineResolution = 256;

// Uniform shuffle of n records; draws extra 15-bit chunks when i + 1 exceeds
// what one draw covers.
void ShuffleRecords(CellPoint* records, uint32_t n);

// Cheap shuffle of n sub-cell indices (slightly biased, as the ordering's
// output depends on it).
void ShuffleIndices(int32_t* indices, int32_t n);

// Sets in target (which must hold targetRes^3 cleared bits) the voxel of every
// set bit of source at sourceRes per axis; returns the number of target bits
// set. Empty rows and empty 32-bit groups are skipped. Indices beyond the
// target (a resolution that does not divide evenly) go to its last voxel.
int64_t Downsample(const BitArray& source, int32_t sourceRes, BitArray& target,
                   int32_t targetRes);

// The same reduction for a source given as the list of its set bits (each
// once); cheaper than scanning the source when few bits are set.
int64_t DownsampleBits(const int32_t* bits, size_t bitCount, int32_t sourceRes,
                       BitArray& target, int32_t targetRes);

// Shuffles the records inside every non-empty list of the grid, in list order.
// largestCount bounds the records of any list.
void ShuffleLists(OccupancyGrid& grid, int64_t largestCount);

// Writes count records to out, dealing them from the sub-cell lists in random
// rotations; a sub-cell of weight w (0..1) yields on 16 + 256 w of every 256
// visits. count must equal the records held by the lists.
void InterleaveLists(OccupancyGrid& grid, const float* weights, LinearPointBuf& out,
                     uint32_t count);

}  // namespace vorlin

#endif
