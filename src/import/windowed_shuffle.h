#ifndef VORLIN_IMPORT_WINDOWED_SHUFFLE_H
#define VORLIN_IMPORT_WINDOWED_SHUFFLE_H

// The shuffle of a run of records too large for memory, with the result of
// ShuffleRecords: the same draws in the same order and the same swaps.
//
// Steps run in windows of consecutive indices [s, s + W) held in memory;
// every record at or beyond s is still the original there. A step's partner
// below s lands on a record an earlier window already placed: those records
// live in a temporary file, and the window reads the ones it hits in one
// pass over that file, writing back in the same pass what the window leaves
// there. Cost: memory of W records plus their bookkeeping, and about
// n^2 / (2W) records read and written over the whole shuffle.

#include <stddef.h>
#include <stdint.h>

#include "vorlin/cell_point.h"

using Zelvane::Vorlin::CellPoint;

namespace vorlin {

// Records reached by index, outside memory.
class RecordRange {
 public:
  virtual ~RecordRange() = default;
  // Copies records [first, first + count) out of, or into, the range; false
  // when the store failed (the records moved are then not the range's).
  [[nodiscard]] virtual bool Read(uint64_t first, CellPoint* destination, uint32_t count) = 0;
  [[nodiscard]] virtual bool Write(uint64_t first, const CellPoint* source, uint32_t count) = 0;
};

// The window (in records) of a windowed shuffle that holds at most
// memoryBytes of working memory; at least 1.
uint32_t ShuffleWindowRecords(size_t memoryBytes);

// Shuffles records [0, n) of range in windows of windowRecords, leaving
// exactly what ShuffleRecords leaves in memory and consuming the random
// generator the same way. False when a read or write of range or of the
// temporary file failed or came short; no file call follows the first
// failure and the range's records are then not the shuffle's. Calling
// thread only (the generator is per thread).
[[nodiscard]] bool ShuffleRecordsWindowed(RecordRange& range, uint32_t n, uint32_t windowRecords);

}  // namespace vorlin

#endif
