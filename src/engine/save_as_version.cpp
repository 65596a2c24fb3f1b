#include <stdint.h>

#include <memory>
#include <vector>

#include "engine/qv_vorlin_imp.h"
#include "base/little_endian.h"
#include "format/qzv_layout.h"
#include "format/qzv_writer.h"

namespace format = vorlin::format;
namespace platform = vorlin::platform;

namespace {

// Records are converted in slices so that a huge cell needs bounded memory.
constexpr uint32_t kSliceRecords = 1 << 16;

}  // namespace

// Writes a version-3 copy of the open version-4 file: same grid, cell order
// and record order, 16-byte records with the intensity byte set to 255. On any
// failure the partial copy is deleted. The copy's offsets are computed from
// the counts, and each cell is read from its own offset, so the copy is valid
// even when the source's cells do not lie back to back.
bool QvVorlinImp::saveAsVersion(const wchar_t* fileName, unsigned int version) {
  if (version != unsigned(format::kQzvVersion3) || m_version != format::kQzvVersion4) return false;
  if (m_cells.empty() || !m_file.IsValid() || !fileName) return false;

  const int32_t nx = m_cellsNx, ny = m_cellsNy, nz = m_cellsNz;
  const uint64_t n = uint64_t(nx) * uint64_t(ny) * uint64_t(nz);

  // Tables in the file's order: x slowest, z fastest.
  std::vector<uint32_t> counts;
  std::vector<uint64_t> sourceOffsets;
  std::vector<float> lods;
  counts.reserve(n);
  sourceOffsets.reserve(n);
  lods.reserve(n);
  for (int32_t ix = 0; ix < nx; ++ix) {
    for (int32_t iy = 0; iy < ny; ++iy) {
      for (int32_t iz = 0; iz < nz; ++iz) {
        const QzvCell& cell = m_cells[size_t(CellIndex(ix, iy, iz))];
        counts.push_back(cell.count);
        sourceOffsets.push_back(cell.offset);
        lods.push_back(cell.lod);
      }
    }
  }

  format::QzvV4Header geometry;
  geometry.grid = m_grid;
  geometry.grid.nx = nx;
  geometry.grid.ny = ny;
  geometry.grid.nz = nz;
  std::vector<uint64_t> targetOffsets;
  targetOffsets.reserve(n);
  uint64_t offset = format::FirstRecordOffset(format::kQzvVersion3, nx, ny, nz, 0);
  for (uint32_t c : counts) {
    targetOffsets.push_back(offset);
    offset += uint64_t(c) * format::kRecordSizeV3;
  }
  const std::vector<uint8_t> header =
      format::EncodeQzvV3Header(geometry, counts.data(), targetOffsets.data(), lods.data());

  // Buffers come before the file, so that an allocation failure leaves no
  // partial copy behind.
  uint32_t largestSlice = 0;
  for (uint32_t c : counts) largestSlice = std::max(largestSlice, std::min(kSliceRecords, c));
  std::vector<uint8_t> source;
  std::vector<uint8_t> target;
  source.reserve(size_t(largestSlice) * format::kRecordSizeV4);
  target.reserve(size_t(largestSlice) * format::kRecordSizeV3);

  platform::File out = platform::File::Open(fileName, platform::kAccessRead | platform::kAccessWrite,
                                            platform::kShareNone,
                                            platform::Disposition::kCreateAlways);
  if (!out.IsValid()) return false;

  bool ok = out.Write(header.data(), header.size());
  for (size_t k = 0; ok && k < counts.size(); ++k) {
    uint32_t done = 0;
    while (ok && done < counts[k]) {
      const uint32_t slice = std::min(kSliceRecords, counts[k] - done);
      source.resize(size_t(slice) * format::kRecordSizeV4);
      target.resize(size_t(slice) * format::kRecordSizeV3);
      ok = m_file.ReadExactAt(source.data(), source.size(),
                              sourceOffsets[k] + uint64_t(done) * format::kRecordSizeV4);
      for (uint32_t r = 0; ok && r < slice; ++r) {
        const uint8_t* in = source.data() + size_t(r) * format::kRecordSizeV4;
        uint8_t* record = target.data() + size_t(r) * format::kRecordSizeV3;
        for (int axis = 0; axis < 3; ++axis) {
          format::PutU32(record + 4 * axis, format::GetU32(in + 4 * axis));
        }
        format::PutU32(record + 12, format::GetU32(in + 12) | 0xFF000000u);
      }
      if (ok) ok = out.Write(target.data(), target.size());
      done += slice;
    }
  }
  if (!out.Close()) ok = false;
  // The copy already failed; one that cannot be deleted changes nothing more.
  if (!ok) (void)platform::DeleteFileAt(fileName);
  return ok;
}
