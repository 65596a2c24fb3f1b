#include <algorithm>
#include <new>
#include <vector>

#include "engine/point_cloud_query.h"
#include "engine/point_set.h"
#include "engine/qv_vorlin_imp.h"
#include "engine/share_math.h"

using Zelvane::Vorlin::CellPoint;

unsigned int QvVorlinImp::createPointSet(IPointCloudQuery* handle, CellPoint* buffer,
                                         unsigned int bufferSize, unsigned long long pointCount,
                                         IPointSetData** set) {
  if (!set) return 0;
  PointSetData* data = new (std::nothrow) PointSetData();
  *set = data;
  if (!data) return 0;
  PointCloudQuery* query = QueryForOpenGrid(handle);
  if (!query || query->visibleCells == 0 || query->lodSum == 0.0) {
    data->release();
    *set = nullptr;
    return 0;
  }
  const uint64_t N = std::min<uint64_t>(query->visiblePoints, pointCount);
  data->lodLeft = query->lodSum;
  data->ratio = double(N) / query->lodSum;
  return getPointSetPoints(handle, buffer, bufferSize, data);
}

unsigned int QvVorlinImp::getPointSetPoints(IPointCloudQuery* handle, CellPoint* buffer,
                                            unsigned int bufferSize, IPointSetData* handleSet) {
  PointCloudQuery* query = QueryForOpenGrid(handle);
  PointSetData* set = handleSet ? dynamic_cast<PointSetData*>(handleSet) : nullptr;
  if (!query || !buffer || !set) return 0;
  if (set->x < 0 || set->y < 0 || set->z < 0) return 0;

  CellLoaderLock lock(m_loader);
  std::vector<CellPoint> clipBuffer;
  const uint32_t recordSize = RecordSize();
  uint32_t consumed = 0;
  uint32_t written = 0;
  // The set's position is the walk's cursor, so a failed read leaves it at
  // the cell that failed.
  for (; set->x < m_grid.nx; ++set->x, set->y = 0) {
    for (; set->y < m_grid.ny; ++set->y, set->z = 0) {
      for (; set->z < m_grid.nz; ++set->z) {
        const int32_t i = CellIndex(set->x, set->y, set->z);
        if (!query->IsVisible(i)) continue;
        const QzvCell& cell = m_cells[size_t(i)];
        const uint32_t c = cell.count;
        const double w = cell.lod;
        const uint32_t p = set->cellRecordsTaken;
        const uint32_t open = bufferSize - consumed;

        const uint32_t t0 = vorlin::RoundedShare(w, set->ratio);
        uint32_t extra = 0;
        if (t0 > c) {
          set->surplus += double(t0 - c);
        } else if (set->surplus > 0.0) {
          extra = vorlin::TruncToU32(set->surplus / set->lodLeft * w);
        }
        const uint32_t want = t0 - p;  // wraps like the counters it mirrors
        uint32_t t = extra + want;
        t = std::min(t, c > p ? c - p : 0u);
        const bool endsBatch = t > open;
        if (endsBatch) {
          t = open;
        } else if (t > want) {
          set->surplus -= double(t - want);
        }

        if (query->clip && !query->IsWhollyInside(i)) {
          uint32_t accepted = 0;
          if (!DeliverClipped(*query, set->x, set->y, set->z, p, t, false, clipBuffer,
                              buffer + written, accepted))
            return 0;
          written += accepted;
        } else {
          if (!ReadRecords(cell, p, t, buffer + written)) return 0;
          written += t;
        }
        consumed += t;

        if (endsBatch) {
          set->cellRecordsTaken += t;
          set->cellBytePosition += uint64_t(t) * recordSize;
          MarkRejected(buffer, written, consumed);
          return consumed;
        }
        set->lodLeft -= w;
        set->cellBytePosition = 0;
        set->cellRecordsTaken = 0;
      }
    }
  }
  MarkRejected(buffer, written, consumed);
  return consumed;
}
