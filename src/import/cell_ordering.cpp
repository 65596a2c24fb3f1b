#include "import/cell_ordering.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "base/bit_array.h"
#include "import/occupancy_grid.h"
#include "import/ordering_steps.h"
#include "import/ordering_workspace.h"
#include "vorlin/status.h"

namespace vorlin {
namespace {

constexpr int32_t kFineBits = kFineResolution * kFineResolution * kFineResolution;
// Up to this many occupied fine voxels, coarsening works from their list
// rather than scanning all 16M bits.
constexpr size_t kTrackedVoxelLimit = 16384;

// Fine voxel index on one axis. Points outside the expanded box, and NaN
// coordinates, are clamped into the grid so that every record is kept.
int32_t FineIndex(float coordinate, double origin, double voxelEdge) {
  double q = (double(coordinate) - origin) / voxelEdge;
  if (!(q >= 0.0)) return 0;
  if (q >= double(kFineResolution)) return kFineResolution - 1;
  return int32_t(q);
}

// Downsample of the fine occupancy given as the list of its set bits, with
// the per-axis reduction looked up rather than divided.
static_assert(kFineResolution == 256, "fine bit index is z:8 y:8 x:8");
int64_t DownsampleFineList(const int32_t* bits, size_t bitCount, BitArray& target,
                           int32_t targetRes, std::vector<int32_t>& setBits) {
  if (targetRes <= 0 || int64_t(target.Size()) < int64_t(targetRes) * targetRes * targetRes)
    return 0;
  const int32_t factor = std::max<int32_t>(1, kFineResolution / targetRes);
  int32_t reduced[kFineResolution];
  for (int32_t v = 0; v < kFineResolution; ++v) reduced[v] = std::min(v / factor, targetRes - 1);
  uint8_t* bytes = target.Bytes();
  int64_t count = 0;
  for (size_t i = 0; i < bitCount; ++i) {
    const int32_t bit = bits[i];
    const int32_t tx = reduced[bit & 255];
    const int32_t ty = reduced[(bit >> 8) & 255];
    const int32_t tz = reduced[(bit >> 16) & 255];
    const int32_t t = (tz * targetRes + ty) * targetRes + tx;
    const uint8_t mask = uint8_t(1u << (t & 7));
    if (!(bytes[t >> 3] & mask)) {
      bytes[t >> 3] |= mask;
      setBits.push_back(t);
      ++count;
    }
  }
  return count;
}

// Occupied surface of the cell: occupied fine voxels per voxel of a plane
// across the cell, raised (within limits) by coarser resolutions when the
// points are too sparse to fill the fine voxels of the surface they sample.
// fineVoxels, when not null, lists every set bit of fine. halfOccupied, when
// not negative, is the number of voxels occupied at half the fine
// resolution, which spares the one coarsening step of the usual settings.
float LevelOfDetail(const OrderingSettings& settings, uint32_t count, int64_t fineOccupied,
                    BitArray& fine, OrderingWorkspace& ws,
                    const std::vector<int32_t>* fineVoxels, int64_t halfOccupied = -1) {
  if (halfOccupied >= 0 && settings.coarseningSteps == 1 && settings.coarsenDivisor == 2) {
    float lod = float(double(fineOccupied) * 1.52587890625e-05);
    constexpr int32_t res = kFineResolution / 2;
    float ratio = float(halfOccupied) / float(res * res);
    float previousRatio = float(fineOccupied) / float(kFineResolution * kFineResolution);
    float growth = previousRatio > 0 ? (ratio - previousRatio) / previousRatio : 0.0f;
    bool accepted = float(count) <= settings.sparseFactor * float(fineOccupied) &&
                    (growth < -settings.growthThreshold || growth >= settings.growthThreshold);
    if (accepted && lod < ratio) {
      float raised = settings.maximumGain * lod;
      lod = raised < ratio ? raised : ratio;
    }
    return lod;
  }
  BitArray& coarse = ws.coarse;
  // The coarse set is left clear when only the listed first step wrote it,
  // so that the next cell need not clear all of it.
  const bool wasClean = ws.coarseClean;
  ws.coarseClean = false;
  ws.coarseSet.clear();
  int32_t steps = 0;
  float lod = float(double(fineOccupied) * 1.52587890625e-05);
  int32_t previousRes = kFineResolution;
  int64_t previousCount = fineOccupied;
  const int32_t divisor = settings.coarsenDivisor;
  int32_t res = divisor > 0 ? previousRes / divisor : 0;
  bool accepted = true;
  for (int32_t step = 0; step < settings.coarseningSteps && accepted; ++step) {
    // Only ever coarser; a divisor below 2 ends the coarsening.
    if (res < 1 || res >= previousRes) break;
    BitArray& source = step % 2 == 0 ? fine : coarse;
    BitArray& target = step % 2 == 0 ? coarse : fine;
    int32_t bits = res * res * res;
    const bool listed = step == 0 && fineVoxels;
    if (target.Size() == bits) {
      if (!(listed && wasClean)) target.Clear();
    } else {
      target.Resize(bits);
    }
    int64_t occupied = listed ? DownsampleFineList(fineVoxels->data(), fineVoxels->size(),
                                                   target, res, ws.coarseSet)
                              : Downsample(source, previousRes, target, res);
    ++steps;

    float ratio = float(occupied) / float(res * res);
    float previousRatio = float(previousCount) / float(previousRes * previousRes);
    float growth = previousRatio > 0 ? (ratio - previousRatio) / previousRatio : 0.0f;
    accepted = float(count) <= settings.sparseFactor * float(previousCount) &&
               (growth < -settings.growthThreshold || growth >= settings.growthThreshold);
    if (accepted && lod < ratio) {
      float raised = settings.maximumGain * lod;
      lod = raised < ratio ? raised : ratio;
    }
    previousCount = occupied;
    previousRes = res;
    res = res / divisor;
  }
  if (steps == 1 && fineVoxels && coarse.Size() > 0) {
    uint8_t* bytes = coarse.Bytes();
    for (int32_t t : ws.coarseSet) bytes[t >> 3] = 0;
    ws.coarseClean = true;
  }
  return lod;
}

void VoxelFrame(const double lo[3], const double hi[3], double origin[3], double voxelEdge[3]) {
  // The box grown by 1% of the cell on every side, so points on the faces
  // stay inside.
  for (int a = 0; a < 3; ++a) {
    double margin = (hi[a] - lo[a]) / 100;
    origin[a] = lo[a] - margin;
    double extent = (hi[a] + margin) - (lo[a] - margin);
    voxelEdge[a] = extent * 0.00390625;
  }
}

bool Failed(const OccupancyGrid& grid, const LinearPointBuf& stream) {
  return grid.Failed() || stream.Failed();
}

// The sub-cell of a fine voxel: a sub-cell edge is 16 fine voxel edges.
inline int32_t SubCellOfBit(int32_t bit) {
  return (((bit >> 20) & 15) * kSubCellsPerAxis + ((bit >> 12) & 15)) * kSubCellsPerAxis +
         ((bit >> 4) & 15);
}

// Sub-cell weights: occupied fine voxels scaled by the fullest sub-cell.
void SubCellWeights(const int32_t* occupied, float* weights) {
  float largestWeight = 0.0f;
  for (int32_t s = 0; s < kSubCells; ++s) {
    weights[s] = float(occupied[s] * 0.000244140625);
    largestWeight = std::max(largestWeight, weights[s]);
  }
  if (largestWeight > 0.0f) {
    for (int32_t s = 0; s < kSubCells; ++s) weights[s] /= largestWeight;
  }
}

// The records dealt from the sub-cell ranges of sorted (list s holds
// count[s] records from start[s]) exactly as InterleaveLists deals from
// paged lists.
void InterleaveRanges(const CellPoint* sorted, const uint32_t* start, const uint32_t* listCount,
                      const float* weights, CellPoint* out, uint32_t count) {
  DealRecords<true>(
      kSubCells, weights, count, [&](int32_t s) { return listCount[s]; },
      [&](int32_t s, uint64_t t, uint32_t slot) { out[slot] = sorted[start[s] + t]; });
}

// The ordering of records held in memory: the sub-cell lists become ranges
// of one array sorted by sub-cell (stable), which consumes the generator
// exactly as the paged lists do. Occupancy is counted per sub-cell after
// sorting, in a sub-cell sized bit set, so the 16M-bit fine occupancy is
// never touched; the coarser levels come from the list of occupied voxels.
float OrderInMemory(const OrderingSettings& settings, const double lo[3], const double hi[3],
                    CellPoint* records, uint32_t count, OrderingWorkspace& ws) {
  ws.fineBitOf.resize(count);
  ws.sortedBits.resize(count);
  ws.listStart.assign(size_t(kSubCells) + 1, 0);
  ws.listCount.assign(size_t(kSubCells), 0);
  ws.subCellOccupied.assign(size_t(kSubCells), 0);
  ws.weights.resize(size_t(kSubCells));
  ws.setVoxels.clear();
  if (ws.sorted.size() < count) ws.sorted.resize(count);

  double origin[3];
  double voxelEdge[3];
  VoxelFrame(lo, hi, origin, voxelEdge);
  uint32_t* listCount = ws.listCount.data();
  int32_t* fineBitOf = ws.fineBitOf.data();
  for (uint32_t n = 0; n < count; ++n) {
    const CellPoint& record = records[n];
    int32_t fx = FineIndex(record.x, origin[0], voxelEdge[0]);
    int32_t fy = FineIndex(record.y, origin[1], voxelEdge[1]);
    int32_t fz = FineIndex(record.z, origin[2], voxelEdge[2]);
    fineBitOf[n] = (fz * kFineResolution + fy) * kFineResolution + fx;
    ++listCount[SubCellOfBit(fineBitOf[n])];
  }

  uint32_t* start = ws.listStart.data();
  for (int32_t s = 0; s < kSubCells; ++s) start[s + 1] = start[s] + listCount[s];
  {
    std::vector<uint32_t> next(start, start + kSubCells);
    CellPoint* sorted = ws.sorted.data();
    int32_t* sortedBits = ws.sortedBits.data();
    for (uint32_t n = 0; n < count; ++n) {
      uint32_t to = next[size_t(SubCellOfBit(fineBitOf[n]))]++;
      sorted[to] = records[n];
      sortedBits[to] = fineBitOf[n];
    }
  }

  // Distinct fine voxels per sub-cell; each sub-cell's set bits are cleared
  // again from the voxel list.
  // A sub-cell also holds whole voxels of half the fine resolution (8 per
  // axis), counted alongside.
  constexpr int32_t kVoxelsPerSubCell = 16 * 16 * 16;
  uint8_t local[kVoxelsPerSubCell / 8] = {};
  uint8_t half[kVoxelsPerSubCell / 64] = {};
  int64_t fineOccupied = 0;
  int64_t halfOccupied = 0;
  for (int32_t s = 0; s < kSubCells; ++s) {
    if (start[s] == start[s + 1]) continue;
    const size_t first = ws.setVoxels.size();
    for (uint32_t i = start[s]; i < start[s + 1]; ++i) {
      const int32_t bit = ws.sortedBits[i];
      const int32_t v = (((bit >> 16) & 15) << 8) | (((bit >> 8) & 15) << 4) | (bit & 15);
      const uint8_t mask = uint8_t(1u << (v & 7));
      if (!(local[v >> 3] & mask)) {
        local[v >> 3] |= mask;
        ws.setVoxels.push_back(bit);
        const int32_t h = (((bit >> 17) & 7) << 6) | (((bit >> 9) & 7) << 3) | ((bit >> 1) & 7);
        const uint8_t halfMask = uint8_t(1u << (h & 7));
        if (!(half[h >> 3] & halfMask)) {
          half[h >> 3] |= halfMask;
          ++halfOccupied;
        }
      }
    }
    memset(half, 0, sizeof(half));
    const size_t found = ws.setVoxels.size() - first;
    ws.subCellOccupied[size_t(s)] = int32_t(found);
    fineOccupied += int64_t(found);
    for (size_t k = first; k < ws.setVoxels.size(); ++k) {
      const int32_t bit = ws.setVoxels[k];
      local[((((bit >> 16) & 15) << 8) | (((bit >> 8) & 15) << 4) | (bit & 15)) >> 3] = 0;
    }
  }

  SubCellWeights(ws.subCellOccupied.data(), ws.weights.data());
  float lod =
      LevelOfDetail(settings, count, fineOccupied, ws.fine, ws, &ws.setVoxels, halfOccupied);

  for (int32_t s = 0; s < kSubCells; ++s) {
    if (listCount[s] > 0) ShuffleRecords(ws.sorted.data() + start[s], listCount[s]);
  }
  InterleaveRanges(ws.sorted.data(), start, listCount, ws.weights.data(), records, count);
  return lod;
}

}  // namespace

float OrderCellRecords(const OrderingSettings& settings, const double lo[3],
                       const double hi[3], LinearPointBuf& stream, uint32_t count) {
  OrderingWorkspace workspace;
  return OrderCellRecords(settings, lo, hi, stream, count, workspace);
}

float OrderCellRecords(const OrderingSettings& settings, const double lo[3],
                       const double hi[3], LinearPointBuf& stream, uint32_t count,
                       OrderingWorkspace& workspace) {
  stream.Rewind();
  if (count == 0) return 0.0f;
  if (LinearPointMemoryBuf* memory = dynamic_cast<LinearPointMemoryBuf*>(&stream)) {
    float lod = OrderInMemory(settings, lo, hi, memory->records(), count, workspace);
    stream.Rewind();
    return lod;
  }

  // A stream that may not fit in memory goes through paged sub-cell lists,
  // which move to their spill file only beyond a memory budget.
  OccupancyGrid grid;
  grid.SetResidentBudget(settings.residentBlockBytes);
  grid.Init(kSubCellsPerAxis, kSubCellsPerAxis, kSubCellsPerAxis);
  BitArray fine;
  fine.Resize(kFineBits);

  // The box grown by 1% of the cell on every side, so points on the faces
  // stay inside.
  double origin[3];
  double voxelEdge[3];
  for (int a = 0; a < 3; ++a) {
    double margin = (hi[a] - lo[a]) / 100;
    origin[a] = lo[a] - margin;
    double extent = (hi[a] + margin) - (lo[a] - margin);
    voxelEdge[a] = extent * 0.00390625;
  }

  // A sub-cell's occupancy is the number of distinct fine voxels inside it.
  // The sub-cell edge is exactly 16 fine voxel edges (a power-of-two scale),
  // so the sub-cell index is the fine index / 16.
  std::vector<int32_t> subCellOccupied(static_cast<size_t>(kSubCells), 0);
  int64_t fineOccupied = 0;
  std::vector<int32_t> fineVoxels;
  bool voxelsTracked = true;
  for (uint32_t n = 0; n < count; ++n) {
    CellPoint record;
    stream.ReadPoint(record);
    int32_t fx = FineIndex(record.x, origin[0], voxelEdge[0]);
    int32_t fy = FineIndex(record.y, origin[1], voxelEdge[1]);
    int32_t fz = FineIndex(record.z, origin[2], voxelEdge[2]);
    int32_t subCell = ((fz >> 4) * kSubCellsPerAxis + (fy >> 4)) * kSubCellsPerAxis + (fx >> 4);
    if (!grid.List(subCell).Append(record) || ((n & 0xFFFF) == 0 && Failed(grid, stream)))
      throw Zelvane::Vorlin::TempFileFailed;
    int32_t bit = (fz * kFineResolution + fy) * kFineResolution + fx;
    if (!fine.Test(bit)) {
      fine.Set(bit);
      ++fineOccupied;
      ++subCellOccupied[size_t(subCell)];
      if (voxelsTracked) {
        if (fineVoxels.size() < kTrackedVoxelLimit) {
          fineVoxels.push_back(bit);
        } else {
          voxelsTracked = false;
          std::vector<int32_t>().swap(fineVoxels);
        }
      }
    }
  }

  int64_t largestCount = 0;
  float largestWeight = 0.0f;
  std::vector<float> weights(static_cast<size_t>(kSubCells));
  for (int32_t s = 0; s < kSubCells; ++s) {
    largestCount = std::max(largestCount, grid.List(s).Count());
    weights[size_t(s)] = float(subCellOccupied[size_t(s)] * 0.000244140625);
    largestWeight = std::max(largestWeight, weights[size_t(s)]);
  }
  if (largestWeight > 0.0f) {
    for (float& w : weights) w /= largestWeight;
  }

  float lod = LevelOfDetail(settings, count, fineOccupied, fine, workspace,
                            voxelsTracked ? &fineVoxels : nullptr);

  if (Failed(grid, stream) || !ShuffleLists(grid, largestCount, settings.shuffleBytes))
    throw Zelvane::Vorlin::TempFileFailed;
  stream.Rewind();
  const bool dealt = InterleaveLists(grid, weights.data(), stream, count);
  stream.Rewind();
  if (!dealt || stream.Failed()) throw Zelvane::Vorlin::TempFileFailed;
  return lod;
}

}  // namespace vorlin
