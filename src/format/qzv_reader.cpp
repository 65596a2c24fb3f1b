#include "format/qzv_reader.h"

#include <math.h>
#include <string.h>

#include <algorithm>

#include "base/little_endian.h"
#include "format/qzv_layout.h"

namespace vorlin {
namespace format {

namespace {

// Reads size bytes at offset, refusing anything that reaches past fileSize.
bool ReadAt(platform::File& file, uint64_t fileSize, uint64_t offset, void* out, size_t size) {
  if (offset > fileSize || size > fileSize - offset) return false;
  return size == 0 || file.ReadExactAt(out, size, offset);
}

// n = nx * ny * nz, or 0 when a dimension is below 1 or n exceeds limit.
uint64_t CellCount(int32_t nx, int32_t ny, int32_t nz, uint64_t limit) {
  if (nx < 1 || ny < 1 || nz < 1) return 0;
  uint64_t n = uint64_t(nx) * uint64_t(ny);  // < 2^62
  if (n > limit) return 0;
  n *= uint64_t(nz);  // < 2^30 * 2^31
  return n > limit ? 0 : n;
}

void ReadBoundsAndGrid(const uint8_t* p, QzvHeader& h) {
  for (int a = 0; a < 3; ++a) h.grid.boundsMin[a] = GetF64(p + 8 * a);
  for (int a = 0; a < 3; ++a) h.grid.boundsMax[a] = GetF64(p + 24 + 8 * a);
  for (int a = 0; a < 3; ++a) h.grid.centre[a] = GetF64(p + 48 + 8 * a);
  h.grid.nx = GetI32(p + 72);
  h.grid.ny = GetI32(p + 76);
  h.grid.nz = GetI32(p + 80);
}

// Reads everything before the tables; pos ends at the first table and n is
// the number of cells, bounded by the file's size.
QzvReadStatus ReadHead(platform::File& file, uint64_t fileSize, QzvHeader& h, uint64_t& pos,
                       uint64_t& n) {
  uint8_t head[103];
  if (!ReadAt(file, fileSize, 0, head, 3) || memcmp(head, kQzvMagic, 3) != 0)
    return QzvReadStatus::kNotQzv;
  if (!ReadAt(file, fileSize, 3, head + 3, 4)) return QzvReadStatus::kTruncated;
  h.version = GetI32(head + 3);
  if (h.version > kQzvMaxVersion) return QzvReadStatus::kUnsupportedVersion;

  const bool layoutV3 = h.version <= kQzvVersion3;
  if (layoutV3) {
    if (!ReadAt(file, fileSize, 7, head + 7, 92)) return QzvReadStatus::kTruncated;
    h.revision = 0;
    h.fileId = 0;
    ReadBoundsAndGrid(head + 7, h);
    h.grid.cellSize = GetF64(head + 91);
    pos = kTablesOffsetV3;
  } else {
    if (!ReadAt(file, fileSize, 7, head + 7, 96)) return QzvReadStatus::kTruncated;
    h.revision = GetU32(head + 7);
    h.fileId = GetU64(head + 11);
    ReadBoundsAndGrid(head + 19, h);
    pos = 103;
  }

  // Each cell needs 16 bytes of tables, so the file size bounds the grid.
  const uint64_t byTables = fileSize / kTableBytesPerCell;
  n = CellCount(h.grid.nx, h.grid.ny, h.grid.nz, byTables < kMaxQzvCells ? byTables : kMaxQzvCells);
  if (n == 0) return QzvReadStatus::kBadGrid;
  const int32_t dims[3] = {h.grid.nx, h.grid.ny, h.grid.nz};

  if (h.version == kQzvVersion5) {
    const uint64_t edgeBytes = 8 * (uint64_t(h.grid.nx) + uint64_t(h.grid.ny) + uint64_t(h.grid.nz));
    if (pos + edgeBytes > fileSize) return QzvReadStatus::kTruncated;
    std::vector<uint8_t> raw(edgeBytes);
    if (!ReadAt(file, fileSize, pos, raw.data(), raw.size())) return QzvReadStatus::kTruncated;
    const uint8_t* p = raw.data();
    for (int a = 0; a < 3; ++a) {
      h.upperEdges[a].resize(size_t(dims[a]));
      for (double& edge : h.upperEdges[a]) {
        edge = GetF64(p);
        p += 8;
      }
    }
    h.grid.cellSize = 0.0;
    pos += edgeBytes;
  } else {
    if (!layoutV3) {
      uint8_t cell[8];
      if (!ReadAt(file, fileSize, pos, cell, 8)) return QzvReadStatus::kTruncated;
      h.grid.cellSize = GetF64(cell);
      pos += 8;
    }
    for (int a = 0; a < 3; ++a) {
      h.upperEdges[a].resize(size_t(dims[a]));
      for (int32_t i = 0; i < dims[a]; ++i)
        h.upperEdges[a][size_t(i)] = double(i + 1) * h.grid.cellSize + h.grid.boundsMin[a];
    }
  }

  if (pos > fileSize || kTableBytesPerCell * n > fileSize - pos) return QzvReadStatus::kTruncated;
  return QzvReadStatus::kOk;
}

uint64_t FileSizeOf(platform::File& file) {
  const int64_t size = file.Size();
  return size > 0 ? uint64_t(size) : 0;
}

// The queries divide by sums of LOD values; keep them finite and non-negative.
float SaneLod(float lod) { return (isfinite(lod) && lod > 0.0f) ? lod : 0.0f; }

// Cells whose records would run past the end of the file keep those it holds.
uint32_t HeldCount(uint32_t count, uint64_t offset, uint64_t fileSize, uint32_t recordSize) {
  const uint64_t held = offset < fileSize ? (fileSize - offset) / recordSize : 0;
  return count > held ? uint32_t(held) : count;
}

// A gap of at least the trailer's size before the first record means the
// trailing block is there, whatever the version says.
QzvReadStatus ReadTrailer(platform::File& file, uint64_t fileSize, uint64_t pos,
                          uint64_t firstOffset, QzvHeader& h) {
  h.hasTrailer = false;
  h.unitsFactor = 0.0;
  h.attributeFlags = 1;
  if (int64_t(firstOffset - pos) >= int64_t(kTrailerSize)) {
    uint8_t trailer[12];
    if (!ReadAt(file, fileSize, pos, trailer, sizeof trailer)) return QzvReadStatus::kTruncated;
    h.hasTrailer = true;
    h.unitsFactor = GetF64(trailer);
    h.attributeFlags = GetU32(trailer + 8);
  }
  return QzvReadStatus::kOk;
}

}  // namespace

QzvReadStatus ReadQzvFile(platform::File& file, QzvHeader& h, QzvCellTables& tables) {
  const uint64_t fileSize = FileSizeOf(file);
  uint64_t pos = 0, n = 0;
  const QzvReadStatus status = ReadHead(file, fileSize, h, pos, n);
  if (status != QzvReadStatus::kOk) return status;
  {
    std::vector<uint8_t> raw(size_t(n) * 8);
    if (!ReadAt(file, fileSize, pos, raw.data(), size_t(n) * 4)) return QzvReadStatus::kTruncated;
    tables.counts.resize(size_t(n));
    for (size_t k = 0; k < n; ++k) tables.counts[k] = GetU32(raw.data() + 4 * k);
    pos += 4 * n;
    if (!ReadAt(file, fileSize, pos, raw.data(), size_t(n) * 8)) return QzvReadStatus::kTruncated;
    tables.offsets.resize(size_t(n));
    for (size_t k = 0; k < n; ++k) tables.offsets[k] = GetU64(raw.data() + 8 * k);
    pos += 8 * n;
    if (!ReadAt(file, fileSize, pos, raw.data(), size_t(n) * 4)) return QzvReadStatus::kTruncated;
    tables.lods.resize(size_t(n));
    for (size_t k = 0; k < n; ++k) {
      tables.lods[k] = SaneLod(GetF32(raw.data() + 4 * k));
    }
    pos += 4 * n;
  }

  const QzvReadStatus trailer = ReadTrailer(file, fileSize, pos, tables.offsets[0], h);
  if (trailer != QzvReadStatus::kOk) return trailer;

  const uint32_t recordSize = RecordSize(h.version);
  for (size_t k = 0; k < n; ++k)
    tables.counts[k] = HeldCount(tables.counts[k], tables.offsets[k], fileSize, recordSize);
  return QzvReadStatus::kOk;
}

QzvReadStatus ReadQzvFileCells(platform::File& file, QzvHeader& h,
                               QzvCellTable& cells) {
  const uint64_t fileSize = FileSizeOf(file);
  uint64_t pos = 0, n = 0;
  const QzvReadStatus status = ReadHead(file, fileSize, h, pos, n);
  if (status != QzvReadStatus::kOk) return status;

  // The file lists cells with x slowest and z fastest, so the entries of a
  // few x layers are contiguous in each table. Read them as one block per
  // table and transpose them into z-major order; a block of 4 or more layers
  // writes whole cache lines of the cell table. The block stays near 1 MiB so
  // that its pages are few; a layer is at most the file's size.
  const size_t nx = size_t(h.grid.nx), ny = size_t(h.grid.ny), nz = size_t(h.grid.nz);
  const size_t layer = ny * nz;
  const size_t byBytes = (size_t(1) << 20) / (layer * kTableBytesPerCell);
  const size_t layersPerBlock = std::max<size_t>(1, std::min({size_t(16), nx, byBytes}));
  const size_t blockEntries = layersPerBlock * layer;
  std::unique_ptr<uint8_t[]> raw(new uint8_t[blockEntries * kTableBytesPerCell]);
  uint8_t* const rawCounts = raw.get();
  uint8_t* const rawOffsets = rawCounts + 4 * blockEntries;
  uint8_t* const rawLods = rawOffsets + 8 * blockEntries;
  const uint64_t countsAt = pos, offsetsAt = pos + 4 * n, lodsAt = pos + 12 * n;
  const uint32_t recordSize = RecordSize(h.version);

  QzvCellTable table(static_cast<size_t>(n));
  for (size_t x0 = 0; x0 < nx; x0 += layersPerBlock) {
    const size_t layers = std::min(layersPerBlock, nx - x0);
    const size_t entries = layers * layer;
    const uint64_t k0 = uint64_t(x0) * layer;
    if (!ReadAt(file, fileSize, countsAt + 4 * k0, rawCounts, 4 * entries) ||
        !ReadAt(file, fileSize, offsetsAt + 8 * k0, rawOffsets, 8 * entries) ||
        !ReadAt(file, fileSize, lodsAt + 4 * k0, rawLods, 4 * entries))
      return QzvReadStatus::kTruncated;
    for (size_t iy = 0; iy < ny; ++iy) {
      for (size_t iz = 0; iz < nz; ++iz) {
        QzvCell* out = &table[(iz * ny + iy) * nx + x0];
        size_t k = iy * nz + iz;  // within the block
        for (size_t dx = 0; dx < layers; ++dx, k += layer) {
          const uint64_t offset = GetU64(rawOffsets + 8 * k);
          out[dx].offset = offset;
          out[dx].count = HeldCount(GetU32(rawCounts + 4 * k), offset, fileSize, recordSize);
          out[dx].lod = SaneLod(GetF32(rawLods + 4 * k));
        }
      }
    }
  }

  const QzvReadStatus trailer = ReadTrailer(file, fileSize, lodsAt + 4 * n, table[0].offset, h);
  if (trailer != QzvReadStatus::kOk) return trailer;
  cells = std::move(table);
  return QzvReadStatus::kOk;
}

}  // namespace format
}  // namespace vorlin
