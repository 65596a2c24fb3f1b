// The LAS/LAZ source reader against the built-in LAS reader, and on LAS 1.4
// layouts the built-in one does not read.
#include "vorlin/las_source.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "las_source_support.h"
#include "readers/las_reader.h"
#include "synth/synth.h"

namespace {

using namespace readers_test;
namespace f = vorlin::format;

struct Delivered {
  double x, y, z;
  unsigned char red, green, blue, intensity, custom;
  float n[3];
  bool operator==(const Delivered& o) const {
    return x == o.x && y == o.y && z == o.z && red == o.red && green == o.green &&
           blue == o.blue && intensity == o.intensity && custom == o.custom && n[0] == o.n[0] &&
           n[1] == o.n[1] && n[2] == o.n[2];
  }
};

std::vector<Delivered> Pass(vv::IReader2& reader) {
  std::vector<Delivered> out;
  Delivered d;
  for (bool more = reader.ReadFirstPointEx(d.x, d.y, d.z, d.red, d.green, d.blue, d.intensity,
                                           d.n[0], d.n[1], d.n[2], d.custom);
       more; more = reader.ReadNextPointEx(d.x, d.y, d.z, d.red, d.green, d.blue, d.intensity,
                                           d.n[0], d.n[1], d.n[2], d.custom))
    out.push_back(d);
  return out;
}

// Both readers open the file and deliver the same points, statistics and mask.
void ExpectSameAsBuiltIn(const std::string& path) {
  SCOPED_TRACE(path);
  vv::LasReader builtIn;
  vv::SourceReader source;
  ASSERT_TRUE(builtIn.Open(Wide(path).c_str()));
  ASSERT_TRUE(source.Open(Wide(path).c_str())) << source.lastError();
  double lo[2][3], hi[2][3];
  unsigned long long count[2] = {0, 0};
  unsigned int mask[2] = {0, 0};
  ASSERT_TRUE(builtIn.FileStats(lo[0], hi[0], count[0], mask[0]));
  ASSERT_TRUE(source.FileStats(lo[1], hi[1], count[1], mask[1]));
  EXPECT_EQ(mask[0], mask[1]);
  for (int a = 0; a < 3; ++a) EXPECT_TRUE(lo[0][a] == lo[1][a] && hi[0][a] == hi[1][a]);
  const std::vector<Delivered> expected = Pass(builtIn), got = Pass(source);
  EXPECT_EQ(expected.size(), got.size());
  EXPECT_TRUE(expected == got);
  EXPECT_EQ(got.size(), count[1]);
  EXPECT_TRUE(Pass(source) == got) << "a second pass starts over";
  // Batches of any size deliver the same points.
  for (size_t size : {size_t(1), size_t(7), size_t(1000)}) {
    std::vector<vv::LasPoint> batch(size);
    std::vector<Delivered> batched(1);
    Delivered& first = batched[0];
    if (!source.ReadFirstPointEx(first.x, first.y, first.z, first.red, first.green, first.blue,
                                 first.intensity, first.n[0], first.n[1], first.n[2], first.custom))
      batched.clear();
    for (size_t n; !batched.empty() && (n = source.ReadNextPoints(batch.data(), size));) {
      for (size_t i = 0; i < n; ++i) {
        const vv::LasPoint& p = batch[i];
        batched.push_back({p.x, p.y, p.z, p.red, p.green, p.blue, p.intensity, p.customAttribute,
                           {0.0f, 0.0f, 0.0f}});
      }
    }
    EXPECT_TRUE(batched == got) << "batches of " << size;
  }
  builtIn.Close();
  source.Close();
}

TEST(SourceReader, DeliversWhatTheBuiltInReaderDeliversForFormats0To5) {
  TempDir dir;
  std::vector<synth::LasPoint> points;
  for (int i = 0; i < 3000; ++i) {
    synth::LasPoint p;
    p.x = 1000 + (i % 97) * 0.37, p.y = -20 + (i % 13) * 1.5, p.z = (i % 7) * 0.1;
    // 16-bit values appear part way, so both readers switch scaling there.
    p.intensity = uint16_t(i < 1500 ? i % 200 : i * 7);
    p.classification = uint8_t(i * 37);
    p.red = uint16_t(i < 2000 ? i % 255 : i * 13), p.green = uint16_t(i % 256);
    p.blue = uint16_t(i * 3);
    points.push_back(p);
  }
  for (int format = 0; format <= 5; ++format) {
    for (int extra : {0, 5}) {
      if (StandardLength(format) + extra > 64) continue;  // the built-in limit
      synth::LasOptions options;
      options.pointFormat = format;
      options.recordLength = StandardLength(format) + extra;
      const std::string path = dir.file("f" + std::to_string(format) + "_" + std::to_string(extra) + ".las");
      ASSERT_TRUE(synth::WriteLas(path, points, options));
      ExpectSameAsBuiltIn(path);
    }
  }
}

TEST(SourceReader, DeliversWhatTheBuiltInReaderDeliversForRealFiles) {
  if (!std::filesystem::is_directory(VORLIN_SAMPLE_LAS_DIR)) GTEST_SKIP() << "no samples";
  int compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VORLIN_SAMPLE_LAS_DIR)) {
    if (entry.path().extension() != ".las") continue;
    const std::vector<uint8_t> head = ReadBytes(entry.path().string());
    // The built-in reader delivers nothing above format 5 or opens nothing
    // above 64-byte records; the other files must agree point for point.
    if (head.size() < 227 || (head[104] & 0x3F) > 5 || f::GetU16(head.data() + 105) > 64) continue;
    ExpectSameAsBuiltIn(entry.path().string());
    ++compared;
  }
  EXPECT_GE(compared, 10);
}

