#include "readers/las_reader.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "synth.h"
#include "test_files.h"

namespace {

using readers_test::TempDir;
using readers_test::Wide;
using Zelvane::Vorlin::LasReader;

struct Point {
  double x = 0, y = 0, z = 0;
  unsigned char red = 0, green = 0, blue = 0, intensity = 0, custom = 0;
  float nx = 1, ny = 1, nz = 1;
};

std::vector<Point> ReadPass(LasReader& reader) {
  std::vector<Point> points;
  Point p;
  bool more = reader.ReadFirstPointEx(p.x, p.y, p.z, p.red, p.green, p.blue, p.intensity, p.nx,
                                      p.ny, p.nz, p.custom);
  while (more) {
    points.push_back(p);
    more = reader.ReadNextPointEx(p.x, p.y, p.z, p.red, p.green, p.blue, p.intensity, p.nx,
                                  p.ny, p.nz, p.custom);
  }
  return points;
}

std::vector<Point> ReadFile(const std::string& path) {
  LasReader reader;
  EXPECT_TRUE(reader.Open(Wide(path).c_str())) << path;
  std::vector<Point> points = ReadPass(reader);
  reader.Close();
  return points;
}

synth::LasPoint MakePoint(double x, double y, double z, uint16_t intensity = 0,
                          uint8_t classification = 0, uint16_t r = 0, uint16_t g = 0,
                          uint16_t b = 0) {
  synth::LasPoint p;
  p.x = x;
  p.y = y;
  p.z = z;
  p.intensity = intensity;
  p.classification = classification;
  p.red = r;
  p.green = g;
  p.blue = b;
  return p;
}

synth::LasOptions Format(int format, int recordLength = 0) {
  synth::LasOptions o;
  o.pointFormat = format;
  o.recordLength = recordLength;
  return o;
}

TEST(LasReader, EveryFormatRoundTripsPositionsAttributesAndStats) {
  TempDir dir;
  synth::LasOptions options;
  options.scale[0] = 0.01;
  options.scale[1] = 0.001;
  options.scale[2] = 0.25;
  options.offset[0] = 500000;
  options.offset[1] = -4000000;
  options.offset[2] = 12.5;
  const std::vector<synth::LasPoint> input = {
      MakePoint(500123.45, -3999876.543, 100.75, 17, 2, 10, 20, 30),
      MakePoint(499000.01, -4000001.001, -3.5, 255, 0x85, 200, 0, 255),
      MakePoint(500000.00, -4000000.000, 12.5, 0, 31, 0, 0, 0)};
  const bool hasColour[] = {false, false, true, true, false, true};

  for (int format = 0; format <= 5; ++format) {
    SCOPED_TRACE(format);
    options.pointFormat = format;
    std::string path = dir.File("f" + std::to_string(format) + ".las");
    ASSERT_TRUE(synth::WriteLas(path, input, options));

    LasReader reader;
    ASSERT_TRUE(reader.Open(Wide(path).c_str()));
    double mn[3], mx[3];
    unsigned long long count = 0;
    unsigned int mask = 99;
    ASSERT_TRUE(reader.FileStats(mn, mx, count, mask));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(hasColour[format] ? 11u : 10u, mask);
    EXPECT_DOUBLE_EQ(499000.01, mn[0]);
    EXPECT_DOUBLE_EQ(500123.45, mx[0]);
    EXPECT_DOUBLE_EQ(-3.5, mn[2]);
    EXPECT_EQ(0.0, reader.UnitsToFeetConversionFactor());

    std::vector<Point> out = ReadPass(reader);
    ASSERT_EQ(3u, out.size());
    for (size_t i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      EXPECT_NEAR(input[i].x, out[i].x, 1e-6);
      EXPECT_NEAR(input[i].y, out[i].y, 1e-6);
      EXPECT_NEAR(input[i].z, out[i].z, 1e-9);
      EXPECT_EQ(input[i].intensity, out[i].intensity);
      EXPECT_EQ(input[i].classification & 31, out[i].custom);
      EXPECT_EQ(hasColour[format] ? input[i].red : 0, out[i].red);
      EXPECT_EQ(hasColour[format] ? input[i].green : 0, out[i].green);
      EXPECT_EQ(hasColour[format] ? input[i].blue : 0, out[i].blue);
      EXPECT_EQ(0.0f, out[i].nx);
      EXPECT_EQ(0.0f, out[i].ny);
      EXPECT_EQ(0.0f, out[i].nz);
    }
    // The plain interface delivers the same points.
    double x, y, z;
    unsigned char r, g, b;
    ASSERT_TRUE(reader.ReadFirstPoint(x, y, z, r, g, b));
    EXPECT_EQ(out[0].x, x);
    ASSERT_TRUE(reader.ReadNextPoint(x, y, z, r, g, b));
    EXPECT_EQ(out[1].z, z);
    EXPECT_EQ(out[1].blue, b);
    reader.Close();
  }
}

TEST(LasReader, SixteenBitValuesSwitchScalingForTheRestOfThePass) {
  TempDir dir;
  std::string path = dir.File("scaled.las");
  ASSERT_TRUE(synth::WriteLas(path,
                              {MakePoint(1, 1, 1, 10, 0, 10, 20, 30),
                               MakePoint(2, 2, 2, 300, 0, 65535, 32768, 0),
                               MakePoint(3, 3, 3, 10, 0, 512, 256, 1024)},
                              Format(2, 26)));
  LasReader reader;
  ASSERT_TRUE(reader.Open(Wide(path).c_str()));
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);  // the second pass starts unscaled again
    std::vector<Point> p = ReadPass(reader);
    ASSERT_EQ(3u, p.size());
    EXPECT_EQ(10, p[0].intensity);
    EXPECT_EQ(1, p[1].intensity);
    EXPECT_EQ(0, p[2].intensity);
    EXPECT_EQ(10, p[0].red);
    EXPECT_EQ(20, p[0].green);
    EXPECT_EQ(30, p[0].blue);
    EXPECT_EQ(255, p[1].red);
    EXPECT_EQ(128, p[1].green);
    EXPECT_EQ(0, p[1].blue);
    EXPECT_EQ(2, p[2].red);
    EXPECT_EQ(1, p[2].green);
    EXPECT_EQ(4, p[2].blue);
  }
  reader.Close();
}

