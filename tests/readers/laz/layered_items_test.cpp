// Round trips of the layered items on generated records, and the chunk
// decoder's behaviour on damaged chunks.

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

using vorlin::format::GetU32;
using vorlin::format::PutU16;
using vorlin::format::PutU32;
using vorlin::format::PutU64;

enum Layout { kFormat6, kFormat7, kFormat8, kWithWaves };

std::vector<Item> ItemsFor(Layout layout, uint16_t version, uint16_t extraBytes) {
  std::vector<Item> items{{uint16_t(ItemType::Point14), 30, version}};
  if (layout == kFormat7) items.push_back({uint16_t(ItemType::Rgb14), 6, version});
  if (layout == kFormat8 || layout == kWithWaves)
    items.push_back({uint16_t(ItemType::RgbNir14), 8, version});
  if (layout == kWithWaves) items.push_back({uint16_t(ItemType::Wavepacket14), 29, version});
  if (extraBytes) items.push_back({uint16_t(ItemType::Byte14), extraBytes, version});
  return items;
}

size_t RecordSize(const std::vector<Item>& items) {
  size_t size = 0;
  for (const Item& item : items) size += item.size;
  return size;
}

// Records like a multi-channel scanner's: pulses of one to several returns
// sharing a GPS time, channels interleaved, times that jump between
// sequences, colours that are sometimes grey, waveform packets laid end to
// end. Some fields stay constant when `quiet` is set.
class RecordGenerator {
 public:
  RecordGenerator(const std::vector<Item>& items, uint32_t seed, bool quiet)
      : m_items(items), m_rng(seed), m_quiet(quiet) {
    for (int c = 0; c < 4; ++c) m_time[c] = 1.0e8 + c * 1000.0;
  }

  void next(uint8_t* record) {
    std::memset(record, 0, RecordSize(m_items));
    if (m_return > m_returns) startPulse();
    uint8_t* p = record;
    int32_t x = m_x + int32_t(pick(200)) - 100, y = m_y + int32_t(pick(200)) - 100;
    PutU32(p, uint32_t(x));
    PutU32(p + 4, uint32_t(y));
    PutU32(p + 8, uint32_t(m_z - 30 * int32_t(m_return)));
    PutU16(p + 12, m_quiet ? 100 : uint16_t(pick(4096)));
    p[14] = uint8_t(m_return | (m_returns << 4));
    uint8_t flags = m_quiet ? 0 : uint8_t(pick(16) < 2 ? pick(16) : 0);
    p[15] = uint8_t(flags | (m_channel << 4) | (m_direction << 6) | (m_edge << 7));
    p[16] = m_quiet ? 2 : uint8_t(pick(10) < 7 ? 2 : pick(256));
    p[17] = m_quiet ? 0 : uint8_t(pick(4) == 0 ? pick(256) : 7);
    PutU16(p + 18, uint16_t(m_scanAngle));
    PutU16(p + 20, m_pointSource);
    double t = m_time[m_channel];
    uint64_t bits;
    std::memcpy(&bits, &t, 8);
    if (m_negativeZero) bits = uint64_t(1) << 63;
    PutU64(p + 22, bits);
    p += 30;
    for (size_t i = 1; i < m_items.size(); ++i) {
      const Item& item = m_items[i];
      switch (ItemType(item.type)) {
        case ItemType::Rgb14:
        case ItemType::RgbNir14:
          colour(p, item.size == 8);
          break;
        case ItemType::Wavepacket14:
          packet(p);
          break;
        default:
          for (uint16_t b = 0; b < item.size; ++b)
            p[b] = b % 3 == 0 ? uint8_t(7) : uint8_t(m_quiet ? 1 : b * 11 + pick(3));
          break;
      }
      p += item.size;
    }
    ++m_return;
  }

 private:
  uint32_t pick(uint32_t n) { return uint32_t(m_rng() % n); }

  void startPulse() {
    if (pick(5) == 0) m_channel = pick(4);
    m_returns = m_quiet ? 1 : (pick(20) == 0 ? 6 + pick(10) : 1 + pick(4));
    if (pick(50) == 0) m_returns = 0;  // broken return counts exist in real data
    m_return = m_returns == 0 ? 0 : 1;
    m_x += int32_t(pick(2000)) - 1000;
    m_y += int32_t(pick(2000)) - 900;
    m_z += int32_t(pick(100)) - 50;
    m_negativeZero = !m_quiet && pick(200) == 0;
    // Regular steps, with the odd repeat, outlier, jump to a far time and
    // return to an earlier one.
    double& t = m_time[m_channel];
    switch (m_quiet ? 0 : pick(40)) {
      case 1: break;
      case 2: t += 3.7e-3 * pick(700); break;
      case 3: t -= 1.0e-5 * pick(20); break;
      case 4: m_saved = t; t += 4.0e5; break;
      case 5: if (m_saved != 0) t = m_saved; break;
      default: t += 1.0e-5; break;
    }
    if (!m_quiet && pick(8) == 0) m_scanAngle = int16_t(int32_t(pick(30000)) - 15000);
    if (!m_quiet && pick(30) == 0) m_pointSource = uint16_t(pick(65536));
    if (!m_quiet && pick(10) == 0) m_direction ^= 1;
    if (!m_quiet && pick(100) == 0) m_edge ^= 1;
  }

