#ifndef VORLIN_TESTS_READERS_LAS_SOURCE_SUPPORT_H
#define VORLIN_TESTS_READERS_LAS_SOURCE_SUPPORT_H

// Generated point records of every format, and whole-file helpers around the
// LAS/LAZ source reader and writer.

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "format/little_endian.h"
#include "support/temp_dir.h"
#include "vorlin/las_file_writer.h"
#include "vorlin/las_source.h"

namespace readers_test {

namespace vv = Zelvane::Vorlin;
using vorlin_test::ReadBytes;
using vorlin_test::TempDir;
using vorlin_test::Wide;
using vorlin_test::WriteBytes;

inline int StandardLength(int format) {
  static const int kLengths[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  return kLengths[format];
}

// Records that look like a scan: a wandering position, returns, classes,
// rising GPS time, 16-bit colour; every field of the format and the extra
// bytes filled, so that a codec fault in any of them shows.
inline std::vector<uint8_t> MakeRecords(int format, int recordLength, size_t count,
                                        uint32_t seed = 1) {
  namespace f = vorlin::format;
  std::vector<uint8_t> out(count * size_t(recordLength), 0);
  uint32_t state = seed * 2654435761u + 1;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  int32_t x = 100000, y = -50000, z = 2000;
  double t = 1000.0;
  for (size_t i = 0; i < count; ++i) {
    uint8_t* r = out.data() + i * size_t(recordLength);
    x += int32_t(next() % 200) - 90;
    y += int32_t(next() % 100) - 50;
    z += int32_t(next() % 21) - 10;
    if (next() % 5 == 0) t += 0.00001 * (next() % 100);
    f::PutI32(r, x);
    f::PutI32(r + 4, y);
    f::PutI32(r + 8, z);
    f::PutU16(r + 12, uint16_t(next() % 1200));
    const uint32_t returns = 1 + next() % 3, number = 1 + next() % returns;
    const uint32_t bits = next();
    if (format <= 5) {
      r[14] = uint8_t(number | returns << 3 | (bits & 0xC0));
      r[15] = uint8_t(next() % 4 == 0 ? 0x80 | (next() % 20) : 2 + next() % 3);
      r[16] = uint8_t(int8_t(next() % 60) - 30);
      r[17] = uint8_t(next() % 3);
      f::PutU16(r + 18, uint16_t(7 + (i / 500)));
    } else {
      r[14] = uint8_t(number | returns << 4);
      r[15] = uint8_t((bits & 0xF) | ((uint32_t(i / 700) % 4) << 4) | (bits & 0xC0));
      r[16] = uint8_t(next() % 4 == 0 ? next() % 256 : 2 + next() % 3);
      r[17] = uint8_t(next() % 3);
      f::PutU16(r + 18, uint16_t(int16_t(next() % 2000) - 1000));
      f::PutU16(r + 20, uint16_t(7 + (i / 500)));
    }
    const bool gps = format == 1 || format >= 3;
    if (gps) f::PutF64(r + (format <= 5 ? 20 : 22), t);
    size_t colorAt = format == 2 ? 20 : (format == 3 || format == 5) ? 28
                     : (format == 7 || format == 8 || format == 10) ? 30 : 0;
    if (colorAt) {
      const uint16_t base = uint16_t(next() % 60000);
      for (int c = 0; c < 3; ++c) f::PutU16(r + colorAt + 2 * c, uint16_t(base + c * 700));
      if (format == 8 || format == 10) f::PutU16(r + 36, uint16_t(base / 2));
    }
    if (format == 4 || format == 5 || format == 9 || format == 10) {
      const size_t w = format == 4 ? 28 : format == 5 ? 34 : format == 9 ? 30 : 38;
      r[w] = uint8_t(1 + next() % 2);
      f::PutU64(r + w + 1, 4096 + i * 64);
      f::PutU32(r + w + 9, 64);
      f::PutF32(r + w + 13, float(next() % 1000) * 0.5f);
      for (int k = 0; k < 3; ++k) f::PutF32(r + w + 17 + 4 * k, float(int(next() % 200) - 100) * 0.01f);
    }
    for (int b = StandardLength(format); b < recordLength; ++b) r[b] = uint8_t(next() % (b % 4 == 0 ? 256 : 8));
  }
  return out;
}

inline vv::LasSourceInfo Layout(int format, int recordLength = 0) {
  vv::LasSourceInfo layout;
  layout.pointFormat = format;
  layout.recordLength = uint16_t(recordLength ? recordLength : StandardLength(format));
  layout.versionMinor = format >= 6 ? 4 : 2;
  layout.scale[0] = layout.scale[1] = layout.scale[2] = 0.01;
  return layout;
}

inline bool WriteFile(const std::wstring& path, const vv::LasSourceInfo& layout,
                      const std::vector<uint8_t>& records, const vv::LasWriteOptions& options = {}) {
  vv::LasFileWriter writer;
  if (!writer.Open(path.c_str(), layout, options)) return false;
  if (!writer.WriteRecords(records.data(), records.size() / layout.recordLength)) return false;
  return writer.Close();
}

// Every record the source reader delivers, raw; false when it does not open
// or a record turns out damaged.
inline bool ReadRecords(const std::wstring& path, std::vector<uint8_t>& records,
                        vv::LasSourceInfo* info = nullptr, std::string* error = nullptr) {
  vv::SourceReader reader;
  records.clear();
  if (!reader.Open(path.c_str())) {
    if (error) *error = reader.lastError();
    return false;
  }
  if (info) *info = reader.info();
  std::vector<uint8_t> record(reader.info().recordLength);
  while (reader.NextRecord(record.data())) records.insert(records.end(), record.begin(), record.end());
  if (error) *error = reader.lastError();
  return !reader.failed();
}

// The point records stored in a plain LAS file, straight from its bytes.
inline std::vector<uint8_t> StoredRecords(const std::string& path) {
  namespace f = vorlin::format;
  const std::vector<uint8_t> bytes = ReadBytes(path);
  const uint32_t start = f::GetU32(bytes.data() + 96);
  const uint16_t length = f::GetU16(bytes.data() + 105);
  uint64_t count = f::GetU32(bytes.data() + 107);
  if (f::GetU16(bytes.data() + 94) >= 375 && f::GetU64(bytes.data() + 247) != 0)
    count = f::GetU64(bytes.data() + 247);
  const uint64_t end = std::min<uint64_t>(bytes.size(), start + count * length);
  return std::vector<uint8_t>(bytes.begin() + start, bytes.begin() + long(end));
}

}  // namespace readers_test

#endif
