#include <math.h>
#include <string.h>

#include <algorithm>

#include "format/little_endian.h"
#include "synth.h"

namespace synth {

namespace {

constexpr size_t kHeaderSize = 227;
constexpr size_t kFlushBytes = 1 << 20;

// Standard record lengths of point formats 0 to 10.
int StandardRecordLength(int format) {
  static const int kLengths[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  if (format >= 0 && format <= 10) return kLengths[format];
  return 20;
}

bool HasGpsTime(int format) { return format == 1 || format >= 3; }

int ColorPosition(int format) {
  if (format == 2) return 20;
  if (format == 3 || format == 5) return 28;
  if (format == 7 || format == 8 || format == 10) return 30;
  return -1;
}

int32_t Quantise(double value, double scale, double offset) {
  double q = floor((value - offset) / scale + 0.5);
  if (!(q >= double(INT32_MIN))) return INT32_MIN;  // also NaN
  if (q > double(INT32_MAX)) return INT32_MAX;
  return int32_t(q);
}

void PutText(uint8_t* p, size_t size, const char* text) {
  strncpy(reinterpret_cast<char*>(p), text, size);
}

}  // namespace

LasWriter::~LasWriter() {
  if (m_file) Close();
}

bool LasWriter::Open(const std::string& path, const LasOptions& options) {
  if (m_file) Close();
  m_options = options;
  if (m_options.recordLength <= 0)
    m_options.recordLength = StandardRecordLength(m_options.pointFormat);
  m_count = 0;
  for (int i = 0; i < 3; ++i) m_min[i] = m_max[i] = 0.0;
  m_buffer.clear();
  m_file = fopen(path.c_str(), "wb");
  if (!m_file) return false;
  uint8_t placeholder[kHeaderSize] = {};
  if (fwrite(placeholder, 1, kHeaderSize, m_file) != kHeaderSize) {
    fclose(m_file);
    m_file = nullptr;
    return false;
  }
  return true;
}

bool LasWriter::Add(const LasPoint& point) {
  if (!m_file) return false;
  const int format = m_options.pointFormat;
  const size_t length = size_t(m_options.recordLength);
  // The last record stays buffered until Close so it can be cut short.
  if (m_buffer.size() >= kFlushBytes) {
    if (fwrite(m_buffer.data(), 1, m_buffer.size(), m_file) != m_buffer.size()) return false;
    m_buffer.clear();
  }

  // Build the full record, then keep as many bytes as the record length asks.
  uint8_t record[128] = {};
  const double v[3] = {point.x, point.y, point.z};
  double decoded[3];
  for (int i = 0; i < 3; ++i) {
    int32_t raw = Quantise(v[i], m_options.scale[i], m_options.offset[i]);
    vorlin::format::PutI32(record + 4 * i, raw);
    decoded[i] = raw * m_options.scale[i] + m_options.offset[i];
  }
  vorlin::format::PutU16(record + 12, point.intensity);
  if (format <= 5) {
    record[14] = 0x09;  // return 1 of 1
    record[15] = point.classification;
  } else {
    record[14] = 0x11;  // return 1 of 1
    record[16] = point.classification;
  }
  if (HasGpsTime(format)) vorlin::format::PutF64(record + (format <= 5 ? 20 : 22), double(m_count));
  int colorAt = ColorPosition(format);
  if (colorAt >= 0) {
    uint16_t rgb[3] = {point.red, point.green, point.blue};
    for (int i = 0; i < 3; ++i) {
      uint16_t c = m_options.eightBitColor ? uint16_t(rgb[i] >> 8) : rgb[i];
      vorlin::format::PutU16(record + colorAt + 2 * i, c);
    }
  }
  size_t kept = std::min(length, sizeof record);
  m_buffer.insert(m_buffer.end(), record, record + kept);
  if (length > kept) m_buffer.insert(m_buffer.end(), length - kept, 0);

  for (int i = 0; i < 3; ++i) {
    if (m_count == 0 || decoded[i] < m_min[i]) m_min[i] = decoded[i];
    if (m_count == 0 || decoded[i] > m_max[i]) m_max[i] = decoded[i];
  }
  ++m_count;
  return true;
}

bool LasWriter::Close() {
  if (!m_file) return false;
  bool ok = true;
  size_t size = m_buffer.size();
  size_t cut = m_options.truncateLastRecordBy > 0 ? size_t(m_options.truncateLastRecordBy) : 0;
  if (m_count > 0) cut = std::min(cut, size_t(m_options.recordLength));
  else cut = 0;
  cut = std::min(cut, size);
  if (size - cut > 0 && fwrite(m_buffer.data(), 1, size - cut, m_file) != size - cut) ok = false;
  m_buffer.clear();

  uint8_t h[kHeaderSize] = {};
  memcpy(h, "LASF", 4);
  h[24] = 1;  // version 1.2
  h[25] = 2;
  PutText(h + 26, 32, "synthetic");
  PutText(h + 58, 32, "vorlin synth");
  vorlin::format::PutU16(h + 90, 1);     // creation day of year
  vorlin::format::PutU16(h + 92, 2024);  // creation year
  vorlin::format::PutU16(h + 94, kHeaderSize);
  vorlin::format::PutU32(h + 96, kHeaderSize);  // no variable-length records
  vorlin::format::PutU32(h + 100, 0);
  h[104] = uint8_t(m_options.pointFormat);
  vorlin::format::PutU16(h + 105, uint16_t(m_options.recordLength));
  uint64_t count = m_options.headerCountOverride >= 0 ? uint64_t(m_options.headerCountOverride)
                                                      : m_count;
  uint32_t count32 = count > UINT32_MAX ? UINT32_MAX : uint32_t(count);
  vorlin::format::PutU32(h + 107, count32);
  vorlin::format::PutU32(h + 111, count32);  // all first returns
  const double* lo = m_options.overrideBounds ? m_options.boundsMin : m_min;
  const double* hi = m_options.overrideBounds ? m_options.boundsMax : m_max;
  for (int i = 0; i < 3; ++i) {
    vorlin::format::PutF64(h + 131 + 8 * i, m_options.scale[i]);
    vorlin::format::PutF64(h + 155 + 8 * i, m_options.offset[i]);
    vorlin::format::PutF64(h + 179 + 16 * i, hi[i]);
    vorlin::format::PutF64(h + 187 + 16 * i, lo[i]);
  }
  if (fseek(m_file, 0, SEEK_SET) != 0 || fwrite(h, 1, kHeaderSize, m_file) != kHeaderSize)
    ok = false;
  if (fclose(m_file) != 0) ok = false;
  m_file = nullptr;
  return ok;
}

bool WriteLas(const std::string& path, const std::vector<LasPoint>& points,
              const LasOptions& options) {
  LasWriter writer;
  if (!writer.Open(path, options)) return false;
  for (const LasPoint& p : points) {
    if (!writer.Add(p)) {
      writer.Close();
      return false;
    }
  }
  return writer.Close();
}

}  // namespace synth
