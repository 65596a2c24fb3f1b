#include <stddef.h>
#include <stdint.h>

#include "format/little_endian.h"
#include "readers/las/las_header.h"
#include "readers/las/record_stream.h"
#include "readers/las_point_fields.h"
#include "vorlin/las_source.h"

namespace Zelvane {
namespace Vorlin {

SourceReadError::SourceReadError(const std::string& what) : std::runtime_error(what) {}
SourceReadError::~SourceReadError() = default;

namespace {

using vorlin::format::GetI32;
using vorlin::format::GetU16;

constexpr size_t kIntensityAt = 12;
constexpr size_t kClassificationAt = 15;    // formats 0-5
constexpr size_t kClassification14At = 16;  // formats 6-10

}  // namespace

struct SourceReader::State {
  vorlin::las::RecordStream stream;
  LasSourceInfo info;
  std::vector<uint8_t> record;
  std::string error;
  bool failed = false;
  bool colorScaling = false;
  bool intensityScaling = false;
  size_t colorAt = 0;
  size_t classificationAt = kClassificationAt;
  uint8_t classificationMask = 31;

  void Convert(const uint8_t* r, LasPoint& p) {
    p.x = GetI32(r) * info.scale[0] + info.offset[0];
    p.y = GetI32(r + 4) * info.scale[1] + info.offset[1];
    p.z = GetI32(r + 8) * info.scale[2] + info.offset[2];
    p.customAttribute = r[classificationAt] & classificationMask;
    p.red = p.green = p.blue = 0;

    // As the built-in reader: 16-bit values are reduced to 8 bits from the
    // first value of the pass above 255 on; 8-bit files pass through.
    const uint16_t rawIntensity = GetU16(r + kIntensityAt);
    if (rawIntensity > 255) intensityScaling = true;
    p.intensity = (unsigned char)(intensityScaling ? rawIntensity >> 8 : rawIntensity);
    if (colorAt != 0) {
      uint16_t c[3] = {GetU16(r + colorAt), GetU16(r + colorAt + 2), GetU16(r + colorAt + 4)};
      if (c[0] > 255 || c[1] > 255 || c[2] > 255) colorScaling = true;
      const int shift = colorScaling ? 8 : 0;
      p.red = (unsigned char)(c[0] >> shift);
      p.green = (unsigned char)(c[1] >> shift);
      p.blue = (unsigned char)(c[2] >> shift);
    }
  }
};

SourceReader::SourceReader() : m_state(new State) {}
SourceReader::~SourceReader() = default;

bool SourceReader::Open(const wchar_t* fileName) {
  Close();
  State& s = *m_state;
  s.error.clear();
  if (fileName == nullptr) {
    s.error = "no file name";
    return false;
  }
  if (!s.stream.Open(fileName, s.info)) {
    s.error = s.stream.error();
    return false;
  }
  s.record.assign(s.info.recordLength, 0);
  s.colorAt = vorlin::las::ColorOffset(s.info.pointFormat);
  const bool extended = s.info.pointFormat >= 6;
  s.classificationAt = extended ? kClassification14At : kClassificationAt;
  s.classificationMask = extended ? 0xFF : 31;
  return true;
}

void SourceReader::Close() {
  State& s = *m_state;
  s.stream.Close();
  s.info = LasSourceInfo();
  s.record.clear();
  s.failed = false;
}

bool SourceReader::FileStats(double* minXYZ, double* maxXYZ, unsigned long long& pointCount,
                             unsigned int& attributes) {
  const State& s = *m_state;
  if (!s.stream.IsOpen()) return false;
  for (int a = 0; a < 3; ++a) {
    if (minXYZ) minXYZ[a] = s.info.min[a];
    if (maxXYZ) maxXYZ[a] = s.info.max[a];
  }
  pointCount = s.info.presentCount;
  attributes = s.colorAt != 0 ? 11u : 10u;  // intensity and custom attribute, colour
  return true;
}

bool SourceReader::ReadFirstPoint(double& x, double& y, double& z, unsigned char& red,
                                  unsigned char& green, unsigned char& blue) {
  unsigned char intensity, custom;
  float nx, ny, nz;
  return ReadFirstPointEx(x, y, z, red, green, blue, intensity, nx, ny, nz, custom);
}

bool SourceReader::ReadNextPoint(double& x, double& y, double& z, unsigned char& red,
                                 unsigned char& green, unsigned char& blue) {
  unsigned char intensity, custom;
  float nx, ny, nz;
  return ReadNextPointEx(x, y, z, red, green, blue, intensity, nx, ny, nz, custom);
}

double SourceReader::UnitsToFeetConversionFactor() { return 0.0; }

bool SourceReader::ReadFirstPointEx(double& x, double& y, double& z, unsigned char& red,
                                    unsigned char& green, unsigned char& blue,
                                    unsigned char& intensity, float& normalX, float& normalY,
                                    float& normalZ, unsigned char& customAttribute) {
  if (!RewindRecords()) return false;
  return ReadNextPointEx(x, y, z, red, green, blue, intensity, normalX, normalY, normalZ,
                         customAttribute);
}

bool SourceReader::ReadNextPointEx(double& x, double& y, double& z, unsigned char& red,
                                   unsigned char& green, unsigned char& blue,
                                   unsigned char& intensity, float& normalX, float& normalY,
                                   float& normalZ, unsigned char& customAttribute) {
  State& s = *m_state;
  if (!NextRecord(s.record.data())) {
    if (s.failed) throw SourceReadError(s.error);
    return false;
  }
  LasPoint p;
  s.Convert(s.record.data(), p);
  vorlin::DeliverLasPoint(p, x, y, z, red, green, blue, intensity, normalX, normalY, normalZ,
                          customAttribute);
  return true;
}

size_t SourceReader::ReadNextPoints(LasPoint* points, size_t max) {
  State& s = *m_state;
  size_t done = 0;
  while (done < max && !s.failed) {
    const uint8_t* run = nullptr;
    size_t got = 0;
    const auto result = s.stream.NextRun(max - done, &run, &got);
    if (result == vorlin::las::RecordStream::Result::Damaged) {
      s.failed = true;
      s.error = s.stream.error();
    }
    if (got == 0) break;
    for (size_t i = 0; i < got; ++i) s.Convert(run + i * s.info.recordLength, points[done + i]);
    done += got;
  }
  if (done == 0 && s.failed) throw SourceReadError(s.error);
  return done;
}

const LasSourceInfo& SourceReader::info() const { return m_state->info; }
const std::string& SourceReader::lastError() const { return m_state->error; }
bool SourceReader::failed() const { return m_state->failed; }
void SourceReader::SetDecodeAhead(bool on, unsigned threads) {
  m_state->stream.SetDecodeAhead(on, threads);
}

bool SourceReader::RewindRecords() {
  State& s = *m_state;
  s.colorScaling = false;
  s.intensityScaling = false;
  s.failed = false;
  if (!s.stream.Rewind()) {
    s.error = "the file is not open";
    return false;
  }
  return true;
}

bool SourceReader::NextRecord(uint8_t* record) {
  State& s = *m_state;
  if (s.failed || record == nullptr) return false;
  switch (s.stream.Next(record)) {
    case vorlin::las::RecordStream::Result::Record:
      return true;
    case vorlin::las::RecordStream::Result::End:
      return false;
    case vorlin::las::RecordStream::Result::Damaged:
      break;
  }
  s.failed = true;
  s.error = s.stream.error();
  return false;
}

}  // namespace Vorlin
}  // namespace Zelvane