// Formats 6-10: the whole classification byte, colour from RGB (NIR ignored),
// 16-bit colour and intensity reduced as for formats 0-5.
TEST(SourceReader, ExtendedFormatsDeliverFullClassAndRgb) {
  TempDir dir;
  for (int format = 6; format <= 10; ++format) {
    SCOPED_TRACE(format);
    const int length = StandardLength(format) + 3;
    std::vector<uint8_t> records = MakeRecords(format, length, 4);
    for (int i = 0; i < 4; ++i) {
      uint8_t* r = records.data() + i * length;
      f::PutU16(r + 12, uint16_t(i == 2 ? 4000 : 100));
      r[16] = uint8_t(200 + i);
      if (format == 7 || format == 8 || format == 10) {
        f::PutU16(r + 30, uint16_t(i == 0 ? 17 : 0xFF00));
        f::PutU16(r + 32, 18);
        f::PutU16(r + 34, 19);
      }
    }
    vv::LasSourceInfo layout = Layout(format, length);
    ASSERT_TRUE(WriteFile(dir.wfile("x.las"), layout, records));
    vv::SourceReader reader;
    ASSERT_TRUE(reader.Open(dir.wfile("x.las").c_str())) << reader.lastError();
    double lo[3], hi[3];
    unsigned long long count = 0;
    unsigned int mask = 0;
    ASSERT_TRUE(reader.FileStats(lo, hi, count, mask));
    const bool colour = format != 6 && format != 9;
    EXPECT_EQ(colour ? 11u : 10u, mask);
    EXPECT_EQ(4u, count);
    const std::vector<Delivered> got = Pass(reader);
    ASSERT_EQ(4u, got.size());
    const unsigned char intensity[] = {100, 100, 4000 >> 8, 100 >> 8};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(200 + i, got[i].custom);
      EXPECT_EQ(intensity[i], got[i].intensity) << i;
      EXPECT_DOUBLE_EQ(f::GetI32(records.data() + i * length) * 0.01, got[i].x);
      if (colour) {
        EXPECT_EQ(i == 0 ? 17 : 0xFF, got[i].red);
        EXPECT_EQ(i == 0 ? 18 : 0, got[i].green);
      } else {
        EXPECT_EQ(0, got[i].red + got[i].green + got[i].blue);
      }
    }
  }
}

// A LAS 1.4 header by hand: 64-bit count (legacy field 0), extended VLRs
// after the points, and bytes after those that are not points. Later
// versions grow the header past 375 bytes.
std::vector<uint8_t> Las14File(uint64_t announced, const std::vector<uint8_t>& records,
                               const std::string& wkt, size_t trailing, int minor = 4,
                               uint16_t headerSize = 375) {
  std::vector<uint8_t> h(headerSize, 0);
  memcpy(h.data(), "LASF", 4);
  h[24] = 1, h[25] = uint8_t(minor);
  f::PutU16(h.data() + 94, headerSize);
  f::PutU32(h.data() + 96, headerSize);
  h[104] = 6;
  f::PutU16(h.data() + 105, 30);
  for (int a = 0; a < 3; ++a) f::PutF64(h.data() + 131 + 8 * a, 0.01);
  f::PutU64(h.data() + 247, announced);
  const uint64_t evlrAt = headerSize + records.size();
  f::PutU64(h.data() + 235, evlrAt);
  f::PutU32(h.data() + 243, 1);
  std::vector<uint8_t> file = h;
  file.insert(file.end(), records.begin(), records.end());
  std::vector<uint8_t> evlr(60, 0);
  memcpy(evlr.data() + 2, "LASF_Projection", 15);
  f::PutU16(evlr.data() + 18, 2112);
  f::PutU64(evlr.data() + 20, wkt.size() + 1);
  file.insert(file.end(), evlr.begin(), evlr.end());
  file.insert(file.end(), wkt.begin(), wkt.end());
  file.push_back(0);
  file.insert(file.end(), trailing, 0x5A);
  return file;
}