  void colour(uint8_t* p, bool nir) {
    if (!m_quiet && pick(3) == 0) {
      for (uint16_t& v : m_rgb) v = uint16_t(v + pick(600) - 300);
      if (pick(4) == 0) m_rgb[1] = m_rgb[2] = m_rgb[0];  // grey
      m_nir = uint16_t(m_nir + pick(64) - 32);
    }
    PutU16(p, m_rgb[0]);
    PutU16(p + 2, m_rgb[1]);
    PutU16(p + 4, m_rgb[2]);
    if (nir) PutU16(p + 6, m_nir);
  }

  void packet(uint8_t* p) {
    uint32_t kind = m_quiet ? 0 : pick(8);
    if (kind == 1) m_offset += m_size;
    if (kind == 2) m_offset += pick(100000);
    if (kind == 3) m_offset = (uint64_t(pick(1u << 30)) << 30) + pick(1000);
    if (kind >= 1) m_size = 100 + pick(200);
    p[0] = uint8_t(m_quiet ? 1 : pick(3));
    PutU64(p + 1, m_offset);
    PutU32(p + 9, m_size);
    for (int i = 0; i < 4; ++i) PutU32(p + 13 + 4 * i, m_quiet ? 5u : uint32_t(m_rng()));
  }

  std::vector<Item> m_items;
  std::mt19937 m_rng;
  bool m_quiet;
  uint32_t m_channel = 1, m_return = 1, m_returns = 0;
  int32_t m_x = 1000000, m_y = -2000000, m_z = 50000;
  double m_time[4];
  double m_saved = 0;
  bool m_negativeZero = false;
  int16_t m_scanAngle = 100;
  uint16_t m_pointSource = 17;
  uint32_t m_direction = 0, m_edge = 0;
  uint16_t m_rgb[3] = {1000, 20000, 65000};
  uint16_t m_nir = 3000;
  uint64_t m_offset = 1000;
  uint32_t m_size = 120;
};

std::vector<uint8_t> MakeRecords(const std::vector<Item>& items, size_t count, uint32_t seed,
                                 bool quiet) {
  RecordGenerator gen(items, seed, quiet);
  size_t size = RecordSize(items);
  std::vector<uint8_t> records(size * count);
  for (size_t i = 0; i < count; ++i) gen.next(&records[i * size]);
  return records;
}

std::vector<uint8_t> EncodeChunk(ChunkEncoder& encoder, const uint8_t* records, size_t size,
                                 size_t count) {
  std::vector<uint8_t> out;
  encoder.begin();
  for (size_t i = 0; i < count; ++i) encoder.add(records + i * size);
  encoder.finish(out);
  return out;
}