TEST(LasReader, RecordLengthDecidesWhatIsRead) {
  TempDir dir;
  const std::vector<synth::LasPoint> pts = {MakePoint(1, 2, 3, 40, 6, 100, 150, 200)};
  auto write = [&](const std::string& name, const synth::LasOptions& o) {
    std::string path = dir.File(name);
    EXPECT_TRUE(synth::WriteLas(path, pts, o));
    return path;
  };

  LasReader reader;
  EXPECT_FALSE(reader.Open(Wide(write("rl65.las", Format(3, 65))).c_str()));

  std::vector<Point> p = ReadFile(write("rl64.las", Format(3, 64)));
  ASSERT_EQ(1u, p.size());
  EXPECT_EQ(150, p[0].green);

  // Colour lies beyond these records: none is read, though the mask says so.
  for (auto [format, length] : {std::pair{2, 20}, std::pair{2, 25}, std::pair{3, 33}}) {
    SCOPED_TRACE(length);
    std::string path = write("nocolour" + std::to_string(length) + ".las", Format(format, length));
    p = ReadFile(path);
    ASSERT_EQ(1u, p.size());
    EXPECT_DOUBLE_EQ(2.0, p[0].y);
    EXPECT_EQ(40, p[0].intensity);
    EXPECT_EQ(6, p[0].custom);
    EXPECT_EQ(0, p[0].red + p[0].green + p[0].blue);
  }

  // Records too short to hold the point fields deliver nothing (and the
  // reader must not spin on a zero length).
  for (int length : {0, 1, 16, 19}) {
    SCOPED_TRACE(length);
    synth::LasOptions o = Format(0, length);
    std::string path = write("short" + std::to_string(length) + ".las", o);
    if (length == 0) {
      // The writer treats 0 as "standard length"; patch the header instead.
      std::vector<uint8_t> bytes = readers_test::ReadBytes(path);
      bytes[105] = bytes[106] = 0;
      readers_test::WriteBytes(path, bytes);
    }
    ASSERT_TRUE(reader.Open(Wide(path).c_str()));
    EXPECT_TRUE(ReadPass(reader).empty());
    reader.Close();
  }
}

TEST(LasReader, FormatsAboveFiveReportNoAttributesAndNoPoints) {
  TempDir dir;
  std::string path = dir.File("f6.las");
  ASSERT_TRUE(synth::WriteLas(path, {MakePoint(1, 2, 3), MakePoint(4, 5, 6)}, Format(6)));
  LasReader reader;
  ASSERT_TRUE(reader.Open(Wide(path).c_str()));
  double mn[3], mx[3];
  unsigned long long count = 0;
  unsigned int mask = 99;
  ASSERT_TRUE(reader.FileStats(mn, mx, count, mask));
  EXPECT_EQ(0u, mask);
  EXPECT_EQ(2u, count);
  EXPECT_TRUE(ReadPass(reader).empty());
  double x, y, z;
  unsigned char r, g, b;
  EXPECT_FALSE(reader.ReadFirstPoint(x, y, z, r, g, b));
  reader.Close();
}

