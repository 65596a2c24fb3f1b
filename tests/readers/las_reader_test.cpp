#include "readers/las_reader.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "synth/synth.h"
#include "support/temp_dir.h"

namespace {

using vorlin_test::TempDir;
using vorlin_test::Wide;
using Zelvane::Vorlin::LasReader;

struct Point {
  double x = 0, y = 0, z = 0;
  unsigned char red = 0, green = 0, blue = 0, intensity = 0, custom = 0;
  float nx = 1, ny = 1, nz = 1;
};

std::vector<Point> ReadPass(LasReader& reader) {
  std::vector<Point> points;
  Point p;
  for (bool more = reader.ReadFirstPointEx(p.x, p.y, p.z, p.red, p.green, p.blue, p.intensity, p.nx, p.ny, p.nz,
                                           p.custom);
       more; more = reader.ReadNextPointEx(p.x, p.y, p.z, p.red, p.green, p.blue, p.intensity, p.nx, p.ny, p.nz,
                                           p.custom))
    points.push_back(p);
  return points;
}

synth::LasPoint Make(double x, double y, double z, uint16_t intensity = 0, uint8_t cls = 0, uint16_t r = 0,
                     uint16_t g = 0, uint16_t b = 0) {
  synth::LasPoint p;
  p.x = x, p.y = y, p.z = z, p.intensity = intensity, p.classification = cls;
  p.red = r, p.green = g, p.blue = b;
  return p;
}

synth::LasOptions Format(int format, int recordLength = 0) {
  synth::LasOptions o;
  o.pointFormat = format;
  o.recordLength = recordLength;
  return o;
}

class LasReaderTest : public ::testing::Test {
 protected:
  // Writes the points, opens them and checks the statistics (mask -1: any).
  bool Open(const std::vector<synth::LasPoint>& points, const synth::LasOptions& options, unsigned long long count = 0,
            int mask = -1) {
    EXPECT_TRUE(synth::WriteLas(path, points, options));
    if (!reader.Open(Wide(path).c_str())) return false;
    double mn[3], mx[3];
    unsigned long long gotCount = 0;
    unsigned int gotMask = 99;
    EXPECT_TRUE(reader.FileStats(mn, mx, gotCount, gotMask));
    EXPECT_TRUE(mask < 0 || (gotCount == count && int(gotMask) == mask)) << gotCount << " " << gotMask;
    return true;
  }
  std::vector<Point> RoundTrip(const std::vector<synth::LasPoint>& points, const synth::LasOptions& options) {
    EXPECT_TRUE(Open(points, options));
    std::vector<Point> out = ReadPass(reader);
    reader.Close();
    return out;
  }

  TempDir dir;
  std::string path = dir.file("t.las");
  LasReader reader;
};

TEST_F(LasReaderTest, EveryFormatRoundTripsPositionsAttributesAndStats) {
  synth::LasOptions options;
  options.scale[0] = 0.01, options.scale[1] = 0.001, options.scale[2] = 0.25;
  options.offset[0] = 500000, options.offset[1] = -4000000, options.offset[2] = 12.5;
  const std::vector<synth::LasPoint> in = {Make(500123.45, -3999876.543, 100.75, 17, 2, 10, 20, 30),
                                           Make(499000.01, -4000001.001, -3.5, 255, 0x85, 200, 0, 255)};
  for (int format = 0; format <= 5; ++format) {
    SCOPED_TRACE(format);
    const bool colour = format == 2 || format == 3 || format == 5;
    options.pointFormat = format;
    ASSERT_TRUE(Open(in, options, 2, colour ? 11 : 10));
    std::vector<Point> out = ReadPass(reader);
    ASSERT_EQ(2u, out.size());
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_NEAR(in[i].x, out[i].x, 1e-6);
      EXPECT_NEAR(in[i].y, out[i].y, 1e-6);
      EXPECT_EQ(in[i].z, out[i].z);
      EXPECT_EQ(in[i].intensity, out[i].intensity);
      EXPECT_EQ(in[i].classification & 31, out[i].custom);  // 0x85 -> 5
      EXPECT_EQ(colour ? in[i].red : 0, out[i].red);
      EXPECT_EQ(colour ? in[i].blue : 0, out[i].blue);
      EXPECT_EQ(0.0f, out[i].nx + out[i].ny + out[i].nz);
    }
    double x, y, z;
    unsigned char r, g, b;
    ASSERT_TRUE(reader.ReadFirstPoint(x, y, z, r, g, b) && reader.ReadNextPoint(x, y, z, r, g, b));
    EXPECT_TRUE(z == out[1].z && b == out[1].blue);
    EXPECT_FALSE(reader.ReadNextPoint(x, y, z, r, g, b));
    reader.Close();
  }
}

