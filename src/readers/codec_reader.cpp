#include "vorlin/codec_reader.h"

#include <math.h>

namespace {

// The other component's intensity runs from 0 to just below 1.0 in steps of
// 1/256. Keeps the low 8 bits of the truncated product, as two's complement
// would, without converting an out-of-range double to an integer.
unsigned char IntensityByte(float intensity) {
  double steps = trunc(double(intensity) * 256.0);
  if (!isfinite(steps)) return 0;
  double low = fmod(steps, 256.0);
  if (low < 0) low += 256.0;
  return (unsigned char)low;
}

}  // namespace

CodecReader::CodecReader(CodecFileReader* reader) : m_reader(reader) {}

CodecReader::CodecReader(const CodecReader& other) : IReader2(other), m_reader(other.m_reader) {}

CodecReader& CodecReader::operator=(const CodecReader& other) {
  m_reader = other.m_reader;
  return *this;
}

// The wrapped reader belongs to the host.
CodecReader::~CodecReader() {}

bool CodecReader::Open(const wchar_t* fileName) {
  if (m_reader == nullptr) return false;
  if (m_reader->open(fileName)) return true;
  m_reader->close();
  return false;
}

void CodecReader::Close() {
  if (m_reader != nullptr) m_reader->close();
}

bool CodecReader::FileStats(double* minXYZ, double* maxXYZ, unsigned long long& pointCount,
                            unsigned int& attributes) {
  if (m_reader == nullptr) return false;
  m_reader->statistics(minXYZ, maxXYZ, pointCount, attributes);
  return true;
}

bool CodecReader::ReadFirstPoint(double& x, double& y, double& z, unsigned char& red,
                                 unsigned char& green, unsigned char& blue) {
  unsigned char intensity, customAttribute;
  float nx, ny, nz;
  return ReadFirstPointEx(x, y, z, red, green, blue, intensity, nx, ny, nz, customAttribute);
}

bool CodecReader::ReadNextPoint(double& x, double& y, double& z, unsigned char& red,
                                unsigned char& green, unsigned char& blue) {
  unsigned char intensity, customAttribute;
  float nx, ny, nz;
  return ReadNextPointEx(x, y, z, red, green, blue, intensity, nx, ny, nz, customAttribute);
}

double CodecReader::UnitsToFeetConversionFactor() { return 0.0; }

bool CodecReader::ReadFirstPointEx(double& x, double& y, double& z, unsigned char& red,
                                   unsigned char& green, unsigned char& blue,
                                   unsigned char& intensity, float& normalX, float& normalY,
                                   float& normalZ, unsigned char& customAttribute) {
  if (m_reader == nullptr) return false;
  float f = 0.0f;
  bool delivered = m_reader->firstPoint(x, y, z, red, green, blue, customAttribute, f, normalX,
                                        normalY, normalZ);
  intensity = IntensityByte(f);
  return delivered;
}

bool CodecReader::ReadNextPointEx(double& x, double& y, double& z, unsigned char& red,
                                  unsigned char& green, unsigned char& blue,
                                  unsigned char& intensity, float& normalX, float& normalY,
                                  float& normalZ, unsigned char& customAttribute) {
  if (m_reader == nullptr) return false;
  float f = 0.0f;
  bool delivered = m_reader->nextPoint(x, y, z, red, green, blue, customAttribute, f, normalX,
                                       normalY, normalZ);
  intensity = IntensityByte(f);
  return delivered;
}
