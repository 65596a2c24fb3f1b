#include "engine/cursor.h"

#include <math.h>

#include <algorithm>
#include <new>
#include <vector>

#include "engine/point_cloud_query.h"
#include "engine/qv_vorlin_imp.h"
#include "engine/share_math.h"

using Zelvane::Vorlin::CellPoint;

PointCloudCursor::PointCloudCursor(int32_t x, int32_t y, int32_t z) : nx(x), ny(y), nz(z) {
  const size_t n = size_t(x) * size_t(y) * size_t(z);
  taken.reset(new uint32_t[n]());
  fraction.reset(new double[n]());
}

unsigned int QvVorlinImp::createCursor(IPointCloudQuery* handle, CellPoint* buffer,
                                       unsigned int bufferSize, IPointCloudCursor** cursor) {
  if (!cursor) return 0;
  PointCloudCursor* data = nullptr;
  try {
    data = new PointCloudCursor(m_cellsNx, m_cellsNy, m_cellsNz);
  } catch (const std::bad_alloc&) {
    data = nullptr;
  }
  *cursor = data;
  if (!data) return 0;
  PointCloudQuery* query = QueryForOpenGrid(handle);
  if (query) data->visiblePoints = query->visiblePoints;
  if (!query || query->visibleCells == 0 || query->lodSum == 0.0) {
    data->release();
    *cursor = nullptr;
    return 0;
  }
  data->lodSum = query->lodSum;
  data->largestLod = query->largestLod;
  data->delivered = 0;
  return getCursorPoints(handle, buffer, bufferSize, data);
}

unsigned int QvVorlinImp::getCursorPoints(IPointCloudQuery* handle, CellPoint* buffer,
                                          unsigned int bufferSize, IPointCloudCursor* handleCursor) {
  PointCloudQuery* query = QueryForOpenGrid(handle);
  PointCloudCursor* cursor =
      handleCursor ? dynamic_cast<PointCloudCursor*>(handleCursor) : nullptr;
  if (!query || !buffer || !cursor || !cursor->SameGrid(m_cellsNx, m_cellsNy, m_cellsNz))
    return 0;

  const uint64_t M = std::min<uint64_t>(cursor->visiblePoints - cursor->delivered, bufferSize);
  const double ratio = double(M) / cursor->lodSum;
  double L = cursor->lodSum;  // LOD still to visit in this call
  double next = 0.0;          // LOD of the cells that still had records

  std::vector<CellPoint> clipBuffer = ClipBufferFor(query->clip, cursor->largestLod, ratio, M);

  CellLoaderLock lock(m_loader);
  uint64_t T = 0;
  uint32_t written = 0;
  for (int32_t x = 0; x < m_grid.nx; ++x) {
    for (int32_t y = 0; y < m_grid.ny; ++y) {
      for (int32_t z = 0; z < m_grid.nz; ++z) {
        const int32_t i = CellIndex(x, y, z);
        if (!query->IsVisible(i)) continue;
        const QzvCell& cell = m_cells[size_t(i)];
        const uint32_t c = cell.count;
        const double w = cell.lod;
        const uint32_t p = cursor->taken[size_t(i)];

        // Fractions of a record carry over, so small shares still arrive
        // every few calls.
        double s = w * ratio;
        if (!isfinite(s)) s = 0.0;
        double k = floor(s);
        double f = cursor->fraction[size_t(i)] + (s - k);
        if (f >= 1.0) {
          const double whole = floor(f);
          k += whole;
          f -= whole;
        }
        uint64_t t = L > 1e-6 ? std::min<uint64_t>(vorlin::TruncToU32(k), c > p ? c - p : 0) : 0;
        if (T + t > M) t = M - T;

        if (query->clip && !query->IsWhollyInside(i)) {
          uint32_t accepted = 0;
          if (!DeliverClipped(*query, x, y, z, p, uint32_t(t), false, clipBuffer,
                              buffer + written, accepted))
            return 0;
          written += accepted;
        } else {
          if (!ReadRecords(cell, p, uint32_t(t), buffer + written)) return 0;
          written += uint32_t(t);
        }
        cursor->fraction[size_t(i)] = f;
        L -= w;
        if (c > p) next += w;
        T += t;
        cursor->taken[size_t(i)] = p + uint32_t(t);
      }
    }
  }
  cursor->delivered += T;
  cursor->lodSum = next;
  MarkRejected(buffer, written, uint32_t(T));
  return uint32_t(T);
}
