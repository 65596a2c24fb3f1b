// Encode -> decode round trips of the point-wise chunk codec on generated
// records, for every item type, and its behaviour on bad item lists and on
// truncated or damaged chunks.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "format/little_endian.h"
#include "readers/laz/laz_codec.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {
namespace {

using vorlin::format::PutF64;
using vorlin::format::PutU16;
using vorlin::format::PutU32;
using vorlin::format::PutU64;

constexpr uint16_t kPoint10 = uint16_t(ItemType::Point10);
constexpr uint16_t kGpsTime = uint16_t(ItemType::GpsTime11);
constexpr uint16_t kRgb = uint16_t(ItemType::Rgb12);
constexpr uint16_t kWave = uint16_t(ItemType::Wavepacket13);
constexpr uint16_t kByte = uint16_t(ItemType::Byte);

size_t RecordSize(const std::vector<Item>& items) {
  size_t size = 0;
  for (const Item& item : items) size += item.size;
  return size;
}

// Records that look like a scan most of the time (what the predictors are
// built for) with bursts of the cases that take the rare paths: wild
// coordinate jumps, invalid return numbers, time jumps and sequence
// switches, grey and coloured pixels, waveform offsets of every kind.
class RecordGenerator {
 public:
  explicit RecordGenerator(uint32_t seed) : m_rng(seed) {}

  void point10(uint8_t* p, size_t i) {
    const bool wild = (i / 100) % 7 == 3;
    m_x += wild ? m_rng() : 25 + m_rng() % 5 - 2;  // unsigned: wraps
    m_y += wild ? m_rng() : m_rng() % 3 - 1;
    const int32_t z = wild ? int32_t(m_rng()) : 10000 + int32_t(m_rng() % 200);
    PutU32(p, m_x);
    PutU32(p + 4, m_y);
    PutU32(p + 8, uint32_t(z));
    PutU16(p + 12, uint16_t(wild ? m_rng() : 300 + m_rng() % 50));
    const uint32_t n = wild ? m_rng() % 8 : 1 + m_rng() % 3;
    const uint32_t r = wild ? m_rng() % 8 : 1 + m_rng() % n;
    p[14] = uint8_t(r | (n << 3) | ((i / 500) % 2) << 6 | (m_rng() % 50 == 0) << 7);
    p[15] = uint8_t(m_rng() % 10 == 0 ? m_rng() : 2);
    p[16] = uint8_t(wild ? m_rng() : (i / 20) % 40);
    p[17] = uint8_t(m_rng() % 30 == 0 ? m_rng() : 7);
    PutU16(p + 18, uint16_t(m_rng() % 40 == 0 ? m_rng() : i / 1000));
  }

  void gpsTime(uint8_t* p, size_t i) {
    const uint32_t phase = (i / 300) % 5;
    double t;
    if (phase == 0) {  // one steady pulse train, sometimes repeated times
      m_time[0] += m_rng() % 4 == 0 ? 0.0 : 1e-5;
      t = m_time[0];
    } else if (phase == 1) {  // three interleaved scanners far apart in time
      const uint32_t s = m_rng() % 3;
      m_time[s + 1] += 2e-5;
      t = m_time[s + 1];
    } else if (phase == 2) {  // irregular multiples of the step, and reversals
      m_time[0] += 1e-5 * double(int(m_rng() % 1200) - 15);
      t = m_time[0];
    } else if (phase == 3) {  // arbitrary bit patterns
      uint64_t bits = (uint64_t(m_rng()) << 32) | m_rng();
      std::memcpy(&t, &bits, 8);
    } else {
      t = m_time[0];
    }
    PutF64(p, t);
  }

  void rgb(uint8_t* p, size_t i) {
    uint16_t c[3];
    switch ((i / 250) % 4) {
      case 0: c[0] = c[1] = c[2] = uint16_t((m_rng() % 256) * 257); break;  // grey, scaled
      case 1:
        for (uint16_t& v : c) v = uint16_t((m_rng() % 256) << 8);
        break;
      case 2:
        for (uint16_t& v : c) v = uint16_t(m_rng());
        break;
      default: c[0] = c[1] = c[2] = uint16_t(i % 3 == 0 ? m_rng() : 0); break;
    }
    for (int k = 0; k < 3; ++k) PutU16(p + 2 * k, c[k]);
  }

  void bytes(uint8_t* p, size_t size, size_t i) {
    for (size_t k = 0; k < size; ++k) p[k] = uint8_t(k % 3 == 0 ? m_rng() : (i / 10 + k));
  }

  void wavepacket(uint8_t* p, size_t i) {
    p[0] = uint8_t(m_rng() % 20 == 0 ? m_rng() : 1);
    const uint32_t size = m_rng() % 10 == 0 ? m_rng() : 256;
    switch (m_rng() % 5) {
      case 0: break;                                     // same offset
      case 1: m_offset += m_lastSize; break;             // follows the last packet
      case 2: m_offset += int32_t(m_rng() % 20001) - 10000; break;
      case 3: m_offset += uint64_t(m_rng()) << 20; break;  // far away
      default: m_offset = uint64_t(m_rng()) << 32 | m_rng(); break;
    }
    m_lastSize = size;
    PutU64(p + 1, m_offset);
    PutU32(p + 9, size);
    for (int k = 0; k < 4; ++k) PutU32(p + 13 + 4 * k, k == 0 && i % 2 ? uint32_t(i) : m_rng());
  }