TEST(SourceReader, Las14ReadsTheAnnouncedRecordsAndTheirGeoreferencing) {
  TempDir dir;
  const std::vector<uint8_t> records = MakeRecords(6, 30, 50);
  const std::string wkt = "PROJCS[\"test\"]";
  struct Case {
    uint64_t announced;
    size_t stored;
    size_t trailing;
    uint64_t present;
    int minor;
    uint16_t headerSize;
  } cases[] = {
      {50, 50, 0, 50, 4, 375},    // exact
      {40, 50, 90, 40, 4, 375},   // fewer announced than stored: the rest is not read
      {50, 50, 600, 50, 4, 375},  // trailing bytes longer than records: still not points
      {50, 50, 0, 50, 5, 389},    // a longer header of a later version
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> stored(records.begin(), records.begin() + long(c.stored * 30));
    WriteBytes(dir.file("a.las"),
               Las14File(c.announced, stored, wkt, c.trailing, c.minor, c.headerSize));
    std::vector<uint8_t> got;
    vv::LasSourceInfo info;
    ASSERT_TRUE(ReadRecords(dir.wfile("a.las"), got, &info));
    EXPECT_EQ(c.announced, info.announcedCount);
    EXPECT_EQ(c.present, info.presentCount);
    EXPECT_FALSE(info.truncated);
    EXPECT_EQ(std::vector<uint8_t>(records.begin(), records.begin() + long(c.present * 30)), got);
    EXPECT_EQ("wkt", info.georeferencingKind);
    EXPECT_EQ(wkt, info.georeferencing);
    ASSERT_EQ(1u, info.vlrs.size());
    EXPECT_TRUE(info.vlrs[0].extended);
  }
}

TEST(SourceReader, AFileThatEndsEarlyDeliversWhatItHoldsAndSaysSo) {
  TempDir dir;
  std::vector<synth::LasPoint> points(10);
  for (int i = 0; i < 10; ++i) points[i].x = i;
  synth::LasOptions options;
  options.pointFormat = 1;
  options.headerCountOverride = 25;
  options.truncateLastRecordBy = 3;
  ASSERT_TRUE(synth::WriteLas(dir.file("t.las"), points, options));
  vv::SourceReader reader;
  ASSERT_TRUE(reader.Open(dir.wfile("t.las").c_str()));
  EXPECT_EQ(25u, reader.info().announcedCount);
  EXPECT_EQ(9u, reader.info().presentCount);
  EXPECT_TRUE(reader.info().truncated);
  EXPECT_EQ(9u, Pass(reader).size());
  EXPECT_FALSE(reader.failed());
}

TEST(SourceReader, GeoTiffKeysBecomeText) {
  TempDir dir;
  vv::LasSourceInfo layout = Layout(1);
  vv::LasVlr keys;
  keys.userId = "LASF_Projection";
  keys.recordId = 34735;
  const uint16_t directory[] = {1, 1, 0, 3, 1024, 0, 1, 1, 3072, 0, 1, 32617, 3073, 34737, 9, 0};
  for (uint16_t v : directory) keys.data.push_back(uint8_t(v)), keys.data.push_back(uint8_t(v >> 8));
  vv::LasVlr ascii = keys;
  ascii.recordId = 34737;
  const std::string text = "UTM 17N|";
  ascii.data.assign(text.begin(), text.end());
  layout.vlrs = {keys, ascii};
  ASSERT_TRUE(WriteFile(dir.wfile("g.las"), layout, MakeRecords(1, 28, 3)));
  vv::LasSourceInfo info;
  std::vector<uint8_t> records;
  ASSERT_TRUE(ReadRecords(dir.wfile("g.las"), records, &info));
  EXPECT_EQ("geotiff", info.georeferencingKind);
  EXPECT_EQ(
      "GTModelTypeGeoKey (1024) = 1\nProjectedCSTypeGeoKey (3072) = 32617\n"
      "PCSCitationGeoKey (3073) = UTM 17N\n",
      info.georeferencing);
}

}  // namespace
