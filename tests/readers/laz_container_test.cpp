// The LAZ container: compression record, chunk table, and how damaged or
// lying files are refused.
#include <filesystem>

#include <gtest/gtest.h>

#include "las_source_support.h"
#include "readers/laz/chunk_table.h"
#include "readers/laz/laz_parameters.h"

namespace {

using namespace readers_test;
namespace f = vorlin::format;
namespace laz = Zelvane::Vorlin::laz;

TEST(LazChunkTable, RoundTripsFixedAndVariableTables) {
  for (bool variable : {false, true}) {
    std::vector<laz::ChunkEntry> entries;
    for (uint32_t i = 0; i < 300; ++i)
      entries.push_back({variable ? 1 + i * 977 % 50000 : 0, 100 + i * 7919 % 2000000});
    entries.push_back({variable ? 0xFFFFFFFFu : 0, 0xFFFFFFF0u});  // extremes survive too
    std::vector<uint8_t> bytes;
    laz::EncodeChunkTable(entries, variable, bytes);
    ASSERT_EQ(0u, f::GetU32(bytes.data()));
    ASSERT_EQ(entries.size(), f::GetU32(bytes.data() + 4));
    std::vector<laz::ChunkEntry> decoded;
    ASSERT_TRUE(laz::DecodeChunkTable(bytes.data() + 8, bytes.size() - 8, uint32_t(entries.size()),
                                      variable, decoded));
    ASSERT_EQ(entries.size(), decoded.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i].pointCount, decoded[i].pointCount);
      EXPECT_EQ(entries[i].byteCount, decoded[i].byteCount);
    }
    // Cut short, the table is refused rather than read past its bytes.
    EXPECT_FALSE(laz::DecodeChunkTable(bytes.data() + 8, 20, uint32_t(entries.size()), variable,
                                       decoded));
  }
}

// The chunk tables real writers left: their byte counts cover the space
// between the offset field and the table exactly.
TEST(LazChunkTable, RealFilesTablesCoverTheirChunks) {
  if (!std::filesystem::is_directory(VORLIN_SAMPLE_LAZ_DIR)) GTEST_SKIP() << "no samples";
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VORLIN_SAMPLE_LAZ_DIR)) {
    if (entry.path().extension() != ".laz") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<uint8_t> file = ReadBytes(entry.path().string());
    const uint32_t start = f::GetU32(file.data() + 96);
    uint64_t tableAt = f::GetU64(file.data() + start);
    if (int64_t(tableAt) <= int64_t(start)) tableAt = f::GetU64(file.data() + file.size() - 8);
    ASSERT_LT(tableAt + 8, file.size() + 1);
    const uint32_t count = f::GetU32(file.data() + tableAt + 4);
    // Which kind of table: the compression record's chunk size says.
    laz::Parameters parameters;
    bool found = false;
    for (size_t at = f::GetU16(file.data() + 94); at + 54 <= start;) {
      const uint16_t length = f::GetU16(file.data() + at + 20);
      if (f::GetU16(file.data() + at + 18) == laz::kCompressionRecordId) {
        std::string error;
        ASSERT_TRUE(laz::ParseParameters(
            std::vector<uint8_t>(file.begin() + long(at + 54), file.begin() + long(at + 54 + length)),
            parameters, error))
            << error;
        found = true;
      }
      at += 54 + length;
    }
    ASSERT_TRUE(found);
    std::vector<uint8_t> coded(file.begin() + long(tableAt + 8), file.end());
    coded.resize(coded.size() + 8, 0);
    std::vector<laz::ChunkEntry> entries;
    ASSERT_TRUE(laz::DecodeChunkTable(coded.data(), coded.size(), count,
                                      parameters.chunkSize == laz::kVariableChunkSize, entries));
    uint64_t bytes = 0;
    for (const laz::ChunkEntry& e : entries) bytes += e.byteCount;
    EXPECT_EQ(tableAt, start + 8 + bytes);
    ++checked;
  }
  EXPECT_GE(checked, 10);
}

}  // namespace
