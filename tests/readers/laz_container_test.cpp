// The LAZ container: compression record, chunk table, and how damaged or
// lying files are refused.
#include <filesystem>

#include <gtest/gtest.h>

#include "las_source_support.h"
#include "vorlin/qv_vorlin.h"

namespace {

using namespace readers_test;
namespace f = vorlin::format;

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

// The chunk tables real writers left cover the space between the offset
// field and the table exactly, and our layered encoder reproduces their
// chunks byte for byte from the uncompressed twins.
TEST(LazRealFiles, TablesCoverTheChunksAndLayeredChunksEncodeAlike) {
  if (!std::filesystem::is_directory(VORLIN_SAMPLE_LAZ_DIR)) GTEST_SKIP() << "no samples";
  int checked = 0, encoded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VORLIN_SAMPLE_LAZ_DIR)) {
    if (entry.path().extension() != ".laz") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<uint8_t> file = ReadBytes(entry.path().string());
    const LazLayout l = LocateLaz(file);
    ASSERT_NE(0u, l.parametersAt);
    ASSERT_LE(l.tableAt + 8, file.size());
    ASSERT_EQ(f::GetU32(file.data() + l.tableAt + 4), l.chunks.size());
    uint64_t at = l.pointStart + 8;
    for (const laz::ChunkEntry& e : l.chunks) at += e.byteCount;
    EXPECT_EQ(l.tableAt, at);
    ++checked;
    const std::string twin = entry.path().string().substr(0, entry.path().string().size() - 4) + ".las";
    if (l.parameters.items[0].type != uint16_t(laz::ItemType::Point14) || !std::filesystem::exists(twin))
      continue;
    const std::vector<uint8_t> records = StoredRecords(twin);
    const std::vector<std::vector<uint8_t>> chunks =
        EncodeChunks(l.parameters.items, records, l.parameters.chunkSize);
    ASSERT_EQ(l.chunks.size(), chunks.size());
    at = l.pointStart + 8;
    for (size_t i = 0; i < chunks.size(); at += l.chunks[i++].byteCount) {
      ASSERT_EQ(l.chunks[i].byteCount, chunks[i].size()) << "chunk " << i;
      EXPECT_TRUE(std::equal(chunks[i].begin(), chunks[i].end(), file.begin() + long(at))) << "chunk " << i;
    }
    ++encoded;
  }
  EXPECT_GE(checked, 10);
  EXPECT_EQ(3, encoded);
}

}  // namespace