// Decodes a whole chunk; false as soon as the decoder refuses.
bool DecodeChunk(ChunkDecoder& decoder, const std::vector<uint8_t>& chunk, uint32_t count,
                 size_t size, std::vector<uint8_t>& records) {
  records.assign(size * count, 0);
  if (!decoder.begin(chunk.data(), chunk.size(), count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (!decoder.next(&records[i * size])) return false;
  }
  std::vector<uint8_t> extra(size);
  return !decoder.next(extra.data());
}

struct Case {
  Layout layout;
  uint16_t version;
  uint16_t extraBytes;
};

class LayeredRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(LayeredRoundTrip, ChunksOfManySizesComeBackUnchanged) {
  const Case c = GetParam();
  std::vector<Item> items = ItemsFor(c.layout, c.version, c.extraBytes);
  size_t size = RecordSize(items);
  auto encoder = MakeLayeredEncoder(items);
  auto decoder = MakeLayeredDecoder(items);
  ASSERT_TRUE(encoder && decoder);
  const uint32_t counts[] = {1, 2, 3, 700, 5000, 64};
  uint32_t seed = 1;
  for (bool quiet : {false, true}) {
    for (uint32_t count : counts) {
      std::vector<uint8_t> records = MakeRecords(items, count, seed++, quiet);
      std::vector<uint8_t> chunk = EncodeChunk(*encoder, records.data(), size, count);
      std::vector<uint8_t> back;
      ASSERT_TRUE(DecodeChunk(*decoder, chunk, count, size, back)) << count << " records";
      for (uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(0, std::memcmp(&back[i * size], &records[i * size], size))
            << "record " << i << " of " << count << (quiet ? " (quiet)" : "");
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, LayeredRoundTrip,
                         ::testing::Values(Case{kFormat6, 3, 0}, Case{kFormat6, 4, 4},
                                           Case{kFormat7, 3, 3}, Case{kFormat7, 4, 0},
                                           Case{kFormat8, 3, 2}, Case{kFormat8, 4, 1},
                                           Case{kWithWaves, 3, 5}, Case{kWithWaves, 4, 0}));

// Layer sizes of a chunk, in item order.
std::vector<uint32_t> LayerSizes(const std::vector<uint8_t>& chunk, size_t recordSize,
                                 size_t layers) {
  std::vector<uint32_t> sizes;
  for (size_t i = 0; i < layers; ++i) sizes.push_back(GetU32(&chunk[recordSize + 4 + 4 * i]));
  return sizes;
}

TEST(LayeredChunk, FieldsThatNeverChangeLeaveTheirLayersEmpty) {
  std::vector<Item> items = ItemsFor(kFormat8, 3, 2);
  size_t size = RecordSize(items);
  std::vector<uint8_t> records = MakeRecords(items, 300, 7, true);
  // Only X and Y (and Z, always written) move; nothing else does. The colour
  // is grey: a colour that is not is coded (as such) with every record.
  PutU16(&records[30], 500);
  PutU16(&records[32], 500);
  PutU16(&records[34], 500);
  for (size_t i = 0; i < 300; ++i) {
    uint8_t* r = &records[i * size];
    r[14] = 0x11;
    r[15] = 0x10;
    std::memcpy(r + 22, records.data() + 22, 8);
    PutU16(r + 18, 100);
    PutU16(r + 20, 17);
    std::memcpy(r + 30, records.data() + 30, 8 + 2);
  }
  auto encoder = MakeLayeredEncoder(items);
  std::vector<uint8_t> chunk = EncodeChunk(*encoder, records.data(), size, 300);
  std::vector<uint32_t> sizes = LayerSizes(chunk, size, 9 + 2 + 2);
  EXPECT_GT(sizes[0], 0u);  // channel, returns, X and Y
  for (size_t i = 2; i < sizes.size(); ++i) EXPECT_EQ(sizes[i], 0u) << "layer " << i;
  auto decoder = MakeLayeredDecoder(items);
  std::vector<uint8_t> back;
  ASSERT_TRUE(DecodeChunk(*decoder, chunk, 300, size, back));
  EXPECT_EQ(back, records);
}

TEST(LayeredChunk, ThousandsOfExtraBytesOnlyTheChangingOnesCoded) {
  const uint16_t extra = 3000;
  std::vector<Item> items = ItemsFor(kFormat6, 3, extra);
  size_t size = RecordSize(items);
  std::vector<uint8_t> records = MakeRecords(items, 50, 3, false);
  for (size_t i = 0; i < 50; ++i) {
    uint8_t* bytes = &records[i * size + 30];
    std::memset(bytes, 0x5A, extra);
    bytes[5] = uint8_t(i * 7);
    bytes[extra - 1] = uint8_t(i / 3);
  }
  std::vector<uint8_t> chunk = EncodeChunk(*MakeLayeredEncoder(items), records.data(), size, 50);
  std::vector<uint32_t> sizes = LayerSizes(chunk, size, 9 + extra);
  for (size_t i = 0; i < extra; ++i) {
    bool changes = i == 5 || i == extra - 1u;
    EXPECT_EQ(sizes[9 + i] > 0, changes) << "extra byte " << i;
  }
  std::vector<uint8_t> back;
  ASSERT_TRUE(DecodeChunk(*MakeLayeredDecoder(items), chunk, 50, size, back));
  EXPECT_EQ(back, records);
}

class LayeredDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    items = ItemsFor(kFormat7, 3, 2);
    size = RecordSize(items);
    records = MakeRecords(items, 400, 99, false);
    chunk = EncodeChunk(*MakeLayeredEncoder(items), records.data(), size, 400);
    decoder = MakeLayeredDecoder(items);
  }
  std::vector<Item> items;
  size_t size = 0;
  std::vector<uint8_t> records, chunk;
  std::unique_ptr<ChunkDecoder> decoder;
  std::vector<uint8_t> back;
};

TEST_F(LayeredDamage, LayerCountPastTheChunkEndIsRefused) {
  // The last layer claims one byte more than the chunk holds.
  size_t layers = 9 + 1 + 2;
  size_t lastSize = size + 4 + 4 * (layers - 1);
  PutU32(&chunk[lastSize], GetU32(&chunk[lastSize]) + 1);
  EXPECT_FALSE(decoder->begin(chunk.data(), chunk.size(), 400));
  PutU32(&chunk[size + 4], 0xFFFFFFFFu);
  EXPECT_FALSE(decoder->begin(chunk.data(), chunk.size(), 400));
  uint8_t dummy[64];
  EXPECT_FALSE(decoder->next(dummy));
}

TEST_F(LayeredDamage, ACountOtherThanTheContainersIsRefused) {
  EXPECT_FALSE(decoder->begin(chunk.data(), chunk.size(), 399));
  EXPECT_FALSE(decoder->begin(chunk.data(), chunk.size(), 401));
  EXPECT_TRUE(DecodeChunk(*decoder, chunk, 400, size, back));
}

TEST_F(LayeredDamage, TruncatedChunksFailWithoutReadingPastTheirEnd) {
  for (size_t length = 0; length < chunk.size(); length += 1 + length / 16) {
    // An exact-size copy, so that a read past the end is caught by the
    // address checks.
    std::vector<uint8_t> cut(chunk.begin(), chunk.begin() + long(length));
    EXPECT_FALSE(DecodeChunk(*decoder, cut, 400, size, back)) << length << " bytes";
  }
}

TEST_F(LayeredDamage, ShortenedLayersAreReportedAsOverrun) {
  // Every layer loses its last half; the sizes stay consistent, the streams
  // run dry before the records do.
  size_t layers = 9 + 1 + 2;
  std::vector<uint8_t> shrunk(chunk.begin(), chunk.begin() + long(size + 4 + 4 * layers));
  size_t at = shrunk.size();
  for (size_t i = 0; i < layers; ++i) {
    uint32_t bytes = GetU32(&chunk[size + 4 + 4 * i]);
    uint32_t kept = bytes / 2;
    PutU32(&shrunk[size + 4 + 4 * i], kept);
    shrunk.insert(shrunk.end(), chunk.begin() + long(at), chunk.begin() + long(at + kept));
    at += bytes;
  }
  EXPECT_FALSE(DecodeChunk(*decoder, shrunk, 400, size, back));
}

TEST_F(LayeredDamage, CorruptedBytesNeverCrashAndTheNextChunkDecodes) {
  std::mt19937 rng(5);
  size_t header = size + 4 + 4 * (9 + 1 + 2);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> bad = chunk;
    for (int flips = 0; flips < 1 + trial % 5; ++flips)
      bad[header + rng() % (bad.size() - header)] ^= uint8_t(1 + rng() % 255);
    (void)DecodeChunk(*decoder, bad, 400, size, back);
  }
  ASSERT_TRUE(DecodeChunk(*decoder, chunk, 400, size, back));
  EXPECT_EQ(back, records);
}

TEST(LayeredFactories, RefuseItemListsTheyCannotCode) {
  const uint16_t p = uint16_t(ItemType::Point14);
  const std::vector<std::vector<Item>> bad = {
      {},
      {{p, 30, 2}},                                             // point-wise version
      {{p, 30, 5}},                                             // unknown version
      {{p, 20, 3}},                                             // wrong size
      {{uint16_t(ItemType::Rgb14), 6, 3}, {p, 30, 3}},          // point not first
      {{p, 30, 3}, {uint16_t(ItemType::Rgb12), 6, 2}},          // point-wise item
      {{p, 30, 3}, {uint16_t(ItemType::RgbNir14), 6, 3}},       // wrong size
      {{p, 30, 3}, {uint16_t(ItemType::Byte14), 0, 3}},         // no bytes
      {{p, 30, 3}, {99, 4, 3}},                                 // unknown type
  };
  for (const auto& items : bad) {
    EXPECT_FALSE(MakeLayeredDecoder(items));
    EXPECT_FALSE(MakeLayeredEncoder(items));
  }
  EXPECT_TRUE(MakeLayeredDecoder(ItemsFor(kWithWaves, 4, 3)));
}

TEST(LayeredChunk, AnEmptyChunkHoldsNothing) {
  std::vector<Item> items = ItemsFor(kFormat6, 3, 0);
  auto encoder = MakeLayeredEncoder(items);
  std::vector<uint8_t> out;
  encoder->begin();
  encoder->finish(out);
  EXPECT_TRUE(out.empty());
  auto decoder = MakeLayeredDecoder(items);
  EXPECT_TRUE(decoder->begin(nullptr, 0, 0));
  uint8_t record[30];
  EXPECT_FALSE(decoder->next(record));
}

}  // namespace
}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