TEST_F(LasReaderTest, SixteenBitValuesSwitchScalingForTheRestOfEachPass) {
  ASSERT_TRUE(Open({Make(1, 1, 1, 10, 0, 10, 20, 30), Make(2, 2, 2, 300, 0, 65535, 32768, 0),
                    Make(3, 3, 3, 10, 0, 512, 256, 1024)},
                   Format(2, 26)));
  for (int pass = 0; pass < 2; ++pass) {  // the second pass starts unscaled again
    std::vector<Point> p = ReadPass(reader);
    ASSERT_EQ(3u, p.size());
    EXPECT_EQ((std::vector<int>{10, 1, 0}), (std::vector<int>{p[0].intensity, p[1].intensity, p[2].intensity}));
    EXPECT_EQ((std::vector<int>{30, 255, 128, 0, 4}),
              (std::vector<int>{p[0].blue, p[1].red, p[1].green, p[1].blue, p[2].blue}));
  }
}

TEST_F(LasReaderTest, RecordLengthAndFormatDecideWhatIsRead) {
  const std::vector<synth::LasPoint> one = {Make(1, 2, 3, 40, 6, 100, 150, 200)};
  EXPECT_EQ(150, RoundTrip(one, Format(3, 64)).at(0).green);
  // Colour beyond the record is not read, though the mask claims colour.
  for (auto [format, length] : {std::pair{2, 20}, std::pair{2, 25}, std::pair{3, 33}}) {
    std::vector<Point> p = RoundTrip(one, Format(format, length));
    ASSERT_EQ(1u, p.size());
    EXPECT_TRUE(p[0].intensity == 40 && p[0].red + p[0].green + p[0].blue == 0);
  }
  EXPECT_FALSE(Open(one, Format(3, 65)));
  // 16 bytes hold every field read but colour.
  for (int length : {16, 19}) {
    std::vector<Point> p = RoundTrip(one, Format(0, length));
    ASSERT_EQ(1u, p.size()) << length;
    EXPECT_EQ(40, p[0].intensity);
  }
  // Too short for the point fields (0 must not spin), or a format above 5:
  // nothing is delivered.
  for (auto [format, length] : {std::pair{0, 0}, std::pair{0, 15}, std::pair{6, 0}}) {
    SCOPED_TRACE(length);
    ASSERT_TRUE(synth::WriteLas(path, one, Format(format, length)));
    if (length == 0 && format == 0) {  // the writer takes 0 as "standard"
      std::vector<uint8_t> bytes = vorlin_test::ReadBytes(path);
      bytes[105] = bytes[106] = 0;
      vorlin_test::WriteBytes(path, bytes);
    }
    ASSERT_TRUE(reader.Open(Wide(path).c_str()));
    EXPECT_TRUE(ReadPass(reader).empty());
    reader.Close();
  }
}

// Whole records are read to the end whatever the header says; a cut last
// record is dropped, however much of it is missing.
TEST_F(LasReaderTest, ReadsWholeRecordsToTheEnd) {
  std::vector<synth::LasPoint> pts;
  for (int i = 0; i < 2345; ++i) pts.push_back(Make(i, -i, i * 0.5, uint16_t(i % 200)));
  synth::LasOptions o = Format(1);
  for (int64_t headerCount : {int64_t(2), int64_t(100000), int64_t(UINT32_MAX)}) {
    o.headerCountOverride = headerCount;
    // The count the grid is sized from is held to what the file can hold.
    ASSERT_TRUE(Open(pts, o, std::min<unsigned long long>(headerCount, pts.size())));
    reader.Close();
    std::vector<Point> out = RoundTrip(pts, o);
    ASSERT_EQ(pts.size(), out.size());
    EXPECT_TRUE(out.back().x == 2344.0 && out.back().intensity == 2344 % 200);
  }
  for (int cut : {1, 27}) {
    o.truncateLastRecordBy = cut;
    EXPECT_EQ(pts.size() - 1, RoundTrip(pts, o).size());
  }
}

TEST_F(LasReaderTest, OpenFailsCleanlyAndDeniesWritersWhileOpen) {
  vorlin_test::WriteBytes(dir.file("short.las"), std::vector<uint8_t>(226, 0));
  vorlin_test::WriteBytes(dir.file("empty.las"), {});
  EXPECT_FALSE(reader.Open(nullptr));
  for (const char* name : {"empty.las", "short.las", "", "missing.las"}) {
    EXPECT_FALSE(reader.Open(Wide(dir.file(name)).c_str())) << name;
    EXPECT_TRUE(ReadPass(reader).empty());
  }
  using namespace vorlin::platform;
  auto canOpen = [&](unsigned access) {
    return File::Open(Wide(path).c_str(), access, kShareRead | kShareWrite, Disposition::kOpenExisting).IsValid();
  };
  ASSERT_TRUE(Open({Make(1, 2, 3)}, Format(0)));
  EXPECT_TRUE(!canOpen(kAccessWrite) && canOpen(kAccessRead));
  EXPECT_EQ(1u, ReadPass(reader).size());
  reader.Close();
  EXPECT_TRUE(canOpen(kAccessWrite));
  EXPECT_TRUE(ReadPass(reader).empty());
}

}  // namespace
