#ifndef VORLIN_IMPORT_ORDERING_WORKSPACE_H
#define VORLIN_IMPORT_ORDERING_WORKSPACE_H

#include <stdint.h>

#include <vector>

#include "base/bit_array.h"
#include "import/cell_ordering.h"
#include "vorlin/cell_point.h"

namespace vorlin {

// Scratch space of the ordering, kept from one cell to the next of an import
// so that a cell costs no allocations.
class OrderingWorkspace {
 public:
  OrderingWorkspace() = default;
  OrderingWorkspace(const OrderingWorkspace&) = delete;
  OrderingWorkspace& operator=(const OrderingWorkspace&) = delete;

  BitArray fine;
  BitArray coarse;
  bool coarseClean = false;        // coarse holds no set bit
  std::vector<int32_t> coarseSet;  // bits the listed downsample set
  std::vector<int32_t> setVoxels;  // occupied fine voxels, each once
  std::vector<int32_t> fineBitOf;  // fine voxel of each record
  std::vector<int32_t> sortedBits;
  std::vector<uint32_t> listStart;
  std::vector<uint32_t> listCount;
  std::vector<int32_t> subCellOccupied;
  std::vector<float> weights;
  std::vector<Zelvane::Vorlin::CellPoint> sorted;
};

// OrderCellRecords with scratch space that outlives the call; same result.
float OrderCellRecords(const OrderingSettings& settings, const double lo[3],
                       const double hi[3], LinearPointBuf& stream, uint32_t count,
                       OrderingWorkspace& workspace);

}  // namespace vorlin

#endif
