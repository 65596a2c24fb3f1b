// The synthetic data must itself be right for the other tests to mean
// anything: header fields, record layout and the scene's determinism.

#include <gtest/gtest.h>

#include "format/little_endian.h"
#include "synth/synth.h"
#include "test_files.h"

namespace {

using namespace vorlin::format;
using readers_test::TempDir;

TEST(Synth, LasHeaderDescribesTheRecords) {
  TempDir dir;
  const int standard[] = {20, 28, 26, 34, 57, 63};
  for (int format = 0; format <= 5; ++format) {
    SCOPED_TRACE(format);
    synth::LasOptions o;
    o.pointFormat = format;
    o.offset[2] = 100;
    synth::LasPoint a, b;
    a.x = -1.25;
    a.z = 100.5;
    b.y = 7.0;
    b.z = 99.0;
    std::string path = dir.File("h.las");
    ASSERT_TRUE(synth::WriteLas(path, {a, b}, o));
    std::vector<uint8_t> f = readers_test::ReadBytes(path);
    ASSERT_EQ(227u + 2 * standard[format], f.size());
    EXPECT_EQ(0, memcmp(f.data(), "LASF", 4));
    EXPECT_EQ(1, f[24]);
    EXPECT_EQ(2, f[25]);
    EXPECT_EQ(227, GetU16(&f[94]));
    EXPECT_EQ(227u, GetU32(&f[96]));
    EXPECT_EQ(0u, GetU32(&f[100]));
    EXPECT_EQ(format, f[104]);
    EXPECT_EQ(standard[format], GetU16(&f[105]));
    EXPECT_EQ(2u, GetU32(&f[107]));
    EXPECT_EQ(0.001, GetF64(&f[131]));
    EXPECT_EQ(100.0, GetF64(&f[171]));
    EXPECT_EQ(0.0, GetF64(&f[179]));     // max x
    EXPECT_EQ(-1.25, GetF64(&f[187]));   // min x
    EXPECT_EQ(7.0, GetF64(&f[195]));     // max y
    EXPECT_EQ(100.5, GetF64(&f[211]));   // max z
    EXPECT_EQ(99.0, GetF64(&f[219]));    // min z
    EXPECT_EQ(-1250, GetI32(&f[227]));
    EXPECT_EQ(500, GetI32(&f[227 + 8]));
  }
}

TEST(Synth, EightBitColourOptionReducesTheGivenValues) {
  TempDir dir;
  synth::LasOptions o;
  o.pointFormat = 2;
  o.eightBitColor = true;
  synth::LasPoint p;
  p.red = 0xFF00;
  p.green = 0x1234;
  p.blue = 0x00FF;
  std::string path = dir.File("c.las");
  ASSERT_TRUE(synth::WriteLas(path, {p}, o));
  std::vector<uint8_t> f = readers_test::ReadBytes(path);
  ASSERT_EQ(227u + 26, f.size());
  EXPECT_EQ(0xFF, GetU16(&f[227 + 20]));
  EXPECT_EQ(0x12, GetU16(&f[227 + 22]));
  EXPECT_EQ(0x00, GetU16(&f[227 + 24]));
}

TEST(Synth, SceneIsDeterministicAndPlausible) {
  synth::SceneOptions options;
  options.points = 20000;
  options.seed = 3;
  synth::SceneGenerator a(options), b(options);
  options.seed = 4;
  synth::SceneGenerator c(options);
  synth::LasPoint p, q, r;
  int classes[32] = {};
  int differs = 0, wideColour = 0;
  double zMin = 1e30, zMax = -1e30;
  while (a.Next(p)) {
    ASSERT_TRUE(b.Next(q));
    ASSERT_TRUE(c.Next(r));
    ASSERT_EQ(p.x, q.x);
    ASSERT_EQ(p.z, q.z);
    ASSERT_EQ(p.red, q.red);
    ASSERT_EQ(p.intensity, q.intensity);
    differs += p.x != r.x;
    ASSERT_LT(p.classification, 32);
    ++classes[p.classification];
    wideColour += p.red > 255 || p.green > 255 || p.blue > 255;
    EXPECT_GE(p.x, -10.0);
    EXPECT_LE(p.x, 210.0);
    zMin = std::min(zMin, p.z);
    zMax = std::max(zMax, p.z);
  }
  EXPECT_EQ(20000u, a.produced());
  EXPECT_FALSE(b.Next(q) && false);
  EXPECT_GT(differs, 19000);
  EXPECT_EQ(20000, classes[2] + classes[5] + classes[6]);
  EXPECT_GT(classes[2], 4000);
  EXPECT_GT(classes[5], 1000);
  EXPECT_GT(classes[6], 1000);
  EXPECT_GT(wideColour, 19000);
  EXPECT_GT(zMax - zMin, 10.0);  // buildings and trees rise above the ground
  EXPECT_LT(zMax - zMin, 60.0);
}

}  // namespace
