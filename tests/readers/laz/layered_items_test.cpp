// The layered chunk codec: version 4 round trips (the container round trips
// write version 3), layers left empty, and damaged chunks.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "readers/las_source_support.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {
namespace {

using readers_test::DecodeChunk;
using readers_test::EncodeChunks;
using readers_test::MakeRecords;
using readers_test::RecordSize;
using vorlin::format::GetU32;
using vorlin::format::PutU16;
using vorlin::format::PutU32;

std::vector<Item> ItemsFor(int format, int extraBytes, uint16_t version = 3) {
  std::vector<Item> items =
      ParametersForFormat(format, uint16_t(readers_test::StandardLength(format) + extraBytes), 0).items;
  for (Item& item : items) item.version = version;
  return items;
}

// The versions differ in which context predicts a channel seen before; the
// container's round trips write version 3 only.
TEST(LayeredRoundTrip, Version4ChunksOfManySizesComeBackUnchanged) {
  for (int format = 6; format <= 10; ++format) {
    const std::vector<Item> v4 = ItemsFor(format, format % 3, 4);
    const size_t size = RecordSize(v4);
    const std::vector<uint8_t> all = MakeRecords(format, int(size), 3100, uint32_t(format));
    auto decoder = MakeLayeredDecoder(v4);
    ASSERT_TRUE(decoder);
    // Tiny chunks start every context afresh: a few records suffice.
    for (uint32_t chunkPoints : {1u, 3u, 1000u, 5000u}) {
      SCOPED_TRACE(testing::Message() << "format " << format << " chunk " << chunkPoints);
      const std::vector<uint8_t> records(all.begin(), all.begin() + long(size * (chunkPoints < 5 ? 50 : 3100)));
      const auto chunks = EncodeChunks(v4, records, chunkPoints);
      std::vector<uint8_t> back, decoded;
      for (size_t c = 0; c < chunks.size(); ++c) {
        const uint32_t count = uint32_t(std::min<size_t>(chunkPoints, records.size() / size - c * chunkPoints));
        ASSERT_TRUE(DecodeChunk(*decoder, chunks[c], count, size, back)) << "chunk " << c;
        decoded.insert(decoded.end(), back.begin(), back.end());
      }
      EXPECT_TRUE(decoded == records);
    }
  }
}

// Layer sizes of a chunk, in item order.
std::vector<uint32_t> LayerSizes(const std::vector<uint8_t>& chunk, size_t recordSize,
                                 size_t layers) {
  std::vector<uint32_t> sizes;
  for (size_t i = 0; i < layers; ++i) sizes.push_back(GetU32(&chunk[recordSize + 4 + 4 * i]));
  return sizes;
}

TEST(LayeredChunk, FieldsThatNeverChangeLeaveTheirLayersEmpty) {
  std::vector<Item> items = ItemsFor(8, 2);
  size_t size = RecordSize(items);
  std::vector<uint8_t> records = MakeRecords(8, int(size), 300, 7);
  // Only X and Y (and Z, always written) move; nothing else does. The colour
  // is grey: a colour that is not is coded (as such) with every record.
  records[14] = 0x11;
  records[15] = 0x10;
  PutU16(&records[30], 500);
  PutU16(&records[32], 500);
  PutU16(&records[34], 500);
  for (size_t i = 1; i < 300; ++i) std::memcpy(&records[i * size + 12], &records[12], size - 12);
  std::vector<uint8_t> chunk = EncodeChunks(items, records, 300)[0];
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
  std::vector<Item> items = ItemsFor(6, extra);
  size_t size = RecordSize(items);
  std::vector<uint8_t> records = MakeRecords(6, int(size), 50, 3);
  for (size_t i = 0; i < 50; ++i) {
    uint8_t* bytes = &records[i * size + 30];
    std::memset(bytes, 0x5A, extra);
    bytes[5] = uint8_t(i * 7);
    bytes[extra - 1] = uint8_t(i / 3);
  }
  std::vector<uint8_t> chunk = EncodeChunks(items, records, 50)[0];
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
    items = ItemsFor(7, 2);
    size = RecordSize(items);
    records = MakeRecords(7, int(size), 400, 99);
    chunk = EncodeChunks(items, records, 400)[0];
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
}

TEST(LayeredChunk, AnEmptyChunkHoldsNothing) {
  std::vector<Item> items = ItemsFor(6, 0);
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