  std::vector<uint8_t> records(const std::vector<Item>& items, size_t count) {
    const size_t size = RecordSize(items);
    std::vector<uint8_t> out(size * count);
    for (size_t i = 0; i < count; ++i) {
      uint8_t* p = &out[i * size];
      for (const Item& item : items) {
        switch (item.type) {
          case kPoint10: point10(p, i); break;
          case kGpsTime: gpsTime(p, i); break;
          case kRgb: rgb(p, i); break;
          case kWave: wavepacket(p, i); break;
          default: bytes(p, item.size, i); break;
        }
        p += item.size;
      }
    }
    return out;
  }

 private:
  std::mt19937 m_rng;
  uint32_t m_x = 0, m_y = 0;
  double m_time[4] = {1000.0, 5e8, -3.0, 77.0};
  uint64_t m_offset = 0;
  uint32_t m_lastSize = 0;
};

struct Chunk {
  size_t begin, bytes;
  uint32_t points;
};

std::vector<uint8_t> Compress(const std::vector<Item>& items, const std::vector<uint8_t>& records,
                              uint32_t chunkPoints, std::vector<Chunk>& chunks) {
  const size_t size = RecordSize(items);
  const size_t count = records.size() / size;
  std::unique_ptr<ChunkEncoder> encoder = MakePointwiseEncoder(items);
  EXPECT_NE(encoder, nullptr);
  std::vector<uint8_t> out;
  if (!encoder) return out;
  for (size_t first = 0; first < count; first += chunkPoints) {
    const uint32_t points = uint32_t(std::min<size_t>(chunkPoints, count - first));
    const size_t begin = out.size();
    encoder->begin();
    for (uint32_t i = 0; i < points; ++i) encoder->add(&records[(first + i) * size]);
    encoder->finish(out);
    chunks.push_back(Chunk{begin, out.size() - begin, points});
  }
  return out;
}

void ExpectRoundTrip(const std::vector<Item>& items, size_t count, uint32_t chunkPoints,
                     uint32_t seed) {
  RecordGenerator gen(seed);
  const std::vector<uint8_t> records = gen.records(items, count);
  std::vector<Chunk> chunks;
  const std::vector<uint8_t> bytes = Compress(items, records, chunkPoints, chunks);
  std::unique_ptr<ChunkDecoder> decoder = MakePointwiseDecoder(items);
  ASSERT_NE(decoder, nullptr);
  const size_t size = RecordSize(items);
  std::vector<uint8_t> record(size);
  size_t index = 0;
  for (const Chunk& chunk : chunks) {
    ASSERT_TRUE(decoder->begin(&bytes[chunk.begin], chunk.bytes, chunk.points));
    for (uint32_t i = 0; i < chunk.points; ++i, ++index) {
      ASSERT_TRUE(decoder->next(record.data())) << "record " << index;
      ASSERT_EQ(0, std::memcmp(record.data(), &records[index * size], size)) << "record " << index;
    }
    EXPECT_FALSE(decoder->next(record.data())) << "a chunk delivers no more than its count";
  }
  EXPECT_EQ(index, count);
}

TEST(PointwiseCodec, EachItemTypeRoundTripsAlone) {
  ExpectRoundTrip({{kPoint10, 20, 2}}, 6000, 2500, 1);
  ExpectRoundTrip({{kGpsTime, 8, 2}}, 6000, 2500, 2);
  ExpectRoundTrip({{kRgb, 6, 2}}, 6000, 2500, 3);
  ExpectRoundTrip({{kByte, 1, 2}}, 3000, 1000, 4);
  ExpectRoundTrip({{kByte, 27, 2}}, 3000, 1000, 5);
  ExpectRoundTrip({{kWave, 29, 1}}, 6000, 2500, 6);
}

// The item lists of point formats 1-5 plus extra bytes; chunks of one and
// two records, and a chunk size that leaves a short last chunk.
TEST(PointwiseCodec, FormatItemListsRoundTripAcrossChunkSizes) {
  const std::vector<std::vector<Item>> lists = {
      {{kPoint10, 20, 2}, {kGpsTime, 8, 2}},
      {{kPoint10, 20, 2}, {kRgb, 6, 2}},
      {{kPoint10, 20, 2}, {kGpsTime, 8, 2}, {kRgb, 6, 2}, {kByte, 3, 2}},
      {{kPoint10, 20, 2}, {kGpsTime, 8, 2}, {kWave, 29, 1}},
      {{kPoint10, 20, 2}, {kGpsTime, 8, 2}, {kRgb, 6, 2}, {kWave, 29, 1}},
  };
  uint32_t seed = 10;
  for (const auto& items : lists) {
    // Tiny chunks reset every model per record: few records suffice.
    for (uint32_t chunkPoints : {1u, 2u}) ExpectRoundTrip(items, 60, chunkPoints, ++seed);
    for (uint32_t chunkPoints : {777u, 50000u}) ExpectRoundTrip(items, 2000, chunkPoints, ++seed);
  }
}

TEST(PointwiseCodec, UnknownOrMisSizedItemsAreRefused) {
  EXPECT_EQ(MakePointwiseDecoder({}), nullptr);
  EXPECT_EQ(MakePointwiseDecoder({{kPoint10, 20, 3}}), nullptr);
  EXPECT_EQ(MakePointwiseDecoder({{kPoint10, 20, 0}}), nullptr);
  EXPECT_EQ(MakePointwiseDecoder({{kPoint10, 22, 2}}), nullptr);
  EXPECT_EQ(MakePointwiseDecoder({{kPoint10, 20, 2}, {kRgb, 8, 2}}), nullptr);
  EXPECT_EQ(MakePointwiseDecoder({{kWave, 29, 2}}), nullptr);
  EXPECT_EQ(MakePointwiseDecoder({{kByte, 0, 2}}), nullptr);
  EXPECT_EQ(MakePointwiseDecoder({{kByte, 60000, 2}}), nullptr);
  EXPECT_EQ(MakePointwiseDecoder({{uint16_t(ItemType::Point14), 30, 2}}), nullptr);
  EXPECT_EQ(MakePointwiseDecoder({{99, 4, 2}}), nullptr);
  // Version 1 is read but never written.
  EXPECT_NE(MakePointwiseDecoder({{kPoint10, 20, 1}, {kGpsTime, 8, 1}, {kRgb, 6, 1}, {kByte, 2, 1}}),
            nullptr);
  EXPECT_EQ(MakePointwiseEncoder({{kPoint10, 20, 1}}), nullptr);
  EXPECT_EQ(MakePointwiseEncoder({{kGpsTime, 8, 1}}), nullptr);
}

// A cut chunk: every record the decoder still delivers is exact, and it
// fails before the end instead of inventing records.
TEST(PointwiseCodec, TruncatedChunkFailsAndNeverDeliversAWrongRecord) {
  const std::vector<Item> items = {{kPoint10, 20, 2}, {kGpsTime, 8, 2}, {kRgb, 6, 2}};
  const size_t size = RecordSize(items);
  RecordGenerator gen(42);
  const std::vector<uint8_t> records = gen.records(items, 3000);
  std::vector<Chunk> chunks;
  const std::vector<uint8_t> bytes = Compress(items, records, 3000, chunks);
  std::unique_ptr<ChunkDecoder> decoder = MakePointwiseDecoder(items);
  std::vector<uint8_t> record(size);
  for (size_t cut : {size_t(0), size - 1, size + 2, bytes.size() / 3, bytes.size() - 5}) {
    SCOPED_TRACE(cut);
    // A copy of exactly the kept bytes, so the sanitizers see any overread.
    const std::vector<uint8_t> kept(bytes.begin(), bytes.begin() + cut);
    if (!decoder->begin(kept.data(), kept.size(), 3000)) {
      EXPECT_LT(cut, size);
      EXPECT_FALSE(decoder->next(record.data()));
      continue;
    }
    size_t delivered = 0;
    while (decoder->next(record.data())) {
      ASSERT_LT(delivered, 3000u);
      ASSERT_EQ(0, std::memcmp(record.data(), &records[delivered * size], size)) << delivered;
      ++delivered;
    }
    EXPECT_LT(delivered, 3000u);
    EXPECT_FALSE(decoder->next(record.data())) << "failure is sticky";
  }
}

// Random garbage after a valid first record, for every item type: decoding
// must stay in bounds (checked by the sanitizer builds) and terminate.
TEST(PointwiseCodec, GarbageChunksDecodeWithoutFaults) {
  const std::vector<Item> items = {{kPoint10, 20, 1}, {kGpsTime, 8, 1}, {kRgb, 6, 1}, {kByte, 5, 1}};
  const std::vector<Item> items2 = {{kPoint10, 20, 2}, {kGpsTime, 8, 2}, {kRgb, 6, 2},
                                    {kWave, 29, 1}, {kByte, 5, 2}};
  std::mt19937 rng(9);
  for (const auto& list : {items, items2}) {
    std::unique_ptr<ChunkDecoder> decoder = MakePointwiseDecoder(list);
    ASSERT_NE(decoder, nullptr);
    std::vector<uint8_t> record(RecordSize(list));
    for (int trial = 0; trial < 40; ++trial) {
      std::vector<uint8_t> garbage(RecordSize(list) + rng() % 3000);
      const uint8_t fill = trial % 4 == 0 ? 0xFF : (trial % 4 == 1 ? 0x00 : 0);
      for (uint8_t& b : garbage) b = trial % 4 < 2 ? fill : uint8_t(rng());
      ASSERT_TRUE(decoder->begin(garbage.data(), garbage.size(), 5000));
      int delivered = 0;
      while (delivered < 5000 && decoder->next(record.data())) ++delivered;
    }
  }
}

}  // namespace
}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
