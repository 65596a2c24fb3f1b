// The LAS/LAZ writer: headers carried or made, VLRs, compression both ways,
// and no partial file on failure.
#include "vorlin/las_file_writer.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "las_source_support.h"
#include "platform/fault_injection.h"

namespace {

using namespace readers_test;
namespace f = vorlin::format;

vv::LasWriteOptions Compressed(uint32_t chunkSize = 50000) {
  vv::LasWriteOptions options;
  options.compress = true;
  options.chunkSize = chunkSize;
  return options;
}

// LAS -> LAZ -> LAS keeps every record byte for byte, for every format,
// with extra bytes, partial last chunks and a chunk size of one.
TEST(LasFileWriter, CompressedAndDecompressedRecordsAreByteIdentical) {
  TempDir dir;
  struct Case {
    int format, extra;
    size_t count;
    uint32_t chunkSize;
  } cases[] = {{0, 0, 5000, 1000}, {1, 0, 3001, 50000}, {2, 3, 2500, 700}, {3, 0, 4000, 1024},
               {3, 7, 10, 1},      {6, 0, 5000, 1000},  {7, 2, 3001, 50000}, {8, 0, 2500, 999},
               {6, 4, 1, 50000},   {1, 0, 0, 50000},    {4, 0, 2000, 700},   {5, 2, 1500, 50000},
               {9, 0, 2000, 600},  {10, 1, 2200, 50000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " extra " << c.extra << " count "
                                    << c.count << " chunk " << c.chunkSize);
    const vv::LasSourceInfo layout = Layout(c.format, StandardLength(c.format) + c.extra);
    const std::vector<uint8_t> records =
        MakeRecords(c.format, layout.recordLength, c.count, uint32_t(c.format + 1));
    ASSERT_TRUE(WriteFile(dir.wfile("a.las"), layout, records));
    std::vector<uint8_t> plain, decoded, again;
    vv::LasSourceInfo source, packed, unpacked;
    ASSERT_TRUE(ReadRecords(dir.wfile("a.las"), plain, &source));
    ASSERT_EQ(records, plain);

    vv::LasSourceInfo carried = source;
    ASSERT_TRUE(WriteFile(dir.wfile("a.laz"), carried, plain, Compressed(c.chunkSize)));
    std::string error;
    ASSERT_TRUE(ReadRecords(dir.wfile("a.laz"), decoded, &packed, &error)) << error;
    EXPECT_EQ(records, decoded);
    EXPECT_EQ(c.format >= 6 ? vv::LasCompression::LayeredChunked
                            : vv::LasCompression::PointwiseChunked,
              packed.compression);
    EXPECT_EQ(c.chunkSize, packed.chunkSize);
    EXPECT_EQ(c.count, packed.presentCount);

    ASSERT_TRUE(WriteFile(dir.wfile("b.las"), packed, decoded));
    ASSERT_TRUE(ReadRecords(dir.wfile("b.las"), again, &unpacked));
    EXPECT_EQ(records, again);
    EXPECT_EQ(vv::LasCompression::None, unpacked.compression);
    EXPECT_TRUE(unpacked.vlrs.empty()) << "the compression record is removed again";
    // Apart from the fields the writer owns, the header is the source's.
    EXPECT_EQ(source.headerBytes, unpacked.headerBytes);
  }
}

TEST(LasFileWriter, CarriesHeaderVlrsAndExtendedVlrs) {
  TempDir dir;
  vv::LasSourceInfo layout = Layout(7);
  vv::LasVlr wkt;
  wkt.userId = "LASF_Projection";
  wkt.recordId = 2112;
  wkt.description = "coordinate system";
  const std::string text = "GEOGCS[\"WGS 84\"]";
  wkt.data.assign(text.begin(), text.end());
  vv::LasVlr extra = wkt;
  extra.userId = "someone";
  extra.recordId = 7;
  extra.extended = true;
  extra.data.assign(70000, 3);  // longer than a plain VLR can be
  layout.vlrs = {wkt, extra};
  const std::vector<uint8_t> records = MakeRecords(7, 36, 100);
  ASSERT_TRUE(WriteFile(dir.wfile("v.las"), layout, records));
  for (bool compress : {false, true}) {
    vv::LasSourceInfo info;
    std::vector<uint8_t> got;
    ASSERT_TRUE(ReadRecords(dir.wfile("v.las"), got, &info));
    ASSERT_TRUE(WriteFile(dir.wfile("w.laz"), info, got,
                          compress ? Compressed() : vv::LasWriteOptions()));
    ASSERT_TRUE(ReadRecords(dir.wfile("w.laz"), got, &info));
    EXPECT_EQ(records, got);
    EXPECT_EQ(1, info.versionMajor);
    EXPECT_EQ(4, info.versionMinor);
    EXPECT_EQ(100u, info.announcedCount);
    EXPECT_EQ(text, info.georeferencing);
    ASSERT_EQ(compress ? 3u : 2u, info.vlrs.size());
    EXPECT_EQ(wkt.description, info.vlrs[0].description);
    EXPECT_EQ(extra.data, info.vlrs.back().data);
    EXPECT_TRUE(info.vlrs.back().extended);
    // Bounds come from the records of a made header.
    double lo = 1e300;
    for (size_t i = 0; i < 100; ++i) lo = std::min(lo, f::GetI32(records.data() + i * 36) * 0.01);
    EXPECT_DOUBLE_EQ(lo, info.min[0]);
  }
}

// Every write, seek or create that fails leaves neither the file nor a
// temporary one, and an older file of the same name stays as it was.
TEST(LasFileWriter, AFailureLeavesNoPartialFile) {
  namespace p = vorlin::platform;
  TempDir dir;
  const std::vector<uint8_t> records = MakeRecords(3, 34, 20000);
  const std::vector<uint8_t> old = {1, 2, 3};
  for (bool compress : {false, true}) {
    WriteBytes(dir.file("out.las"), old);
    bool succeeded = false;
    for (uint64_t n = 1; n < 200 && !succeeded; ++n) {
      p::ArmFault(p::kFaultOpen | p::kFaultWrite | p::kFaultSeek, n);
      vv::LasFileWriter writer;
      bool ok = writer.Open(dir.wfile("out.las").c_str(), Layout(3),
                            compress ? Compressed(3000) : vv::LasWriteOptions());
      for (size_t i = 0; ok && i < 20000; i += 5000) ok = writer.WriteRecords(&records[i * 34], 5000);
      ok = ok && writer.Close();
      const bool triggered = p::FaultTriggered();
      p::DisarmFault();
      if (!triggered) {
        ASSERT_TRUE(ok) << writer.lastError();
        succeeded = true;
        break;
      }
      EXPECT_FALSE(ok) << "call " << n;
      EXPECT_FALSE(writer.lastError().empty());
      EXPECT_EQ(1u, dir.EntryCount()) << "call " << n;
      EXPECT_EQ(old, ReadBytes(dir.file("out.las"))) << "call " << n;
    }
    ASSERT_TRUE(succeeded);
    std::vector<uint8_t> got;
    ASSERT_TRUE(ReadRecords(dir.wfile("out.las"), got));
    EXPECT_EQ(records, got);
  }
}

TEST(LasFileWriter, RefusesWhatItCannotWrite) {
  TempDir dir;
  vv::LasFileWriter writer;
  EXPECT_FALSE(writer.Open(dir.wfile("x.las").c_str(), Layout(3, 30)));  // below 34 bytes
  vv::LasSourceInfo layout = Layout(1);
  layout.pointFormat = 11;
  EXPECT_FALSE(writer.Open(dir.wfile("x.las").c_str(), layout));
  EXPECT_FALSE(writer.Open((dir.path() / "missing" / "x.las").wstring().c_str(), Layout(1)));
  EXPECT_FALSE(writer.lastError().empty());
  EXPECT_EQ(0u, dir.EntryCount());
}

}  // namespace
