#ifndef VORLIN_TESTS_ENGINE_QZV_TEST_FILE_H
#define VORLIN_TESTS_ENGINE_QZV_TEST_FILE_H

// A small QZV writer for tests: any version, chosen counts and LOD values,
// records that name their own cell and position, and hooks to damage tables.
// Header-only so that the format tests can use it too.

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "format/little_endian.h"
#include "vorlin/cell_point.h"

namespace qzv_test {

using Zelvane::Vorlin::CellPoint;

struct TestFile {
  int32_t version = 4;
  uint32_t revision = 0;
  uint64_t fileId = 0x0123456789ABCDEFull;
  int32_t nx = 1, ny = 1, nz = 1;
  double boundsMin[3] = {0, 0, 0};
  double cellSize = 1.0;
  // Version 5 only: upper edges per axis; empty means derived from cellSize.
  std::vector<double> edges[3];
  double unitsFactor = 0.0;
  uint32_t flags = 0x07;
  // Per cell in file order k = (ix * ny + iy) * nz + iz.
  std::vector<std::vector<CellPoint>> records;
  std::vector<float> lods;
  // When not empty, written instead of the true tables.
  std::vector<uint32_t> countOverride;
  std::vector<uint64_t> offsetOverride;

  int64_t CellCount() const { return int64_t(nx) * ny * nz; }
  int64_t FileIndex(int ix, int iy, int iz) const { return (int64_t(ix) * ny + iy) * nz + iz; }
  int64_t EngineIndex(int ix, int iy, int iz) const { return (int64_t(iz) * ny + iy) * nx + ix; }
  double UpperEdge(int axis, int i) const {
    if (version == 5 && !edges[axis].empty()) return edges[axis][size_t(i)];
    return double(i + 1) * cellSize + boundsMin[axis];
  }
  double LowerEdge(int axis, int i) const {
    return i == 0 ? boundsMin[axis] : UpperEdge(axis, i - 1);
  }
  double BoundsMax(int axis) const {
    const int n[3] = {nx, ny, nz};
    return UpperEdge(axis, n[axis] - 1);
  }
  double Centre(int axis) const {
    return boundsMin[axis] + (BoundsMax(axis) - boundsMin[axis]) * 0.5;
  }
  uint32_t RecordSize() const { return version <= 3 ? 16 : 20; }
  uint64_t TotalPoints() const {
    uint64_t total = 0;
    for (const auto& cell : records) total += cell.size();
    return total;
  }
};

// Colour word naming a record: cell k in bits 12-23, record j in bits 0-11.
inline uint32_t Tag(int64_t k, uint32_t j) {
  return (uint32_t(k & 0xFFF) << 12) | (j & 0xFFF);
}
inline int64_t TagCell(const CellPoint& p) { return (p.color >> 12) & 0xFFF; }
inline uint32_t TagRecord(const CellPoint& p) { return p.color & 0xFFF; }

// Deterministic spread in [0, 1).
inline double Spread(uint64_t k, uint64_t j, int axis) {
  uint64_t h = (k * 0x9E3779B97F4A7C15ull) ^ (j * 0xC2B2AE3D27D4EB4Full) ^ (uint64_t(axis) << 56);
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return double(h % 1000003) / 1000003.0;
}

// Fills a grid: count(ix, iy, iz) records per cell placed inside the cell's
// box, and LOD value lod(ix, iy, iz).
inline void Populate(TestFile& f, const std::function<uint32_t(int, int, int)>& count,
                     const std::function<float(int, int, int)>& lod) {
  f.records.assign(size_t(f.CellCount()), {});
  f.lods.assign(size_t(f.CellCount()), 0.0f);
  for (int ix = 0; ix < f.nx; ++ix) {
    for (int iy = 0; iy < f.ny; ++iy) {
      for (int iz = 0; iz < f.nz; ++iz) {
        const int64_t k = f.FileIndex(ix, iy, iz);
        const int index[3] = {ix, iy, iz};
        f.lods[size_t(k)] = lod(ix, iy, iz);
        const uint32_t n = count(ix, iy, iz);
        for (uint32_t j = 0; j < n; ++j) {
          double pos[3];
          for (int a = 0; a < 3; ++a) {
            const double lo = f.LowerEdge(a, index[a]), hi = f.UpperEdge(a, index[a]);
            pos[a] = lo + (hi - lo) * Spread(uint64_t(k), j, a) - f.Centre(a);
          }
          CellPoint p;
          memset(&p, 0, sizeof p);
          p.x = float(pos[0]);
          p.y = float(pos[1]);
          p.z = float(pos[2]);
          p.color = Tag(k, j) | (f.version <= 3 ? 0xFF000000u : (uint32_t(j * 7 + 1) << 24));
          p.normalIndex = uint16_t(f.version <= 3 ? 0 : (j % 4096));
          p.customAttribute = uint8_t(f.version <= 3 ? 0 : (k * 3 + 1));
          f.records[size_t(k)].push_back(p);
        }
      }
    }
  }
}

// Offset where the cell tables start.
inline uint64_t TablesOffset(const TestFile& f) {
  if (f.version <= 3) return 99;
  if (f.version == 4) return 111;
  return 103 + 8 * uint64_t(int64_t(f.nx) + f.ny + f.nz);
}

inline uint64_t FirstRecordOffset(const TestFile& f) {
  uint64_t end = TablesOffset(f) + 16 * uint64_t(f.CellCount());
  if (f.version <= 3) return end;
  return end + 24 + ((f.flags & 0x20) ? 128 : 0);
}

inline std::vector<uint8_t> Serialize(const TestFile& f) {
  vorlin::format::ByteWriter w;
  for (char c : {'Q', 'Z', 'V'}) w.U8(uint8_t(c));
  w.I32(f.version);
  if (f.version > 3) {
    w.U32(f.revision);
    w.U64(f.fileId);
  }
  for (int a = 0; a < 3; ++a) w.F64(f.boundsMin[a]);
  for (int a = 0; a < 3; ++a) w.F64(f.BoundsMax(a));
  for (int a = 0; a < 3; ++a) w.F64(f.Centre(a));
  w.I32(f.nx);
  w.I32(f.ny);
  w.I32(f.nz);
  if (f.version == 5) {
    const int n[3] = {f.nx, f.ny, f.nz};
    for (int a = 0; a < 3; ++a)
      for (int i = 0; i < n[a]; ++i) w.F64(f.UpperEdge(a, i));
  } else {
    w.F64(f.cellSize);
  }
  const size_t cells = size_t(f.CellCount());
  std::vector<uint64_t> offsets(cells);
  uint64_t at = FirstRecordOffset(f);
  for (size_t k = 0; k < cells; ++k) {
    offsets[k] = at;
    at += uint64_t(f.records[k].size()) * f.RecordSize();
  }
  for (size_t k = 0; k < cells; ++k)
    w.U32(f.countOverride.empty() ? uint32_t(f.records[k].size()) : f.countOverride[k]);
  for (size_t k = 0; k < cells; ++k) w.U64(f.offsetOverride.empty() ? offsets[k] : f.offsetOverride[k]);
  for (size_t k = 0; k < cells; ++k) w.F32(f.lods[k]);
  if (f.version > 3) {
    w.F64(f.unitsFactor);
    w.U32(f.flags);
    if (f.flags & 0x20) w.Zeros(128);
    w.Zeros(12);
  }
  for (size_t k = 0; k < cells; ++k) {
    for (const CellPoint& p : f.records[k]) {
      w.F32(p.x);
      w.F32(p.y);
      w.F32(p.z);
      w.U32(p.color);
      if (f.version > 3) {
        w.U8(uint8_t(p.normalIndex));
        w.U8(uint8_t(p.normalIndex >> 8));
        w.U8(p.customAttribute);
        w.U8(0);
      }
    }
  }
  return w.bytes();
}

inline bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return fclose(out) == 0 && ok;
}

inline bool Write(const std::string& path, const TestFile& f) {
  return WriteBytes(path, Serialize(f));
}

// The record as the engine delivers it: version-3 records widened with zeros.
inline bool SameRecord(const CellPoint& a, const CellPoint& b) {
  return memcmp(&a, &b, 19) == 0;
}

}  // namespace qzv_test

#endif
