#include "readers/laz/layered_point14.h"

#include "format/little_endian.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

using vorlin::format::GetU16;
using vorlin::format::GetU32;
using vorlin::format::GetU64;
using vorlin::format::PutU16;
using vorlin::format::PutU32;
using vorlin::format::PutU64;

Point14Fields UnpackPoint14(const uint8_t* r) {
  Point14Fields p;
  p.x = int32_t(GetU32(r));
  p.y = int32_t(GetU32(r + 4));
  p.z = int32_t(GetU32(r + 8));
  p.intensity = GetU16(r + 12);
  p.returnNumber = r[14] & 0x0F;
  p.returnCount = r[14] >> 4;
  p.flags = uint8_t(((r[15] >> 2) & 0x30) | (r[15] & 0x0F));
  p.channel = (r[15] >> 4) & 3;
  p.classification = r[16];
  p.userData = r[17];
  p.scanAngle = int16_t(GetU16(r + 18));
  p.pointSource = GetU16(r + 20);
  p.gpsTime = GetU64(r + 22);
  return p;
}

void PackPoint14(const Point14Fields& p, uint8_t* r) {
  PutU32(r, uint32_t(p.x));
  PutU32(r + 4, uint32_t(p.y));
  PutU32(r + 8, uint32_t(p.z));
  PutU16(r + 12, p.intensity);
  r[14] = uint8_t((p.returnNumber & 0x0F) | (p.returnCount << 4));
  r[15] = uint8_t((p.flags & 0x0F) | ((p.channel & 3) << 4) | ((p.flags & 0x30) << 2));
  r[16] = p.classification;
  r[17] = p.userData;
  PutU16(r + 18, uint16_t(p.scanAngle));
  PutU16(r + 20, p.pointSource);
  PutU64(r + 22, p.gpsTime);
}

uint32_t ReturnMap(uint32_t n, uint32_t r) {
  // Pairs of return number and count, folded into six classes of how the
  // pulse's returns spread; unusual pairs share the last classes.
  static const uint8_t kMap[16][16] = {
      {0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5},
      {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
      {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3},
      {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
      {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
      {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
      {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4},
      {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},
      {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4},
      {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},
      {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4},
      {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},
      {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4},
      {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},
      {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5},
      {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5},
  };
  return kMap[n & 15][r & 15];
}

uint32_t ReturnLevel(uint32_t n, uint32_t r) {
  uint32_t d = n > r ? n - r : r - n;
  return d < 7 ? d : 7;
}

Point14Context::Point14Context(bool compressing)
    : compress(compressing),
      channel(new ArithmeticModel(3, compressing)),
      returnNumberSameTime(new ArithmeticModel(13, compressing)),
      dx(new IntegerCompressor(32, 2)),
      dy(new IntegerCompressor(32, 22)),
      z(new IntegerCompressor(32, 20)),
      intensity(new IntegerCompressor(16, 4)),
      scanAngle(new IntegerCompressor(16, 2)),
      pointSource(new IntegerCompressor(16)),
      gps(compressing) {
  for (auto& m : changedValues) m.reset(new ArithmeticModel(128, compressing));
}

void Point14Context::start(const Point14Fields& from, bool forEncoding) {
  ++generation;
  for (auto& m : changedValues) m->reset();
  channel->reset();
  returnNumberSameTime->reset();
  IntegerCompressor* all[] = {dx.get(), dy.get(), z.get(), intensity.get(), scanAngle.get(),
                              pointSource.get(), gps.differences.get()};
  for (IntegerCompressor* ic : all) {
    if (forEncoding)
      ic->initEncoder();
    else
      ic->initDecoder();
  }
  for (int i = 0; i < 12; ++i) {
    xDiff[i].reset();
    yDiff[i].reset();
  }
  for (int i = 0; i < 8; ++i) {
    lastZ[i] = from.z;
    lastIntensity[i] = from.intensity;
  }
  gps.start(from.gpsTime);
  last = from;
  last.gpsTimeChanged = false;
  used = true;
}

ArithmeticModel& Point14Context::lazy(LazyModel& slot, uint32_t symbols) {
  return slot.use(generation, symbols, compress);
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
