#include "readers/las_reader.h"

#include <stddef.h>
#include <stdint.h>

#include "base/little_endian.h"
#include "platform/file.h"
#include "readers/buffered_record_reader.h"
#include "readers/las_point_fields.h"

namespace Zelvane {
namespace Vorlin {

namespace {

using vorlin::format::GetF64;
using vorlin::format::GetI32;
using vorlin::format::GetU16;
using vorlin::format::GetU32;

// Public header block fields we use, as byte offsets from the file start.
constexpr size_t kHeaderSize = 227;
constexpr size_t kOffsetToPointData = 96;
constexpr size_t kPointFormat = 104;
constexpr size_t kRecordLength = 105;
constexpr size_t kPointCount = 107;
constexpr size_t kScale = 131;
constexpr size_t kOffset = 155;
constexpr size_t kMaxX = 179;
constexpr size_t kMinX = 187;
constexpr size_t kBoundsStride = 16;  // max x, min x, max y, min y, ...

constexpr uint16_t kMaxRecordLength = 64;
// Records per read from the file: at most 512 KB a refill.
constexpr int32_t kRecordsPerRefill = 8192;
constexpr int kMaxPointFormat = 5;
// x, y, z, intensity, return byte and classification, the only fields read
// besides colour, all lie in the first 16 bytes; a shorter record lacks them.
constexpr uint16_t kMinRecordLength = 16;

// Field offsets inside a point record.
constexpr size_t kRecordX = 0;
constexpr size_t kRecordIntensity = 12;
constexpr size_t kRecordClassification = 15;

static_assert(kMinX + 2 * kBoundsStride + 8 == kHeaderSize, "bounds end the header");

}  // namespace

struct LasReader::State {
  vorlin::platform::File file;
  std::unique_ptr<vorlin::BufferedRecordReader> records;
  uint8_t header[kHeaderSize] = {};
  bool colorScaling = false;
  bool intensityScaling = false;

