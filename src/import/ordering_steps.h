#ifndef VORLIN_IMPORT_ORDERING_STEPS_H
#define VORLIN_IMPORT_ORDERING_STEPS_H

// The building blocks of the level-of-detail ordering of one cell. All random
// numbers come from vorlin::platform::Rand(), in a fixed order, so a seeded
// import orders every cell the same way.

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "base/bit_array.h"
#include "import/linear_point_buf.h"
#include "import/occupancy_grid.h"
#include "platform/random.h"

namespace vorlin {

// Sub-cells per axis of a cell and fine voxels per axis.
constexpr int32_t kSubCellsPerAxis = 16;
constexpr int32_t kSubCells = kSubCellsPerAxis * kSubCellsPerAxis * kSubCellsPerAxis;
constexpr int32_t kFineResolution = 256;

// The partner j (0..i) of step i of the record shuffle: 15-bit draws, more
// of them while i + 1 exceeds what the draws cover, then the remainder.
inline uint32_t DrawShufflePartner(uint32_t i) {
  uint32_t r = uint32_t(platform::Rand()) & 0x7FFFu;
  uint32_t bound = 0x7FFFu;
  while (bound < i + 1 && bound != 0xFFFFFFFFu) {
    r = (r << 15) | (uint32_t(platform::Rand()) & 0x7FFFu);
    bound = (bound << 15) | 0x7FFFu;
  }
  return r % (i + 1);
}

// Uniform shuffle of n records: step i = 1 .. n-1 swaps record i with
// record DrawShufflePartner(i).
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
// largestCount bounds the records of any list. A list is shuffled in memory
// when its records fit in memoryBytes, and otherwise in windows through a
// temporary file within about memoryBytes (the same result either way).
// False when the grid's store or the temporary file failed.
[[nodiscard]] bool ShuffleLists(OccupancyGrid& grid, int64_t largestCount, size_t memoryBytes);

// Writes count records to out, dealing them from the sub-cell lists in random
// rotations; a sub-cell of weight w (0..1) yields on 16 + 256 w of every 256
// visits. count must equal the records held by the lists.
// Deals count records out of the sub-cell lists in a random rotation: a list
// of weight w gives a record on a visit while the visit count mod 256 is
// below 16 + 256 w, and the rotation is reshuffled every second cycle and
// rebuilt from the lists still holding records after 256 misses. Records of
// one list leave in list order. listCount(s) is list s's record count and
// take(s, t) delivers record t of list s. With kTakeAhead, take(s, t, slot)
// is called on every visit to a list with records left and puts record t of
// list s in output slot slot; the slot is only kept when the visit gives the
// record. That spares the branch on an unpredictable decision where a copy
// is cheap.
template <bool kTakeAhead = false, typename ListCount, typename Take>
void DealRecords(int32_t lists, const float* weights, uint32_t count, ListCount listCount,
                 Take take) {
  std::vector<int32_t> order;
  order.reserve(size_t(lists));
  for (int32_t s = 0; s < lists; ++s) {
    if (listCount(s) > 0) order.push_back(s);
  }
  int32_t m = int32_t(order.size());
  // The lists that may still hold records, ascending: a rebuild of the order
  // only looks at these.
  std::vector<int32_t> live(order);
  std::vector<uint64_t> taken(size_t(lists), 0);
  // Visits out of every 256 on which a list gives a record.
  std::vector<int32_t> threshold(static_cast<size_t>(lists));
  for (int32_t s = 0; s < lists; ++s) threshold[size_t(s)] = 16 - int32_t(weights[s] * -256.0);
  ShuffleIndices(order.data(), m);

  int32_t cursor = 0;
  int32_t passes = 0;
  uint32_t visits = 0;
  uint32_t written = 0;
  int32_t misses = 0;
  while (written < count && m > 0) {
    if (cursor == 0) {
      ++passes;
      if (passes > 1) {
        ShuffleIndices(order.data(), m);
        passes = 0;
      }
    }
    const int32_t s = order[size_t(cursor)];
    const uint64_t t = taken[size_t(s)];
    if (t < uint64_t(listCount(s))) {
      const bool give = int32_t(visits & 255u) < threshold[size_t(s)];
      if constexpr (kTakeAhead) {
        take(s, t, written);
        taken[size_t(s)] += uint64_t(give);
        written += uint32_t(give);
      } else if (give) {
        take(s, t);
        ++taken[size_t(s)];
        ++written;
      }
      ++visits;
    } else if (++misses > 256) {
      order.clear();
      size_t kept = 0;
      for (int32_t k : live) {
        if (taken[size_t(k)] < uint64_t(listCount(k))) {
          order.push_back(k);
          live[kept++] = k;
        }
      }
      live.resize(kept);
      m = int32_t(order.size());
      misses = 0;
      ShuffleIndices(order.data(), m);
      passes = 0;
    }
    ++cursor;
    if (cursor >= m) cursor = 0;
  }
}

// DealRecords over the grid's lists into out; false when the grid's store or
// out failed.
[[nodiscard]] bool InterleaveLists(OccupancyGrid& grid, const float* weights, LinearPointBuf& out,
                     uint32_t count);

}  // namespace vorlin

#endif
