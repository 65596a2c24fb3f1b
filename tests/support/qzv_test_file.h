#ifndef VORLIN_TESTS_SUPPORT_QZV_TEST_FILE_H
#define VORLIN_TESTS_SUPPORT_QZV_TEST_FILE_H

// The tests' one QZV writer and reader. The writer makes any version, with
// chosen counts and LOD values, records whose colour word names their cell
// and position, and overrides to damage the tables. Written files are read
// back with the library's reader, which the format tests hold against this
// writer.

#include <stdint.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "format/qzv_reader.h"
#include "format/qzv_writer.h"
#include "platform/file.h"
#include "platform/wide_string.h"
#include "support/temp_dir.h"
#include "vorlin/cell_point.h"

namespace qzv_test {

using Zelvane::Vorlin::CellPoint;

struct TestFile {
  int32_t version = 4;
  uint32_t revision = 0;
  int32_t nx = 1, ny = 1, nz = 1;
  double boundsMin[3] = {0, 0, 0};
  double cellSize = 1.0;
  std::vector<double> edges[3];  // version 5: upper edges per axis
  double unitsFactor = 0.0;
  uint32_t flags = 0x07;
  std::vector<std::vector<CellPoint>> records;  // per cell, file order k
  std::vector<float> lods;
  std::vector<uint32_t> countOverride;  // written instead of the true tables
  std::vector<uint64_t> offsetOverride;