  int pointFormat() const { return header[kPointFormat]; }
  uint16_t recordLength() const { return GetU16(header + kRecordLength); }
  size_t colorPosition() const {
    int format = pointFormat();
    uint16_t length = recordLength();
    if (format == 2 && length >= 26) return 20;
    if ((format == 3 || format == 5) && length >= 34) return 28;
    return 0;
  }
};

LasReader::LasReader() : m_state(new State) {}

LasReader::~LasReader() = default;

bool LasReader::Open(const wchar_t* fileName) {
  Close();
  if (fileName == nullptr) return false;
  State& s = *m_state;
  if (!vorlin::OpenRecordFile(fileName, s.file, s.records, kRecordsPerRefill)) return false;
  if (!s.file.Seek(0) || !s.file.ReadExact(s.header, kHeaderSize) ||
      s.recordLength() > kMaxRecordLength) {
    Close();
    return false;
  }
  return true;
}

void LasReader::Close() {
  State& s = *m_state;
  vorlin::CloseRecordFile(s.file, s.records);
}

bool LasReader::FileStats(double* minXYZ, double* maxXYZ, unsigned long long& pointCount,
                          unsigned int& attributes) {
  const State& s = *m_state;
  if (!s.file.IsValid()) return false;
  for (int axis = 0; axis < 3; ++axis) {
    if (minXYZ) minXYZ[axis] = GetF64(s.header + kMinX + axis * kBoundsStride);
    if (maxXYZ) maxXYZ[axis] = GetF64(s.header + kMaxX + axis * kBoundsStride);
  }
  // The header's count is a claim; the grid is sized from it, so it is held
  // to the records the file has room for.
  pointCount = GetU32(s.header + kPointCount);
  const int64_t size = s.file.Size();
  const uint32_t dataStart = GetU32(s.header + kOffsetToPointData);
  const uint16_t length = s.recordLength();
  uint64_t room = 0;
  if (length >= kMinRecordLength && size > int64_t(dataStart))
    room = (uint64_t(size) - dataStart) / length;
  if (pointCount > room) pointCount = room;
  switch (s.pointFormat()) {
    case 0:
    case 1:
    case 4:
      attributes = 10;  // intensity and custom attribute
      break;
    case 2:
    case 3:
    case 5:
      attributes = 11;  // colour as well
      break;
    default:
      attributes = 0;
      break;
  }
  return true;
}

bool LasReader::ReadFirstPoint(double& x, double& y, double& z, unsigned char& red,
                               unsigned char& green, unsigned char& blue) {
  unsigned char intensity, customAttribute;
  float nx, ny, nz;
  return ReadFirstPointEx(x, y, z, red, green, blue, intensity, nx, ny, nz, customAttribute);
}

bool LasReader::ReadNextPoint(double& x, double& y, double& z, unsigned char& red,
                              unsigned char& green, unsigned char& blue) {
  unsigned char intensity, customAttribute;
  float nx, ny, nz;
  return ReadNextPointEx(x, y, z, red, green, blue, intensity, nx, ny, nz, customAttribute);
}

double LasReader::UnitsToFeetConversionFactor() { return 0.0; }

bool LasReader::ReadFirstPointEx(double& x, double& y, double& z, unsigned char& red,
                                 unsigned char& green, unsigned char& blue,
                                 unsigned char& intensity, float& normalX, float& normalY,
                                 float& normalZ, unsigned char& customAttribute) {
  State& s = *m_state;
  if (!s.records) return false;
  if (!s.file.Seek(GetU32(s.header + kOffsetToPointData))) return false;
  s.colorScaling = false;
  s.intensityScaling = false;
  s.records->Empty();
  return ReadNextPointEx(x, y, z, red, green, blue, intensity, normalX, normalY, normalZ,
                         customAttribute);
}

bool LasReader::ReadNextPointEx(double& x, double& y, double& z, unsigned char& red,
                                unsigned char& green, unsigned char& blue,
                                unsigned char& intensity, float& normalX, float& normalY,
                                float& normalZ, unsigned char& customAttribute) {
  LasPoint point;
  if (ReadNextPoints(&point, 1) == 0) return false;
  vorlin::DeliverLasPoint(point, x, y, z, red, green, blue, intensity, normalX, normalY, normalZ,
                          customAttribute);
  return true;
}

size_t LasReader::ReadNextPoints(LasPoint* points, size_t max) {
  State& s = *m_state;
  if (!s.records) return 0;
  if (s.pointFormat() > kMaxPointFormat) return 0;
  const uint16_t length = s.recordLength();
  if (length < kMinRecordLength) return 0;

  const uint8_t* h = s.header;
  const double scale[3] = {GetF64(h + kScale), GetF64(h + kScale + 8), GetF64(h + kScale + 16)};
  const double offset[3] = {GetF64(h + kOffset), GetF64(h + kOffset + 8),
                            GetF64(h + kOffset + 16)};
  const size_t colorAt = s.colorPosition();
  size_t done = 0;
  while (done < max) {
    size_t got = 0;
    const uint8_t* record = s.records->ReadMany(length, max - done, &got);
    if (got == 0) break;
    for (size_t i = 0; i < got; ++i, record += length) {
      LasPoint& p = points[done + i];
      p.x = GetI32(record + kRecordX) * scale[0] + offset[0];
      p.y = GetI32(record + kRecordX + 4) * scale[1] + offset[1];
      p.z = GetI32(record + kRecordX + 8) * scale[2] + offset[2];
      p.customAttribute = record[kRecordClassification] & 31;

      // 16-bit intensities and colours are reduced to 8 bits from the first
      // value of the pass that needs it; a file of 8-bit values passes
      // through.
      uint16_t rawIntensity = GetU16(record + kRecordIntensity);
      if (rawIntensity > 255) s.intensityScaling = true;
      p.intensity = (unsigned char)(s.intensityScaling ? rawIntensity >> 8 : rawIntensity);

      p.red = p.green = p.blue = 0;
      if (colorAt != 0) {
        uint16_t r = GetU16(record + colorAt);
        uint16_t g = GetU16(record + colorAt + 2);
        uint16_t b = GetU16(record + colorAt + 4);
        if (r > 255 || g > 255 || b > 255) s.colorScaling = true;
        if (s.colorScaling) {
          r >>= 8;
          g >>= 8;
          b >>= 8;
        }
        p.red = (unsigned char)r;
        p.green = (unsigned char)g;
        p.blue = (unsigned char)b;
      }
    }
    done += got;
  }
  return done;
}

}  // namespace Vorlin
}  // namespace Zelvane
