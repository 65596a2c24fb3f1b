#ifndef VORLIN_TESTS_READERS_LAS_SOURCE_SUPPORT_H
#define VORLIN_TESTS_READERS_LAS_SOURCE_SUPPORT_H

// Generated point records of every format, a chunk codec round trip, and
// whole-file helpers around the LAS/LAZ source reader and writer.

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "format/little_endian.h"
#include "readers/laz/chunk_table.h"
#include "readers/laz/laz_codec.h"
#include "readers/laz/laz_parameters.h"
#include "support/temp_dir.h"
#include "vorlin/las_file_writer.h"
#include "vorlin/las_source.h"

namespace readers_test {

namespace vv = Zelvane::Vorlin;
namespace laz = Zelvane::Vorlin::laz;
using vorlin_test::ReadBytes;
using vorlin_test::TempDir;
using vorlin_test::Wide;
using vorlin_test::WriteBytes;

inline int StandardLength(int format) {
  static const int kLengths[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  return kLengths[format];
}

// Records that look like a scan most of the time (what the codecs' predictors
// are built for), with stretches of what takes their rare paths: wild values
// in every field, broken return counts, pulses of many returns, interleaved
// channels each with its own clock, repeated, irregular, reversed and far
// jumping times, arbitrary time bits, grey, 8-bit and 16-bit colour, waveform
// packets that repeat, follow or jump. Every field of the format and the
// extra bytes is filled, so that a codec fault in any of them shows. Nothing
// is wild in the first 1,280 records.
class RecordGenerator {
 public:
  RecordGenerator(int format, int recordLength, uint32_t seed)
      : m_format(format), m_length(recordLength), m_state(seed * 2654435761u + 1) {}

  void Next(uint8_t* r, size_t i) {
    namespace f = vorlin::format;
    const bool wide = m_format >= 6, wild = (i / 256) % 8 == 5;
    if (m_return >= m_returns) StartPulse(uint32_t(i / 256) % 8);
    ++m_return;
    memset(r, 0, size_t(m_length));
    f::PutI32(r, wild ? int32_t(Rand()) : m_x + int32_t(Pick(40)) - 20);
    f::PutI32(r + 4, wild ? int32_t(Rand()) : m_y + int32_t(Pick(40)) - 20);
    f::PutI32(r + 8, wild ? int32_t(Rand()) : m_z - 30 * int32_t(m_return));
    f::PutU16(r + 12, uint16_t(wild ? Rand() : 300 + Pick(50) + i / 8));
    const uint32_t number = m_broken ? Pick(16) : m_return, count = m_broken ? Pick(16) : m_returns;
    const uint8_t classification = uint8_t(Pick(4) == 0 ? Pick(256) : 2);
    if (!wide) {
      r[14] = uint8_t((number & 7) | (count & 7) << 3 | m_direction << 6 | m_edge << 7);
      r[15] = classification;
      r[16] = uint8_t(m_angle);
      r[17] = m_userData;
      f::PutU16(r + 18, m_source);
    } else {
      r[14] = uint8_t((number & 15) | (count & 15) << 4);
      r[15] = uint8_t((Pick(16) == 0 ? Pick(16) : 0) | m_channel << 4 | m_direction << 6 | m_edge << 7);
      r[16] = classification;
      r[17] = m_userData;
      f::PutU16(r + 18, uint16_t(m_angle));
      f::PutU16(r + 20, m_source);
    }
    if (m_format == 1 || m_format >= 3) {
      uint64_t bits;
      memcpy(&bits, &m_time[m_channel], 8);
      if (wild) bits = uint64_t(Rand()) << 32 | Rand();
      if (Pick(300) == 0) bits = uint64_t(1) << 63;  // negative zero
      f::PutU64(r + (wide ? 22 : 20), bits);
    }
    const int colourAt = m_format == 2 ? 20 : (m_format == 3 || m_format == 5) ? 28
                         : (m_format == 7 || m_format == 8 || m_format == 10) ? 30 : 0;
    if (colourAt) Colour(r + colourAt, i, m_format == 8 || m_format == 10);
    const int waveAt = m_format == 4 ? 28 : m_format == 5 ? 34 : m_format == 9 ? 30 : m_format == 10 ? 38 : 0;
    if (waveAt) Wave(r + waveAt, i);
    for (int b = StandardLength(m_format); b < m_length; ++b)
      r[b] = uint8_t(b % 3 == 0 ? Rand() : b % 3 == 1 ? 7 : i / 10 + size_t(b));
  }

 private:
  uint32_t Rand() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return m_state;
  }
  uint32_t Pick(uint32_t n) { return Rand() % n; }

  // Stretch 3 interleaves the channels, 4 moves the clocks irregularly, 5 is wild.
  void StartPulse(uint32_t stretch) {
    const bool wild = stretch == 5;
    if (stretch == 3 || Pick(20) == 0) m_channel = uint8_t(Pick(4));
    m_returns = Pick(20) == 0 ? (m_format >= 6 ? 6 + Pick(10) : 4 + Pick(4)) : 1 + Pick(3);
    m_return = 0;
    m_broken = wild || Pick(50) == 0;
    m_x += int32_t(Pick(2000)) - 1000;
    m_y += int32_t(Pick(2000)) - 900;
    m_z += int32_t(Pick(100)) - 50;
    double& t = m_time[m_channel];
    switch (stretch == 4 ? Pick(6) : Pick(10) == 0) {
      case 0: t += 1e-5; break;
      case 1: break;  // the same time again
      case 2: t += 1e-5 * Pick(1200); break;
      case 3: t -= 1e-5 * Pick(20); break;
      case 4: m_saved = t; t += 4e5; break;
      default: if (m_saved != 0) t = m_saved; break;
    }
    if (wild || Pick(8) == 0)
      m_angle = int16_t(m_format >= 6 ? int32_t(Pick(30000)) - 15000 : int32_t(Pick(180)) - 90);
    if (wild || Pick(30) == 0) m_source = uint16_t(Rand());
    if (wild || Pick(40) == 0) m_userData = uint8_t(Rand());
    if (Pick(10) == 0) m_direction ^= 1;
    if (Pick(100) == 0) m_edge ^= 1;
  }

  void Colour(uint8_t* p, size_t i, bool nir) {
    namespace f = vorlin::format;
    uint16_t c[3];
    switch ((i / 250) % 4) {
      case 0: c[0] = c[1] = c[2] = uint16_t(Pick(256) * 257); break;  // grey, 8-bit scaled
      case 1: for (uint16_t& v : c) v = uint16_t(Pick(256) << 8); break;
      case 2: for (uint16_t& v : c) v = uint16_t(Rand()); break;
      default:
        if (Pick(3) == 0)
          for (uint16_t& v : m_rgb) v = uint16_t(v + Pick(600) - 300);
        memcpy(c, m_rgb, sizeof c);
        break;
    }
    for (int k = 0; k < 3; ++k) f::PutU16(p + 2 * k, c[k]);
    if (Pick(3) == 0) m_nir = uint16_t(m_nir + Pick(64) - 32);
    if (nir) f::PutU16(p + 6, m_nir);
  }

  void Wave(uint8_t* p, size_t i) {
    namespace f = vorlin::format;
    p[0] = uint8_t(Pick(20) == 0 ? Rand() : 1);
    const uint32_t size = Pick(10) == 0 ? Rand() : 256;
    switch (Pick(5)) {
      case 0: break;  // the same packet
      case 1: m_offset += m_lastSize; break;
      case 2: m_offset += uint64_t(int64_t(Pick(20001)) - 10000); break;
      case 3: m_offset += uint64_t(Rand()) << 20; break;
      default: m_offset = uint64_t(Rand()) << 32 | Rand(); break;
    }
    m_lastSize = size;
    f::PutU64(p + 1, m_offset);
    f::PutU32(p + 9, size);
    for (int k = 0; k < 4; ++k) f::PutU32(p + 13 + 4 * k, k == 0 && i % 2 ? uint32_t(i) : Rand());
  }

  int m_format, m_length;
  uint32_t m_state;
  uint32_t m_return = 0, m_returns = 0;
  bool m_broken = false;
  uint8_t m_channel = 0, m_userData = 0, m_direction = 0, m_edge = 0;
  int32_t m_x = 100000, m_y = -50000, m_z = 2000;
  double m_time[4] = {1000.0, 5e8, -3.0, 77.0};
  double m_saved = 0;
  int16_t m_angle = 10;
  uint16_t m_source = 17, m_nir = 3000;
  uint16_t m_rgb[3] = {1000, 20000, 65000};
  uint64_t m_offset = 1000;
  uint32_t m_lastSize = 0;
};

inline std::vector<uint8_t> MakeRecords(int format, int recordLength, size_t count,
                                        uint32_t seed = 1) {
  std::vector<uint8_t> out(count * size_t(recordLength));
  RecordGenerator generator(format, recordLength, seed);
  for (size_t i = 0; i < count; ++i) generator.Next(out.data() + i * size_t(recordLength), i);
  return out;
}

inline size_t RecordSize(const std::vector<laz::Item>& items) {
  size_t size = 0;
  for (const laz::Item& item : items) size += item.size;
  return size;
}

// The records encoded in chunks of chunkPoints by the codec the items name.
inline std::vector<std::vector<uint8_t>> EncodeChunks(const std::vector<laz::Item>& items,
                                                      const std::vector<uint8_t>& records,
                                                      uint32_t chunkPoints) {
  const bool layered = items[0].type == uint16_t(laz::ItemType::Point14);
  auto encoder = layered ? laz::MakeLayeredEncoder(items) : laz::MakePointwiseEncoder(items);
  const size_t size = RecordSize(items);
  std::vector<std::vector<uint8_t>> chunks;
  for (size_t first = 0; encoder && first < records.size() / size; first += chunkPoints) {
    chunks.emplace_back();
    encoder->begin();
    for (size_t i = first; i < std::min(first + chunkPoints, records.size() / size); ++i)
      encoder->add(&records[i * size]);
    encoder->finish(chunks.back());
  }
  return chunks;
}

// Decodes a chunk of count records; false as soon as the decoder refuses or
// when it delivers more than count.
inline bool DecodeChunk(laz::ChunkDecoder& decoder, const std::vector<uint8_t>& chunk,
                        uint32_t count, size_t size, std::vector<uint8_t>& records) {
  records.assign(size * (count + 1), 0);
  if (!decoder.begin(chunk.data(), chunk.size(), count)) return false;
  for (uint32_t i = 0; i < count; ++i)
    if (!decoder.next(&records[i * size])) return false;
  const bool more = decoder.next(&records[count * size]);
  records.resize(size * count);
  return !more;
}

// Where the parts of a LAZ file lie, found from its bytes.
struct LazLayout {
  uint32_t pointStart = 0;
  size_t parametersAt = 0;  // the compression record's data
  laz::Parameters parameters;
  uint64_t tableAt = 0;
  std::vector<laz::ChunkEntry> chunks;
};

inline LazLayout LocateLaz(const std::vector<uint8_t>& file) {
  namespace f = vorlin::format;
  LazLayout l;
  l.pointStart = f::GetU32(file.data() + 96);
  for (size_t at = f::GetU16(file.data() + 94); at + 54 <= l.pointStart;) {
    const uint16_t length = f::GetU16(file.data() + at + 20);
    std::string error;
    if (f::GetU16(file.data() + at + 18) == laz::kCompressionRecordId &&
        laz::ParseParameters({file.begin() + long(at + 54), file.begin() + long(at + 54 + length)},
                             l.parameters, error))
      l.parametersAt = at + 54;
    at += 54 + length;
  }
  l.tableAt = f::GetU64(file.data() + l.pointStart);
  if (int64_t(l.tableAt) <= int64_t(l.pointStart)) l.tableAt = f::GetU64(file.data() + file.size() - 8);
  if (l.tableAt + 8 > file.size()) return l;
  std::vector<uint8_t> coded(file.begin() + long(l.tableAt + 8), file.end());
  coded.resize(coded.size() + 8, 0);
  if (!laz::DecodeChunkTable(coded.data(), coded.size(), f::GetU32(file.data() + l.tableAt + 4),
                             l.parameters.chunkSize == laz::kVariableChunkSize, l.chunks))
    l.chunks.clear();
  return l;
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
// aheadThreads, when not negative, has the reader decode ahead on that many
// threads.
inline bool ReadRecords(const std::wstring& path, std::vector<uint8_t>& records,
                        vv::LasSourceInfo* info = nullptr, std::string* error = nullptr,
                        int aheadThreads = -1) {
  vv::SourceReader reader;
  if (aheadThreads >= 0) reader.SetDecodeAhead(true, unsigned(aheadThreads));
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
