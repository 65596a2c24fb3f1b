#include <string.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "engine/point_cloud_query.h"
#include "engine/qv_vorlin_imp.h"
#include "engine/share_math.h"
#include "format/qzv_layout.h"

using Zelvane::Vorlin::CellPoint;
namespace format = vorlin::format;

PointCloudQuery* QvVorlinImp::QueryForOpenGrid(IPointCloudQuery* query) const {
  PointCloudQuery* q = query ? dynamic_cast<PointCloudQuery*>(query) : nullptr;
  if (!q || m_cells.empty() || !q->SameGrid(m_cellsNx, m_cellsNy, m_cellsNz)) return nullptr;
  return q;
}

bool QvVorlinImp::ReadRecords(const QzvCell& cell, uint32_t first, uint32_t count,
                              CellPoint* out) {
  if (count == 0) return true;
  if (!m_file.IsValid() || uint64_t(first) + count > cell.count) return false;
  const uint32_t recordSize = RecordSize();
  const uint64_t offset = cell.offset + uint64_t(first) * recordSize;
  using Range = vorlin::platform::RangeReader::Range;
  if (recordSize == format::kRecordSizeV4) {
    const Range range{offset, size_t(count) * recordSize, reinterpret_cast<uint8_t*>(out)};
    return m_reader.Fetch(&range, 1);
  }

  std::unique_ptr<uint8_t[]> narrow(new uint8_t[size_t(count) * recordSize]);
  const Range range{offset, size_t(count) * recordSize, narrow.get()};
  if (!m_reader.Fetch(&range, 1)) return false;
  for (uint32_t r = 0; r < count; ++r) {
    memcpy(&out[r], narrow.get() + size_t(r) * recordSize, recordSize);
    out[r].normalIndex = 0;
    out[r].customAttribute = 0;
    out[r].padding = 0;
  }
  return true;
}

void QvVorlinImp::MarkRejected(CellPoint* buffer, uint32_t written, uint32_t consumed) {
  CellPoint filler;
  memset(&filler, 0, sizeof filler);
  filler.x = filler.y = filler.z = std::numeric_limits<float>::quiet_NaN();
  for (uint32_t i = written; i < consumed; ++i) buffer[i] = filler;
}

std::vector<CellPoint> QvVorlinImp::ClipBufferFor(bool clip, double largestLod, double ratio,
                                                 uint64_t limit) {
  std::vector<CellPoint> buffer;
  if (clip) {
    const uint64_t largest = vorlin::RoundedShare(largestLod, ratio);
    buffer.resize(size_t(std::min<uint64_t>(largest, limit) + 1));
  }
  return buffer;
}

bool QvVorlinImp::DeliverClipped(PointCloudQuery& query, int32_t ix, int32_t iy, int32_t iz,
                                 uint32_t first, uint32_t count, bool addCentre,
                                 std::vector<CellPoint>& clipBuffer, CellPoint* out,
                                 uint32_t& accepted) {
  accepted = 0;
  if (count == 0) return true;
  if (clipBuffer.size() < count) {
    clipBuffer.clear();
    clipBuffer.shrink_to_fit();
    clipBuffer.resize(count);
  }
  const QzvCell& cell = m_cells[size_t(CellIndex(ix, iy, iz))];
  if (!ReadRecords(cell, first, count, clipBuffer.data())) return false;

  double box[6];
  CellBox(ix, iy, iz, box);
  IPointCloudFilter* const filter = query.filter;
  filter->prepareCell(&box[0], &box[1], &box[2], &box[3], &box[4], &box[5], count);
  for (uint32_t r = 0; r < count; ++r) {
    const CellPoint& p = clipBuffer[r];
    if (!filter->containsPoint(p.x, p.y, p.z)) continue;
    if (m_clipFilter) {
      const bool inside =
          addCentre ? m_clipFilter->containsPoint(float(double(p.x) + m_grid.centre[0]),
                                                  float(double(p.y) + m_grid.centre[1]),
                                                  float(double(p.z) + m_grid.centre[2]))
                    : m_clipFilter->containsPoint(p.x, p.y, p.z);
      if (!inside) continue;
    }
    out[accepted++] = p;
  }
  return true;
}