namespace {

// Rewrites the chunk table with changed entries.
std::vector<uint8_t> WithTable(std::vector<uint8_t> file,
                               void (*change)(std::vector<laz::ChunkEntry>&)) {
  LazLayout l = LocateLaz(file);
  change(l.chunks);
  file.resize(l.tableAt);
  laz::EncodeChunkTable(l.chunks, false, file);
  return file;
}

class LazBadInput : public ::testing::Test {
 protected:
  // A valid file of 3000 points in chunks of 1000, of a point-wise or a
  // layered format.
  std::vector<uint8_t> Valid(int format) {
    const vv::LasSourceInfo layout = Layout(format);
    records = MakeRecords(format, layout.recordLength, 3000);
    vv::LasWriteOptions options;
    options.compress = true;
    options.chunkSize = 1000;
    EXPECT_TRUE(WriteFile(dir.wfile("valid.laz"), layout, records, options));
    return ReadBytes(dir.file("valid.laz"));
  }
  TempDir dir;
  std::vector<uint8_t> records;
};

enum class Outcome { OpenFails, ReadFails, Truncated };

TEST_F(LazBadInput, DamagedOrLyingFilesAreRefusedClearly) {
  struct Case {
    const char* what;
    int format;
    Outcome outcome;
    std::vector<uint8_t> (*damage)(std::vector<uint8_t>);
  } cases[] = {
      {"cut in the middle of the chunks", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { b.resize(b.size() * 6 / 10); return b; }},
      {"cut, table offset left at -1", 7, Outcome::OpenFails,
       [](std::vector<uint8_t> b) {
         const LazLayout l = LocateLaz(b);
         f::PutU64(b.data() + l.pointStart, ~uint64_t(0));
         b.resize(b.size() - 30);
         return b;
       }},
      {"table offset past the end", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { f::PutU64(b.data() + LocateLaz(b).pointStart, b.size() + 5); return b; }},
      {"table version 1", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { f::PutU32(b.data() + LocateLaz(b).tableAt, 1); return b; }},
      {"table claims a million chunks", 7, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { f::PutU32(b.data() + LocateLaz(b).tableAt + 4, 1000000); return b; }},
      {"table entries overwritten", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) {
         const uint64_t at = LocateLaz(b).tableAt + 8;
         for (uint64_t i = at; i < b.size(); ++i) b[i] = 0xFF;
         return b;
       }},
      {"chunk sizes that overrun the table", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) {
         return WithTable(b, [](std::vector<laz::ChunkEntry>& e) { e[1].byteCount += 100; });
       }},
      {"chunk boundaries moved", 3, Outcome::ReadFails,
       [](std::vector<uint8_t> b) {
         return WithTable(b, [](std::vector<laz::ChunkEntry>& e) {
           e[0].byteCount -= 40;
           e[1].byteCount += 40;
         });
       }},
      {"chunk boundaries moved, layered", 7, Outcome::ReadFails,
       [](std::vector<uint8_t> b) {
         return WithTable(b, [](std::vector<laz::ChunkEntry>& e) {
           e[0].byteCount -= 40;
           e[1].byteCount += 40;
         });
       }},
      {"fewer chunks than points", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) {
         return WithTable(b, [](std::vector<laz::ChunkEntry>& e) { e.pop_back(); });
       }},
      {"chunk size halved", 7, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { f::PutU32(b.data() + LocateLaz(b).parametersAt + 12, 500); return b; }},
      {"chunk size doubled", 3, Outcome::ReadFails,
       [](std::vector<uint8_t> b) { f::PutU32(b.data() + LocateLaz(b).parametersAt + 12, 2000); return b; }},
      {"chunk size doubled, layered", 7, Outcome::ReadFails,
       [](std::vector<uint8_t> b) { f::PutU32(b.data() + LocateLaz(b).parametersAt + 12, 2000); return b; }},
      {"point count beyond the table", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { f::PutU32(b.data() + 107, 3001); return b; }},
      {"64-bit point count of a trillion", 7, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { f::PutU64(b.data() + 247, 1000000000000ull); return b; }},
      {"unknown item type", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { f::PutU16(b.data() + LocateLaz(b).parametersAt + 34, 99); return b; }},
      {"unknown item version", 7, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { f::PutU16(b.data() + LocateLaz(b).parametersAt + 38, 9); return b; }},
      {"unknown compressor", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { f::PutU16(b.data() + LocateLaz(b).parametersAt, 7); return b; }},
      {"items disagree with the record length", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { f::PutU16(b.data() + 105, 40); return b; }},
      {"record length below the format's minimum", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { f::PutU16(b.data() + 105, 30); return b; }},
      {"compressed format without a compression record", 3, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { b[LocateLaz(b).parametersAt - 54 + 18] = 1; return b; }},
      {"point format 12", 7, Outcome::OpenFails,
       [](std::vector<uint8_t> b) { b[104] = 0x80 | 12; return b; }},
      {"a plain LAS announcing a trillion points", -3, Outcome::Truncated,
       [](std::vector<uint8_t> b) { f::PutU32(b.data() + 107, 4000000000u); return b; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> file;
    if (c.format < 0) {
      const vv::LasSourceInfo layout = Layout(-c.format);
      ASSERT_TRUE(WriteFile(dir.wfile("plain.las"), layout, MakeRecords(-c.format, layout.recordLength, 100)));
      file = ReadBytes(dir.file("plain.las"));
    } else {
      file = Valid(c.format);
    }
    WriteBytes(dir.file("bad.laz"), c.damage(file));
    // What an import through the reader makes of it.
    vv::SourceReader importing;
    const vv::VorlinStatus status = vv::QvVorlin::import(
        dir.wfile("bad.laz").c_str(), dir.wfile("out.qzv").c_str(), &importing, nullptr, 0x1F);
    EXPECT_EQ(c.outcome == Outcome::OpenFails   ? vv::OpenFailed
              : c.outcome == Outcome::ReadFails ? vv::ReadFailed
                                                : vv::Ok,
              status);
    std::filesystem::remove(dir.file("out.qzv"));
    vv::SourceReader reader;
    const bool opened = reader.Open(dir.wfile("bad.laz").c_str());
    if (c.outcome == Outcome::OpenFails) {
      EXPECT_FALSE(opened);
      EXPECT_FALSE(reader.lastError().empty());
      continue;
    }
    ASSERT_TRUE(opened) << reader.lastError();
    double x, y, z;
    unsigned char r, g, b;
    size_t points = 0;
    bool threw = false;
    try {
      for (bool more = reader.ReadFirstPoint(x, y, z, r, g, b); more;
           more = reader.ReadNextPoint(x, y, z, r, g, b))
        ++points;
    } catch (const vv::SourceReadError& e) {
      threw = true;
      EXPECT_NE(std::string(), e.what());
    }
    if (c.outcome == Outcome::ReadFails) {
      EXPECT_TRUE(threw);
      EXPECT_TRUE(reader.failed());
      EXPECT_LT(points, 3000u);
    } else {
      EXPECT_FALSE(threw);
      EXPECT_TRUE(reader.info().truncated);
      EXPECT_EQ(reader.info().presentCount, points);
    }
  }
}

