#include <stdint.h>
#include <string.h>

#include <memory>
#include <vector>

#include "format/qzv_layout.h"
#include "format/qzv_writer.h"
#include "import/cell_ordering.h"
#include "import/file_handle.h"
#include "import/linear_point_cell_buf.h"
#include "import/point_cloud_importer.h"
#include "import/stage_clock.h"

using Zelvane::Vorlin::CellPoint;
namespace status = Zelvane::Vorlin;
namespace format = vorlin::format;

namespace {

constexpr uint64_t kRecordBytes = format::kRecordSizeV4;

// Records are ordered in their stored form: on a little-endian target the
// 20-byte stored record and CellPoint share one layout, and the padding byte
// is 0 in both, so no conversion is needed either way.
static_assert(kRecordBytes == sizeof(CellPoint), "stored and memory records differ in size");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records are stored little-endian");

}  // namespace

bool PointCloudImporter::WriteHeader(FileHandle& out) {
  format::QzvV4Header header;
  header.fileId = fileId;
  header.grid = grid;
  header.unitsFactor = unitsFactor;
  header.flags = format::AttributeFlagsFromMask(requestedAttributes & availableAttributes);
  std::vector<uint8_t> bytes =
      format::EncodeQzvV4Header(header, m_pointCounts.data(), m_offsets.data(), m_lodValues.data());
  size_t written = 0;
  return out.WriteAll(bytes.data(), bytes.size(), written);
}

void PointCloudImporter::OrderCell(int ix, int iy, int iz, LinearPointBuf& stream,
                                   uint32_t count, float& lod) {
  vorlin::StageClock clock(stageTimes);
  const double orderedBefore = stageTimes ? stageTimes->ordering : 0.0;
  const int index[3] = {ix, iy, iz};
  double lo[3], hi[3];
  for (int a = 0; a < 3; ++a) {
    lo[a] = index[a] * grid.cellSize + (grid.boundsMin[a] - grid.centre[a]);
    hi[a] = lo[a] + grid.cellSize;
  }
  if (!m_orderingWorkspace) m_orderingWorkspace.reset(new vorlin::OrderingWorkspace);
  lod = vorlin::OrderCellRecords(ordering, lo, hi, stream, count, *m_orderingWorkspace);
  // The driver's writing lap includes this time; move it to ordering.
  clock.Lap(&vorlin::ImportStageTimes::ordering);
  if (stageTimes) stageTimes->writing -= stageTimes->ordering - orderedBefore;
}

void PointCloudImporter::WriteIndexFile(FileHandle& out, uint32_t largestCount) {
  if (!out.Seek(0)) throw status::WriteFailed;
  const size_t cellCount = size_t(grid.CellCount());
  const int nx = grid.nx, ny = grid.ny, nz = grid.nz;
  // The tables and the copy buffer are released on every way out, thrown
  // statuses included.
  struct Tables {
    PointCloudImporter& owner;
    ~Tables() {
      owner.m_pointCounts = std::vector<uint32_t>();
      owner.m_offsets = std::vector<uint64_t>();
      owner.m_lodValues = std::vector<float>();
      owner.m_orderingWorkspace.reset();
    }
  } tables{*this};
  m_pointCounts.assign(cellCount, 0);
  m_offsets.assign(cellCount, 0);
  m_lodValues.assign(cellCount, 0.0f);

  if (!WriteHeader(out)) throw status::WriteFailed;

  uint32_t capacity = largestCount < copyBufferRecords ? largestCount : copyBufferRecords;
  if (capacity == 0) capacity = 1;
  std::unique_ptr<CellPoint[]> buffer(new CellPoint[capacity]);

  // Every write below is complete or throws, so the position is tracked here
  // instead of asking the system once per cell.
  uint64_t position = uint64_t(out.Tell());
  size_t k = 0;
  for (int ix = 0; ix < nx; ++ix) {
    for (int iy = 0; iy < ny; ++iy) {
      for (int iz = 0; iz < nz; ++iz, ++k) {
        double percent = double(k) * 100.0 / double(cellCount);
        if (progress) {
          if (progress->isCancelled()) throw status::Cancelled;
          if (percent > 0.0) progress->setProgress(percent);
        }
        m_offsets[k] = position;
        m_pointCounts[k] = 0;
        m_lodValues[k] = 0.0f;
        CellWriter& cell = cells.Cell(ix, iy, iz);
        if (!cell.HasSpillFile()) continue;

        const uint32_t count = cell.count;
        m_pointCounts[k] = count;
        if (!cell.spillFile().Seek(0)) throw status::ReadFailed;
        if (count > capacity) {
          // Ordered from the spill file straight into the output.
          LinearPointCellBuf stream(cell, out.file());
          try {
            OrderCell(ix, iy, iz, stream, count, m_lodValues[k]);
          } catch (status::VorlinStatus thrown) {
            throw stream.TargetFailed() ? status::WriteFailed : thrown;
          }
          position += uint64_t(count) * kRecordBytes;
          continue;
        }
        const size_t bytes = size_t(count) * kRecordBytes;
        if (!cell.spillFile().ReadExact(buffer.get(), bytes)) throw status::ReadFailed;
        LinearPointMemoryBuf stream(buffer.get());
        OrderCell(ix, iy, iz, stream, count, m_lodValues[k]);
        size_t written = 0;
        if (!out.WriteAll(buffer.get(), bytes, written)) throw status::WriteFailed;
        position += bytes;
      }
    }
  }

  if (!out.Seek(0) || !WriteHeader(out)) throw status::WriteFailed;
}