TEST(LasReader, ReadsToTheEndOfTheFileWhateverTheHeaderSays) {
  TempDir dir;
  std::vector<synth::LasPoint> pts;
  for (int i = 0; i < 2345; ++i) pts.push_back(MakePoint(i, -i, i * 0.5, uint16_t(i % 200)));

  synth::LasOptions fewer = Format(1);
  fewer.headerCountOverride = 2;
  fewer.overrideBounds = true;
  fewer.boundsMin[0] = -7;
  fewer.boundsMax[2] = 9;
  std::string path = dir.File("fewer.las");
  ASSERT_TRUE(synth::WriteLas(path, pts, fewer));
  LasReader reader;
  ASSERT_TRUE(reader.Open(Wide(path).c_str()));
  double mn[3], mx[3];
  unsigned long long count = 0;
  unsigned int mask = 0;
  ASSERT_TRUE(reader.FileStats(mn, mx, count, mask));
  EXPECT_EQ(2u, count);
  EXPECT_EQ(-7.0, mn[0]);
  EXPECT_EQ(9.0, mx[2]);
  std::vector<Point> out = ReadPass(reader);
  ASSERT_EQ(pts.size(), out.size());
  EXPECT_DOUBLE_EQ(2344.0, out.back().x);
  EXPECT_EQ(2344 % 200, out.back().intensity);
  reader.Close();

  synth::LasOptions more = Format(1);
  more.headerCountOverride = 100000;
  path = dir.File("more.las");
  ASSERT_TRUE(synth::WriteLas(path, pts, more));
  EXPECT_EQ(pts.size(), ReadFile(path).size());
}

TEST(LasReader, PartialLastRecordIsNotDelivered) {
  TempDir dir;
  std::vector<synth::LasPoint> pts;
  for (int i = 0; i < 1001; ++i) pts.push_back(MakePoint(i, i, i));
  for (int cut : {1, 27}) {
    SCOPED_TRACE(cut);
    synth::LasOptions o = Format(1);
    o.truncateLastRecordBy = cut;
    std::string path = dir.File("cut" + std::to_string(cut) + ".las");
    ASSERT_TRUE(synth::WriteLas(path, pts, o));
    std::vector<Point> out = ReadFile(path);
    ASSERT_EQ(1000u, out.size());
    EXPECT_DOUBLE_EQ(999.0, out.back().z);
  }
}

TEST(LasReader, OpenFailsCleanlyOnUnreadableSources) {
  TempDir dir;
  std::string empty = dir.File("empty.las");
  readers_test::WriteBytes(empty, {});
  std::string shortHeader = dir.File("short.las");
  readers_test::WriteBytes(shortHeader, std::vector<uint8_t>(226, 0));
  std::string good = dir.File("good.las");
  ASSERT_TRUE(synth::WriteLas(good, {MakePoint(1, 2, 3)}, Format(0)));

  LasReader reader;
  EXPECT_FALSE(reader.Open(nullptr));
  for (const std::string& path :
       {empty, shortHeader, dir.Path(), dir.File("missing.las")}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(reader.Open(Wide(path).c_str()));
    double x, y, z;
    unsigned char r, g, b;
    EXPECT_FALSE(reader.ReadFirstPoint(x, y, z, r, g, b));
    double mn[3], mx[3];
    unsigned long long count;
    unsigned int mask;
    EXPECT_FALSE(reader.FileStats(mn, mx, count, mask));
  }
  // A failed open leaves the reader usable for the next file.
  ASSERT_TRUE(reader.Open(Wide(good).c_str()));
  EXPECT_EQ(1u, ReadPass(reader).size());
  reader.Close();
  EXPECT_TRUE(ReadPass(reader).empty());
}

TEST(LasReader, OpenSourceDeniesWritersUntilClosed) {
  TempDir dir;
  std::string path = dir.File("shared.las");
  ASSERT_TRUE(synth::WriteLas(path, {MakePoint(1, 2, 3)}, Format(0)));
  using namespace vorlin::platform;
  auto tryWrite = [&] {
    return File::Open(Wide(path).c_str(), kAccessWrite, kShareRead | kShareWrite,
                      Disposition::kOpenExisting)
        .IsValid();
  };
  auto tryRead = [&] {
    return File::Open(Wide(path).c_str(), kAccessRead, kShareRead | kShareWrite,
                      Disposition::kOpenExisting)
        .IsValid();
  };
  LasReader reader;
  ASSERT_TRUE(reader.Open(Wide(path).c_str()));
  EXPECT_FALSE(tryWrite());
  EXPECT_TRUE(tryRead());
  reader.Close();
  EXPECT_TRUE(tryWrite());
}

TEST(LasReader, GeneratedSceneRoundTripsThroughManyRefills) {
  TempDir dir;
  synth::SceneOptions scene;
  scene.points = 5000;
  scene.seed = 7;
  synth::LasOptions o = Format(3);
  std::string path = dir.File("scene.las");
  ASSERT_TRUE(synth::WriteSceneLas(path, scene, o));
  std::vector<Point> out = ReadFile(path);
  ASSERT_EQ(scene.points, out.size());

  synth::SceneGenerator gen(scene);
  synth::LasPoint p;
  size_t i = 0;
  bool sawScaledColour = false;
  while (gen.Next(p)) {
    ASSERT_NEAR(p.x, out[i].x, 0.0005 + 1e-9);
    ASSERT_NEAR(p.z, out[i].z, 0.0005 + 1e-9);
    EXPECT_EQ(p.classification, out[i].custom);
    // 16-bit values from the first point on: every point is shifted.
    EXPECT_EQ(p.red >> 8, out[i].red);
    EXPECT_EQ(p.intensity >> 8, out[i].intensity);
    sawScaledColour |= p.red > 255;
    ++i;
  }
  EXPECT_TRUE(sawScaledColour);
}

}  // namespace
