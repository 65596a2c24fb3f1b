#ifndef VORLIN_FORMAT_QZV_LAYOUT_H
#define VORLIN_FORMAT_QZV_LAYOUT_H

#include <stdint.h>

#include "vorlin/cell_point.h"

namespace vorlin {
namespace format {

// Layout constants and size formulas of the QZV file.
constexpr char kQzvMagic[3] = {'Q', 'Z', 'V'};
constexpr int kQzvVersion3 = 3;
constexpr int kQzvVersion4 = 4;
constexpr int kQzvVersion5 = 5;
constexpr int kQzvMaxVersion = 5;

constexpr uint32_t kRecordSizeV4 = 20;  // CellPoint
constexpr uint32_t kRecordSizeV3 = 16;  // CellPointV3
static_assert(sizeof(Zelvane::Vorlin::CellPoint) == kRecordSizeV4, "record size");
static_assert(sizeof(Zelvane::Vorlin::CellPointV3) == kRecordSizeV3, "record size");

// Attribute flags word of version-4 and version-5 files.
constexpr uint32_t kFlagRgb = 0x01;
constexpr uint32_t kFlagIntensity = 0x02;
constexpr uint32_t kFlagNormal = 0x04;
constexpr uint32_t kFlagNormalGenerated = 0x08;
constexpr uint32_t kFlagCustomAttribute = 0x10;
constexpr uint32_t kFlagAttributeBlock = 0x20;

constexpr uint32_t kAttributeBlockSize = 128;
constexpr uint32_t kReservedWordsSize = 12;
// Units factor, flags word and reserved words.
constexpr uint32_t kTrailerSize = 8 + 4 + kReservedWordsSize;

constexpr uint32_t kTablesOffsetV3 = 99;
constexpr uint32_t kTablesOffsetV4 = 111;
constexpr uint32_t kTableBytesPerCell = 4 + 8 + 4;  // count, offset, LOD value

inline uint32_t RecordSize(int version) {
  return version <= kQzvVersion3 ? kRecordSizeV3 : kRecordSizeV4;
}

// Where the cell tables begin (T).
inline uint64_t TablesOffset(int version, int64_t nx, int64_t ny, int64_t nz) {
  if (version <= kQzvVersion3) return kTablesOffsetV3;
  if (version == kQzvVersion4) return kTablesOffsetV4;
  return 103 + 8 * uint64_t(nx + ny + nz);
}

// Where the first record of the first cell begins.
inline uint64_t FirstRecordOffset(int version, int64_t nx, int64_t ny, int64_t nz,
                                  uint32_t flags) {
  uint64_t n = uint64_t(nx) * uint64_t(ny) * uint64_t(nz);
  uint64_t end = TablesOffset(version, nx, ny, nz) + kTableBytesPerCell * n;
  if (version <= kQzvVersion3) return end;
  return end + kTrailerSize + ((flags & kFlagAttributeBlock) ? kAttributeBlockSize : 0);
}

// Attribute flags written for an import's mask (requested AND available).
inline uint32_t AttributeFlagsFromMask(uint32_t mask) {
  uint32_t flags = mask & 0x07;
  if (mask & 0x08) flags |= kFlagCustomAttribute;
  if (mask & 0x10) flags |= kFlagAttributeBlock;
  return flags;
}

}  // namespace format
}  // namespace vorlin

#endif
