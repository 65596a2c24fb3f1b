#ifndef VORLIN_CELL_POINT_H
#define VORLIN_CELL_POINT_H

#include <stddef.h>
#include <stdint.h>

namespace Zelvane {
namespace Vorlin {

// A point record of version-4 and version-5 files. Positions are offsets from
// the file's centre. color: bits 0-7 blue, 8-15 green, 16-23 red, 24-31
// intensity. normalIndex 4095 means "no normal".
struct CellPoint {
  float x;
  float y;
  float z;
  uint32_t color;
  uint16_t normalIndex;
  uint8_t customAttribute;
  uint8_t padding;
};

// A point record of version-3 files; bits 24-31 of color are 255 in every
// record the library writes.
struct CellPointV3 {
  float x;
  float y;
  float z;
  uint32_t color;
};

static_assert(sizeof(CellPoint) == 20, "CellPoint is a 20-byte record");
static_assert(offsetof(CellPoint, x) == 0 && offsetof(CellPoint, y) == 4 &&
                  offsetof(CellPoint, z) == 8 && offsetof(CellPoint, color) == 12 &&
                  offsetof(CellPoint, normalIndex) == 16 &&
                  offsetof(CellPoint, customAttribute) == 18,
              "CellPoint field offsets");
static_assert(sizeof(CellPointV3) == 16, "CellPointV3 is a 16-byte record");
static_assert(offsetof(CellPointV3, x) == 0 && offsetof(CellPointV3, y) == 4 &&
                  offsetof(CellPointV3, z) == 8 && offsetof(CellPointV3, color) == 12,
              "CellPointV3 field offsets");

// Version-3 form of a record: position kept, intensity byte set to 255,
// normal and custom attribute dropped.
inline CellPointV3 ToCellPointV3(const CellPoint& p) {
  CellPointV3 v;
  v.x = p.x;
  v.y = p.y;
  v.z = p.z;
  v.color = p.color | 0xFF000000u;
  return v;
}

}  // namespace Vorlin
}  // namespace Zelvane

#endif
