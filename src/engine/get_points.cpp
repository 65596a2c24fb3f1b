#include <string.h>

#include <algorithm>
#include <vector>

#include "engine/point_cloud_query.h"
#include "engine/qv_vorlin_imp.h"
#include "engine/radix_sort.h"
#include "engine/share_math.h"
#include "format/qzv_layout.h"
#include "format/qzv_reader.h"

using Zelvane::Vorlin::CellPoint;

namespace {

// A visible cell in headroom order: (count - initial share + 2^32) in the
// upper 33 bits, the cell's index in the lower 30. The keys are made in grid
// order and sorted stably by the headroom bits alone, which keeps grid order
// among equal headrooms and costs no pass at all when every cell has the
// same headroom; the initial share is recovered from the key.
constexpr int kIndexBits = 30;
constexpr uint64_t kIndexMask = (uint64_t(1) << kIndexBits) - 1;
constexpr int64_t kHeadroomBias = int64_t(1) << 32;
static_assert(vorlin::format::kMaxQzvCells <= kIndexMask + 1, "cell index fits the key");

uint64_t HeadroomKey(int64_t headroom, int32_t cell) {
  return (uint64_t(headroom + kHeadroomBias) << kIndexBits) | uint64_t(cell);
}
int64_t HeadroomOf(uint64_t key) { return int64_t(key >> kIndexBits) - kHeadroomBias; }

// A cell that delivers records, keyed by its file offset.
struct Read {
  uint64_t offset;
  uint32_t take;
  int32_t cell;
};

}  // namespace

unsigned int QvVorlinImp::getPoints(IPointCloudQuery* handle, CellPoint* buffer,
                                    unsigned int bufferSize) {
  PointCloudQuery* query = QueryForOpenGrid(handle);
  if (!query || !buffer) return 0;

  const uint64_t N = std::min<uint64_t>(query->visiblePoints, bufferSize);
  if (query->visibleCells == 0) return 0;
  const double W = query->lodSum;
  if (W == 0.0) return 0;
  const double ratio = double(N) / W;

  // Initial shares, in grid order with x fastest; ties in the sort below keep
  // this order.
  auto& plan = m_planKeys;
  plan.clear();
  plan.reserve(query->visibleCells);
  uint64_t S = 0;
  const int32_t cellCount = m_grid.nx * m_grid.ny * m_grid.nz;
  for (int32_t i = 0; i < cellCount; ++i) {
    if (!query->IsVisible(i)) continue;
    const QzvCell& cell = m_cells[size_t(i)];
    const uint32_t t0 = vorlin::RoundedShare(cell.lod, ratio);
    plan.push_back(HeadroomKey(int64_t(cell.count) - int64_t(t0), i));
    S += cell.count;
  }

  // Cells shortest of points for their share first, so that what they cannot
  // fill is handed on to the cells that can.
  vorlin::RadixSortByKey(plan, m_planScratch, [](uint64_t key) { return key >> kIndexBits; });
  std::vector<Read> reads, readScratch;
  int64_t R = int64_t(N);  // budget still open
  double D = 0.0;          // surplus not yet handed on
  double Wr = W;           // LOD not yet visited
  double A = 0.0;          // surplus per unit of LOD
  uint64_t T = 0;
  bool wholeCells = false;
  for (const uint64_t key : plan) {
    const int32_t i = int32_t(key & kIndexMask);
    const QzvCell& cell = m_cells[size_t(i)];
    const uint32_t c = cell.count;
    const double w = cell.lod;
    const uint32_t t0 = uint32_t(int64_t(c) - HeadroomOf(key));
    uint64_t t;
    if (!wholeCells) {
      S -= c;
      int64_t share = int64_t(t0) + vorlin::TruncToI32(A * w + 0.5);
      if (share < 0) share = 0;
      t = std::min<uint64_t>(uint64_t(share), c);
      D += double(int64_t(t0) - int64_t(t));
      Wr -= w;
      // Nothing handed on yet (the usual case when shares are below one
      // record) leaves A at zero without the division's latency.
      A = (D != 0.0 && Wr > 0.0) ? D / Wr : 0.0;
      // Even whole, the cells still to come could not fill the open budget.
      if (int64_t(t + S) < R) {
        wholeCells = true;
        t = std::min<uint64_t>(c, uint64_t(R - int64_t(S)));
      }
    } else {
      t = c;
    }
    R -= int64_t(t);
    if (T + t > N) t = N - T;
    if (t > 0) reads.push_back({cell.offset, uint32_t(t), i});
    T += t;
  }

  // Read the file front to back.
  vorlin::RadixSortByKey(reads, readScratch, [](const Read& r) { return r.offset; });

  std::vector<CellPoint> clipBuffer = ClipBufferFor(query->clip, query->largestLod, ratio, N);

  CellLoaderLock lock(m_loader);
  // Records come straight from the file only at full width; narrow ones are
  // widened cell by cell.
  const bool batch = RecordSize() == vorlin::format::kRecordSizeV4;
  m_ranges.clear();
  uint32_t pos = 0;
  for (const Read& entry : reads) {
    const uint32_t t = entry.take;
    const int32_t x = entry.cell % m_grid.nx;
    const int32_t y = (entry.cell / m_grid.nx) % m_grid.ny;
    const int32_t z = entry.cell / m_grid.nx / m_grid.ny;
    if (!query->clip || query->IsWhollyInside(entry.cell)) {
      uint32_t n = 0;
      const CellLoader::Entry* preloaded = m_loader.Lookup(x, y, z);
      if (preloaded && preloaded->count > 0) {
        n = std::min(t, preloaded->count);
        memcpy(buffer + pos, preloaded->records, size_t(n) * sizeof(CellPoint));
      }
      const QzvCell& cell = m_cells[size_t(entry.cell)];
      if (t > n && batch) {
        m_ranges.push_back({cell.offset + uint64_t(n) * sizeof(CellPoint),
                            size_t(t - n) * sizeof(CellPoint),
                            reinterpret_cast<uint8_t*>(buffer + pos + n)});
      } else if (!ReadRecords(cell, n, t - n, buffer + pos + n)) {
        return 0;
      }
      pos += t;
    } else {
      uint32_t accepted = 0;
      if (!DeliverClipped(*query, x, y, z, 0, t, true, clipBuffer, buffer + pos, accepted))
        return 0;
      pos += accepted;
    }
  }
  // Still in file order: a cell's place in the buffer was fixed when it was
  // met, whatever the clipped cells after it accepted.
  if (!m_reader.Fetch(m_ranges.data(), m_ranges.size())) return 0;
  return pos;
}