  int64_t CellCount() const { return int64_t(nx) * ny * nz; }
  int64_t FileIndex(int ix, int iy, int iz) const { return (int64_t(ix) * ny + iy) * nz + iz; }
  int64_t EngineIndex(int ix, int iy, int iz) const { return (int64_t(iz) * ny + iy) * nx + ix; }
  double UpperEdge(int a, int i) const {
    return version == 5 ? edges[a][size_t(i)] : double(i + 1) * cellSize + boundsMin[a];
  }
  double LowerEdge(int a, int i) const { return i == 0 ? boundsMin[a] : UpperEdge(a, i - 1); }
  double BoundsMax(int a) const { return UpperEdge(a, (a == 0 ? nx : a == 1 ? ny : nz) - 1); }
  double Centre(int a) const { return boundsMin[a] + (BoundsMax(a) - boundsMin[a]) * 0.5; }
  uint32_t RecordSize() const { return version <= 3 ? 16 : 20; }
  uint64_t TablesOffset() const {
    return version <= 3 ? 99 : version == 4 ? 111 : 103 + 8 * uint64_t(int64_t(nx) + ny + nz);
  }
  uint64_t FirstRecordOffset() const {
    const uint64_t end = TablesOffset() + 16 * uint64_t(CellCount());
    return version <= 3 ? end : end + 24 + ((flags & 0x20) ? 128 : 0);
  }
  uint64_t TotalPoints() const {
    uint64_t total = 0;
    for (const auto& cell : records) total += cell.size();
    return total;
  }
};

// Colour word of record j of cell k: k in bits 12-23, j in bits 0-11.
inline int64_t TagCell(const CellPoint& p) { return (p.color >> 12) & 0xFFF; }
inline uint32_t TagRecord(const CellPoint& p) { return p.color & 0xFFF; }

// Deterministic spread in [0, 1).
inline double Spread(uint64_t k, uint64_t j, int axis) {
  uint64_t h = (k * 0x9E3779B97F4A7C15ull) ^ (j * 0xC2B2AE3D27D4EB4Full) ^ (uint64_t(axis) << 56);
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return double((h ^ (h >> 32)) % 1000003) / 1000003.0;
}

// count(ix, iy, iz) records per cell, spread over the cell's box; version-3
// records look as the engine widens them (intensity 255, normal 0, attribute 0).
inline void Populate(TestFile& f, const std::function<uint32_t(int, int, int)>& count,
                     const std::function<float(int, int, int)>& lod) {
  f.records.assign(size_t(f.CellCount()), {});
  f.lods.assign(size_t(f.CellCount()), 0.0f);
  for (int ix = 0; ix < f.nx; ++ix)
    for (int iy = 0; iy < f.ny; ++iy)
      for (int iz = 0; iz < f.nz; ++iz) {
        const int64_t k = f.FileIndex(ix, iy, iz);
        const int at[3] = {ix, iy, iz};
        f.lods[size_t(k)] = lod(ix, iy, iz);
        for (uint32_t j = 0, n = count(ix, iy, iz); j < n; ++j) {
          CellPoint p;
          memset(&p, 0, sizeof p);
          float* pos[3] = {&p.x, &p.y, &p.z};
          for (int a = 0; a < 3; ++a) {
            const double lo = f.LowerEdge(a, at[a]), hi = f.UpperEdge(a, at[a]);
            *pos[a] = float(lo + (hi - lo) * Spread(uint64_t(k), j, a) - f.Centre(a));
          }
          p.color = (uint32_t(k) << 12) | j | (f.version <= 3 ? 0xFF000000u : (j * 7 + 1) << 24);
          if (f.version > 3) {
            p.normalIndex = uint16_t(j % 4096);
            p.customAttribute = uint8_t(k * 3 + 1);
          }
          f.records[size_t(k)].push_back(p);
        }
      }
}

inline std::vector<uint8_t> Serialize(const TestFile& f) {
  vorlin::format::ByteWriter w;
  for (char c : {'Q', 'Z', 'V'}) w.U8(uint8_t(c));
  w.I32(f.version);
  if (f.version > 3) {
    w.U32(f.revision);
    w.U64(0x0123456789ABCDEFull);
  }
  for (int a = 0; a < 3; ++a) w.F64(f.boundsMin[a]);
  for (int a = 0; a < 3; ++a) w.F64(f.BoundsMax(a));
  for (int a = 0; a < 3; ++a) w.F64(f.Centre(a));
  for (int32_t n : {f.nx, f.ny, f.nz}) w.I32(n);
  if (f.version == 5) {
    for (const auto& axis : f.edges)
      for (double edge : axis) w.F64(edge);
  } else {
    w.F64(f.cellSize);
  }
  const size_t cells = size_t(f.CellCount());
  uint64_t at = f.FirstRecordOffset();
  for (size_t k = 0; k < cells; ++k)
    w.U32(f.countOverride.empty() ? uint32_t(f.records[k].size()) : f.countOverride[k]);
  for (size_t k = 0; k < cells; ++k) {
    w.U64(f.offsetOverride.empty() ? at : f.offsetOverride[k]);
    at += f.records[k].size() * f.RecordSize();
  }
  for (size_t k = 0; k < cells; ++k) w.F32(f.lods[k]);
  if (f.version > 3) {
    w.F64(f.unitsFactor);
    w.U32(f.flags);
    w.Zeros((f.flags & 0x20) ? 140 : 12);
  }
  for (const auto& cell : f.records)
    for (const CellPoint& p : cell) {
      for (float v : {p.x, p.y, p.z}) w.F32(v);
      w.U32(p.color);
      if (f.version <= 3) continue;
      for (int b : {p.normalIndex & 0xFF, p.normalIndex >> 8, int(p.customAttribute), 0})
        w.U8(uint8_t(b));
    }
  return w.bytes();
}

using vorlin_test::WriteBytes;

// Byte 19 is padding and carries no meaning.
inline bool SameRecord(const CellPoint& a, const CellPoint& b) { return memcmp(&a, &b, 19) == 0; }

// A written file: its header and tables, and its bytes for the records.
struct ReadBack {
  std::vector<uint8_t> bytes;
  vorlin::format::QzvHeader header;
  vorlin::format::QzvCellTables tables;

  const vorlin::format::QzvGrid& grid() const { return header.grid; }
  size_t Cells() const { return tables.counts.size(); }
  uint64_t End(size_t k) const { return tables.offsets[k] + 20ull * tables.counts[k]; }
  CellPoint Record(size_t k, uint32_t i) const {
    return vorlin::format::UnpackCellPoint(bytes.data() + tables.offsets[k] + 20ull * i);
  }
  std::vector<CellPoint> AllRecords() const {
    std::vector<CellPoint> all;
    for (size_t k = 0; k < Cells(); ++k)
      for (uint32_t i = 0; i < tables.counts[k]; ++i) all.push_back(Record(k, i));
    return all;
  }
};

// False when the library refuses the file or cannot read it whole.
inline bool Read(const std::string& path, ReadBack& f) {
  namespace platform = vorlin::platform;
  platform::File file = platform::File::Open(platform::FromUtf8(path).c_str(), platform::kAccessRead,
                                             platform::kShareRead, platform::Disposition::kOpenExisting);
  if (vorlin::format::ReadQzvFile(file, f.header, f.tables) != vorlin::format::QzvReadStatus::kOk) return false;
  f.bytes = vorlin_test::ReadBytes(path);
  return true;
}

}  // namespace qzv_test

#endif
