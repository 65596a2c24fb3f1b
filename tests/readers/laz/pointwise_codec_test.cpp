// The point-wise chunk codec on bad item lists and on truncated or damaged
// chunks (its round trips are the container's, one per point format).

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

using readers_test::RecordSize;

constexpr uint16_t kPoint10 = uint16_t(ItemType::Point10);
constexpr uint16_t kGpsTime = uint16_t(ItemType::GpsTime11);
constexpr uint16_t kRgb = uint16_t(ItemType::Rgb12);
constexpr uint16_t kWave = uint16_t(ItemType::Wavepacket13);
constexpr uint16_t kByte = uint16_t(ItemType::Byte);

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
  const std::vector<uint8_t> records = readers_test::MakeRecords(3, int(size), 3000, 42);
  const std::vector<uint8_t> bytes = readers_test::EncodeChunks(items, records, 3000)[0];
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
