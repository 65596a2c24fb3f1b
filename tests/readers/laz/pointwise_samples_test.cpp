// Decodes the point-wise LAZ samples shipped with the project's test data
// and compares every record with the uncompressed twin. Parses only what
// the codec needs (item list, chunk table); skips when the data is absent.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "format/little_endian.h"
#include "readers/laz/integer_compressor.h"
#include "readers/laz/laz_codec.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {
namespace {

using vorlin::format::GetU16;
using vorlin::format::GetU32;
using vorlin::format::GetU64;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct LasPoints {
  uint32_t recordLength = 0;
  uint64_t count = 0;
  size_t offset = 0;
};

LasPoints Header(const std::vector<uint8_t>& f) {
  LasPoints h;
  h.offset = GetU32(&f[96]);
  h.recordLength = GetU16(&f[105]);
  h.count = GetU32(&f[107]);
  if (f[25] >= 4 && h.count == 0 && f.size() >= 255) h.count = GetU64(&f[247]);
  return h;
}

struct Compression {
  uint16_t compressor = 0;
  uint32_t chunkSize = 0;
  std::vector<Item> items;
};

bool FindCompression(const std::vector<uint8_t>& f, Compression& c) {
  size_t pos = GetU16(&f[94]);
  const uint32_t vlrs = GetU32(&f[100]);
  for (uint32_t i = 0; i < vlrs && pos + 54 <= f.size(); ++i) {
    const uint16_t id = GetU16(&f[pos + 18]);
    const uint16_t length = GetU16(&f[pos + 20]);
    const uint8_t* body = &f[pos + 54];
    if (id == 22204 && std::memcmp(&f[pos + 2], "laszip encoded", 14) == 0) {
      c.compressor = GetU16(body);
      c.chunkSize = GetU32(body + 12);
      const uint16_t n = GetU16(body + 32);
      for (uint16_t k = 0; k < n; ++k) {
        const uint8_t* it = body + 34 + 6 * k;
        c.items.push_back(Item{GetU16(it), GetU16(it + 2), GetU16(it + 4)});
      }
      return true;
    }
    pos += 54 + length;
  }
  return false;
}

// (points, bytes) of each chunk, from the table coded after the points.
std::vector<std::pair<uint32_t, uint32_t>> ChunkTable(const std::vector<uint8_t>& f, size_t pointData,
                                                      uint32_t chunkSize) {
  const uint64_t at = GetU64(&f[pointData]);
  const uint32_t chunks = GetU32(&f[at + 4]);
  ArithmeticDecoder dec;
  dec.init(&f[at + 8], f.size() - at - 8);
  IntegerCompressor ic(32, 2);
  ic.initDecoder();
  std::vector<std::pair<uint32_t, uint32_t>> table;
  uint32_t count = chunkSize, bytes = 0;
  for (uint32_t i = 0; i < chunks; ++i) {
    if (chunkSize == UINT32_MAX) count = uint32_t(ic.decompress(dec, i ? int32_t(count) : 0, 0));
    bytes = uint32_t(ic.decompress(dec, i ? int32_t(bytes) : 0, 1));
    table.emplace_back(count, bytes);
  }
  return table;
}

TEST(PointwiseSamples, EveryRecordEqualsTheUncompressedTwin) {
  const std::string dir = VORLIN_SAMPLE_LAZ_DIR;
  if (ReadFile(dir + "/README.md").empty()) GTEST_SKIP() << "no sample data in " << dir;
  const std::pair<const char*, const char*> pairs[] = {
      {"lazperf_1815.laz", "lazperf_1815.las"},
      {"lazperf_extrabytes.laz", "lazperf_extrabytes.las"},
      {"lazperf_point-color-time.las.laz", "lazperf_point-color-time.las"},
      {"lazperf_point-color.las.laz", "lazperf_point-color.las"},
      {"lazperf_point-time-1.4.las.laz", "lazperf_point-time.las"},
      {"lazperf_point-time.las.laz", "lazperf_point-time.las"},
      {"lazperf_point10-1.0.laz", "lazperf_point10-1.0.las"},
      {"lazperf_point10-1.1.laz", "lazperf_point10-1.1.las"},
      {"lazperf_point10.las.laz", "lazperf_point10.las"},
      {"pdal_simple.laz", "../las/pdal_simple.las"},
  };
  for (const auto& pair : pairs) {
    SCOPED_TRACE(pair.first);
    const std::vector<uint8_t> laz = ReadFile(dir + "/" + pair.first);
    const std::vector<uint8_t> las = ReadFile(dir + "/" + pair.second);
    ASSERT_FALSE(laz.empty());
    ASSERT_FALSE(las.empty());
    const LasPoints lz = Header(laz), ls = Header(las);
    ASSERT_EQ(lz.count, ls.count);
    ASSERT_EQ(lz.recordLength, ls.recordLength);
    Compression c;
    ASSERT_TRUE(FindCompression(laz, c));
    std::unique_ptr<ChunkDecoder> decoder = MakePointwiseDecoder(c.items);
    ASSERT_NE(decoder, nullptr);

    std::vector<std::pair<uint32_t, uint32_t>> chunks;
    size_t pos = lz.offset;
    if (c.compressor == 2) {
      chunks = ChunkTable(laz, lz.offset, c.chunkSize);
      pos += 8;
    } else {
      chunks.emplace_back(uint32_t(lz.count), uint32_t(laz.size() - pos));
    }
    std::vector<uint8_t> record(lz.recordLength);
    uint64_t done = 0;
    for (const auto& chunk : chunks) {
      const uint32_t points = uint32_t(std::min<uint64_t>(chunk.first, lz.count - done));
      ASSERT_LE(pos + chunk.second, laz.size());
      ASSERT_TRUE(decoder->begin(&laz[pos], chunk.second, points));
      for (uint32_t i = 0; i < points; ++i, ++done) {
        ASSERT_TRUE(decoder->next(record.data())) << "record " << done;
        ASSERT_EQ(0, std::memcmp(record.data(), &las[ls.offset + done * ls.recordLength], record.size()))
            << "record " << done;
      }
      pos += chunk.second;
    }
    EXPECT_EQ(done, lz.count);
  }
}

}  // namespace
}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