// Decoding ahead, on one thread or several, meets the damage after the same
// records and reports it in the same words, also while other threads have
// decoded chunks beyond it.
TEST_F(LazBadInput, DecodingAheadFailsAtTheSameRecordAsDecodingDirectly) {
  const struct {
    int format;
    std::vector<uint8_t> (*damage)(std::vector<uint8_t>);
  } cases[] = {
      {3, [](std::vector<uint8_t> b) {
         return WithTable(b, [](std::vector<laz::ChunkEntry>& e) {
           e[0].byteCount -= 40;
           e[1].byteCount += 40;
         });
       }},
      {7, [](std::vector<uint8_t> b) { f::PutU32(b.data() + LocateLaz(b).parametersAt + 12, 2000); return b; }},
      {6, [](std::vector<uint8_t> b) {
         return WithTable(b, [](std::vector<laz::ChunkEntry>& e) {
           e[1].byteCount -= 40;
           e[2].byteCount += 40;
         });
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    WriteBytes(dir.file("bad.laz"), c.damage(Valid(c.format)));
    // Directly, then ahead on 1, 2 and 3 threads.
    constexpr int kWays = 4;
    size_t counts[kWays];
    std::string errors[kWays];
    std::vector<uint8_t> got[kWays];
    for (int ahead = 0; ahead < kWays; ++ahead) {
      vv::SourceReader reader;
      reader.SetDecodeAhead(ahead > 0, unsigned(ahead));
      ASSERT_TRUE(reader.Open(dir.wfile("bad.laz").c_str()));
      std::vector<uint8_t> record(reader.info().recordLength);
      counts[ahead] = 0;
      while (reader.NextRecord(record.data())) {
        ++counts[ahead];
        got[ahead].insert(got[ahead].end(), record.begin(), record.end());
      }
      EXPECT_TRUE(reader.failed());
      EXPECT_FALSE(reader.NextRecord(record.data()));  // the failure is sticky
      errors[ahead] = reader.lastError();
    }
    // Batches deliver the same records' points, then throw.
    vv::SourceReader batches;
    ASSERT_TRUE(batches.Open(dir.wfile("bad.laz").c_str()));
    std::vector<vv::LasPoint> points(1000);
    size_t delivered = 0;
    EXPECT_THROW(for (size_t n; (n = batches.ReadNextPoints(points.data(), points.size()));)
                     delivered += n,
                 vv::SourceReadError);
    EXPECT_EQ(delivered, counts[0]);
    EXPECT_FALSE(errors[0].empty());
    for (int ahead = 1; ahead < kWays; ++ahead) {
      EXPECT_EQ(counts[0], counts[ahead]);
      EXPECT_EQ(errors[0], errors[ahead]);
      EXPECT_TRUE(got[0] == got[ahead]);
    }
  }
}

}  // namespace

namespace {

// Chunks of varying size (as COPC files and streaming writers store them)
// and a table whose offset a writer could only append at the end.
TEST_F(LazBadInput, ReadsVariableChunksAndATableOffsetAtTheEnd) {
  for (int format : {3, 7}) {
    SCOPED_TRACE(format);
    std::vector<uint8_t> file = Valid(format);
    const LazLayout l = LocateLaz(file);
    // Same chunks, described as variable: chunk size 0xFFFFFFFF, point
    // counts in the table.
    std::vector<laz::ChunkEntry> entries = l.chunks;
    ASSERT_EQ(3u, entries.size());
    for (auto& e : entries) e.pointCount = 1000;
    file.resize(l.tableAt);
    laz::EncodeChunkTable(entries, true, file);
    f::PutU32(file.data() + l.parametersAt + 12, laz::kVariableChunkSize);
    // Offset field -1, the offset itself after the table.
    f::PutU64(file.data() + l.pointStart, ~uint64_t(0));
    uint8_t tail[8];
    f::PutU64(tail, l.tableAt);
    file.insert(file.end(), tail, tail + 8);
    WriteBytes(dir.file("variable.laz"), file);
    std::vector<uint8_t> got;
    vv::LasSourceInfo info;
    std::string error;
    ASSERT_TRUE(ReadRecords(dir.wfile("variable.laz"), got, &info, &error)) << error;
    EXPECT_EQ(laz::kVariableChunkSize, info.chunkSize);
    EXPECT_TRUE(records == got);
  }
}

}  // namespace

namespace {

// The oldest compressor: one stream, no offset field, no chunk table. Made
// from a file of one chunk by dropping both.
TEST(LazUnchunked, ReadsTheWholeStream) {
  TempDir dir;
  const vv::LasSourceInfo layout = Layout(3, 37);
  const std::vector<uint8_t> records = MakeRecords(3, 37, 20000, 5);
  vv::LasWriteOptions options;
  options.compress = true;
  options.chunkSize = 20000;
  ASSERT_TRUE(WriteFile(dir.wfile("one.laz"), layout, records, options));
  const std::vector<uint8_t> chunked = ReadBytes(dir.file("one.laz"));
  const LazLayout l = LocateLaz(chunked);
  std::vector<uint8_t> file(chunked.begin(), chunked.begin() + l.pointStart);
  file.insert(file.end(), chunked.begin() + l.pointStart + 8, chunked.begin() + long(l.tableAt));
  f::PutU16(file.data() + l.parametersAt, 1);
  f::PutU32(file.data() + l.parametersAt + 12, 0);
  WriteBytes(dir.file("stream.laz"), file);
  std::vector<uint8_t> got;
  vv::LasSourceInfo info;
  std::string error;
  ASSERT_TRUE(ReadRecords(dir.wfile("stream.laz"), got, &info, &error)) << error;
  EXPECT_EQ(vv::LasCompression::Pointwise, info.compression);
  EXPECT_TRUE(records == got);
  // Cut short, the stream fails part way instead of inventing points.
  file.resize(file.size() - file.size() / 4);
  WriteBytes(dir.file("cut.laz"), file);
  EXPECT_FALSE(ReadRecords(dir.wfile("cut.laz"), got, &info, &error));
  EXPECT_LT(got.size(), records.size());
}

}  // namespace
