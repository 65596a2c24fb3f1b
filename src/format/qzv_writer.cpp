#include "format/qzv_writer.h"

#include "base/little_endian.h"

using Zelvane::Vorlin::CellPoint;

namespace vorlin {
namespace format {

namespace {

void WriteTables(ByteWriter& w, uint64_t cells, const uint32_t* counts, const uint64_t* offsets,
                 const float* lodValues) {
  for (uint64_t k = 0; k < cells; ++k) w.U32(counts[k]);
  for (uint64_t k = 0; k < cells; ++k) w.U64(offsets[k]);
  for (uint64_t k = 0; k < cells; ++k) w.F32(lodValues[k]);
}

void WriteGeometry(ByteWriter& w, const QzvGrid& g) {
  for (double v : g.boundsMin) w.F64(v);
  for (double v : g.boundsMax) w.F64(v);
  for (double v : g.centre) w.F64(v);
  w.I32(g.nx);
  w.I32(g.ny);
  w.I32(g.nz);
  w.F64(g.cellSize);
}

}  // namespace

std::vector<uint8_t> EncodeQzvV4Header(const QzvV4Header& h, const uint32_t* counts,
                                       const uint64_t* offsets, const float* lodValues) {
  ByteWriter w;
  w.bytes().reserve(size_t(FirstRecordOffset(kQzvVersion4, h.grid.nx, h.grid.ny, h.grid.nz, h.flags)));
  for (char c : kQzvMagic) w.U8(uint8_t(c));
  w.I32(kQzvVersion4);
  w.U32(h.revision);
  w.U64(h.fileId);
  WriteGeometry(w, h.grid);
  WriteTables(w, h.grid.CellCount(), counts, offsets, lodValues);
  w.F64(h.unitsFactor);
  w.U32(h.flags);
  if (h.flags & kFlagAttributeBlock) w.Zeros(kAttributeBlockSize);
  w.Zeros(kReservedWordsSize);
  return std::move(w.bytes());
}

std::vector<uint8_t> EncodeQzvV3Header(const QzvV4Header& h, const uint32_t* counts,
                                       const uint64_t* offsets, const float* lodValues) {
  ByteWriter w;
  w.bytes().reserve(size_t(FirstRecordOffset(kQzvVersion3, h.grid.nx, h.grid.ny, h.grid.nz, 0)));
  for (char c : kQzvMagic) w.U8(uint8_t(c));
  w.I32(kQzvVersion3);
  WriteGeometry(w, h.grid);
  WriteTables(w, h.grid.CellCount(), counts, offsets, lodValues);
  return std::move(w.bytes());
}

void PackCellPoint(const CellPoint& p, uint8_t* out) {
  PutF32(out, p.x);
  PutF32(out + 4, p.y);
  PutF32(out + 8, p.z);
  PutU32(out + 12, p.color);
  PutU16(out + 16, p.normalIndex);
  PutU8(out + 18, p.customAttribute);
  PutU8(out + 19, 0);
}

CellPoint UnpackCellPoint(const uint8_t* in) {
  CellPoint p;
  p.x = GetF32(in);
  p.y = GetF32(in + 4);
  p.z = GetF32(in + 8);
  p.color = GetU32(in + 12);
  p.normalIndex = GetU16(in + 16);
  p.customAttribute = in[18];
  p.padding = 0;
  return p;
}

}  // namespace format
}  // namespace vorlin
