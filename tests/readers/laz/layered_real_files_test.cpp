// The layered chunks of real LAZ files of formats 6-8, decoded and compared
// with their uncompressed twins record by record. Skips without the samples.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "format/little_endian.h"
#include "readers/laz/laz_codec.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {
namespace {

using vorlin::format::GetU16;
using vorlin::format::GetU32;
using vorlin::format::GetU64;

std::vector<uint8_t> Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Just enough of a LAS/LAZ file for these tests.
struct LasFile {
  std::vector<uint8_t> bytes;
  uint32_t pointOffset = 0;
  uint16_t recordLength = 0;
  uint64_t pointCount = 0;
  uint32_t chunkSize = 0;
  std::vector<Item> items;  // from the compression record, if any
};

bool ParseLas(const std::string& path, LasFile& f) {
  f.bytes = Slurp(path);
  const std::vector<uint8_t>& b = f.bytes;
  if (b.size() < 227) return false;
  uint16_t headerSize = GetU16(&b[94]);
  f.pointOffset = GetU32(&b[96]);
  uint32_t vlrCount = GetU32(&b[100]);
  f.recordLength = GetU16(&b[105]);
  f.pointCount = GetU32(&b[107]);
  if (headerSize >= 375 && b.size() >= 255) f.pointCount = GetU64(&b[247]);
  size_t at = headerSize;
  for (uint32_t v = 0; v < vlrCount && at + 54 <= b.size(); ++v) {
    std::string user(reinterpret_cast<const char*>(&b[at + 2]), 16);
    uint16_t id = GetU16(&b[at + 18]);
    uint16_t length = GetU16(&b[at + 20]);
    const uint8_t* data = &b[at + 54];
    if (at + 54 + length > b.size()) return false;
    if (user.compare(0, 14, "laszip encoded") == 0 && id == 22204 && length >= 34) {
      f.chunkSize = GetU32(data + 12);
      uint16_t itemCount = GetU16(data + 32);
      if (34u + 6u * itemCount > length) return false;
      for (uint16_t i = 0; i < itemCount; ++i) {
        const uint8_t* it = data + 34 + 6 * i;
        f.items.push_back(Item{GetU16(it), GetU16(it + 2), GetU16(it + 4)});
      }
    }
    at += 54 + length;
  }
  return f.pointOffset <= b.size();
}

const std::string kSampleDir = VORLIN_SAMPLE_LAZ_DIR;

// Decodes every chunk of a layered LAZ file and compares with the twin.
void CheckAgainstTwin(const std::string& laz, const std::string& las, uint16_t version,
                      bool reencode) {
  if (!std::filesystem::exists(kSampleDir + "/" + laz)) GTEST_SKIP() << "no sample " << laz;
  LasFile z, plain;
  ASSERT_TRUE(ParseLas(kSampleDir + "/" + laz, z));
  ASSERT_TRUE(ParseLas(kSampleDir + "/" + las, plain));
  ASSERT_FALSE(z.items.empty());
  ASSERT_EQ(z.items[0].version, version);
  ASSERT_EQ(z.recordLength, plain.recordLength);
  ASSERT_EQ(z.pointCount, plain.pointCount);
  ASSERT_GE(plain.bytes.size(), plain.pointOffset + plain.pointCount * plain.recordLength);

  std::unique_ptr<ChunkDecoder> decoder = MakeLayeredDecoder(z.items);
  ASSERT_TRUE(decoder);
  // The chunk table's position ends the chunks.
  ASSERT_GE(z.bytes.size(), z.pointOffset + 8u);
  uint64_t tableOffset = GetU64(&z.bytes[z.pointOffset]);
  ASSERT_LE(tableOffset, z.bytes.size());
  size_t at = z.pointOffset + 8;
  uint64_t done = 0;
  std::vector<uint8_t> record(z.recordLength);
  size_t chunks = 0;
  while (done < z.pointCount) {
    uint32_t count = uint32_t(std::min<uint64_t>(z.chunkSize, z.pointCount - done));
    ASSERT_TRUE(decoder->begin(&z.bytes[at], tableOffset - at, count)) << "chunk " << chunks;
    for (uint32_t i = 0; i < count; ++i, ++done) {
      ASSERT_TRUE(decoder->next(record.data())) << "record " << done;
      const uint8_t* want = &plain.bytes[plain.pointOffset + done * plain.recordLength];
      ASSERT_EQ(0, std::memcmp(record.data(), want, record.size()))
          << laz << ": record " << done << " differs";
    }
    EXPECT_FALSE(decoder->next(record.data()));
    // The chunk's length follows from its layer sizes.
    size_t header = z.recordLength + 4;
    size_t layers = 0;
    size_t length = header;
    // Count layers from the item list: 9 for the point, 1 or 2 for colour,
    // one per extra byte, 1 for a waveform packet.
    for (const Item& item : z.items) {
      switch (ItemType(item.type)) {
        case ItemType::Point14: layers += 9; break;
        case ItemType::RgbNir14: layers += 2; break;
        case ItemType::Byte14: layers += item.size; break;
        default: layers += 1; break;
      }
    }
    length += 4 * layers;
    for (size_t l = 0; l < layers; ++l) length += GetU32(&z.bytes[at + header + 4 * l]);
    if (reencode) {
      // The writer reproduces the chunk byte for byte.
      std::unique_ptr<ChunkEncoder> encoder = MakeLayeredEncoder(z.items);
      ASSERT_TRUE(encoder);
      encoder->begin();
      uint64_t first = done - count;
      for (uint32_t i = 0; i < count; ++i)
        encoder->add(&plain.bytes[plain.pointOffset + (first + i) * plain.recordLength]);
      std::vector<uint8_t> out;
      encoder->finish(out);
      ASSERT_EQ(out.size(), length) << "chunk " << chunks;
      EXPECT_EQ(0, std::memcmp(out.data(), &z.bytes[at], length)) << "chunk " << chunks;
    }
    at += length;
    ++chunks;
  }
  EXPECT_EQ(at, tableOffset);
}

TEST(LayeredRealFiles, Format6DecodesToTwin) {
  CheckAgainstTwin("loadersgl_pdrf6-1.4.laz", "loadersgl_pdrf6-1.4.las", 3, true);
}

TEST(LayeredRealFiles, Format7Version4DecodesToTwin) {
  CheckAgainstTwin("loadersgl_pdrf7-v4-1.4.laz", "loadersgl_pdrf7-v4-1.4.las", 4, true);
}

TEST(LayeredRealFiles, Format8DecodesToTwin) {
  CheckAgainstTwin("loadersgl_pdrf8-1.4.laz", "loadersgl_pdrf8-1.4.las", 3, true);
}

}  // namespace
}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
