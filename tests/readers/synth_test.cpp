// The synthetic data must itself be right for the other tests to mean
// anything: header fields, record layout and the scene's determinism.

#include <gtest/gtest.h>

#include "format/little_endian.h"
#include "synth/synth.h"
#include "test_files.h"

namespace {

using namespace vorlin::format;

// Other software must accept the files: signature, version 1.2, header size
// and data offset 227, no variable-length records, standard record lengths.
TEST(Synth, LasHeaderIsWellFormed) {
  readers_test::TempDir dir;
  const int standard[] = {20, 28, 26, 34, 57, 63};
  for (int format = 0; format <= 5; ++format) {
    synth::LasOptions o;
    o.pointFormat = format;
    std::string path = dir.file("h.las");
    ASSERT_TRUE(synth::WriteLas(path, {synth::LasPoint(), synth::LasPoint()}, o));
    std::vector<uint8_t> f = readers_test::ReadBytes(path);
    ASSERT_EQ(227u + 2 * standard[format], f.size()) << format;
    EXPECT_EQ(0, memcmp(f.data(), "LASF", 4));
    EXPECT_TRUE(GetU16(&f[24]) == 0x0201 && GetU16(&f[94]) == 227 && GetU32(&f[96]) == 227 &&
                GetU32(&f[100]) == 0 && GetU16(&f[105]) == standard[format]);
  }
}

TEST(Synth, SceneIsDeterministicAndPlausible) {
  synth::SceneOptions options;
  options.points = 20000;
  options.seed = 3;
  synth::SceneGenerator a(options), b(options);
  options.seed = 4;
  synth::SceneGenerator c(options);
  synth::LasPoint p, q, r;
  int classes[256] = {}, differs = 0, wideColour = 0;
  double zMin = 1e30, zMax = -1e30;
  while (a.Next(p)) {
    ASSERT_TRUE(b.Next(q));
    ASSERT_TRUE(c.Next(r));
    ASSERT_TRUE(p.x == q.x && p.z == q.z && p.red == q.red && p.intensity == q.intensity);
    differs += p.x != r.x;
    ++classes[p.classification];
    wideColour += p.red > 255 || p.green > 255 || p.blue > 255;
    ASSERT_TRUE(p.x >= 0 && p.x <= 200 && p.y >= 0 && p.y <= 200) << p.x << " " << p.y;
    zMin = std::min(zMin, p.z);
    zMax = std::max(zMax, p.z);
  }
  EXPECT_FALSE(b.Next(q));
  EXPECT_EQ(20000u, a.produced());
  EXPECT_GT(differs, 19000);
  EXPECT_EQ(20000, classes[2] + classes[5] + classes[6]);
  EXPECT_TRUE(classes[2] > 4000 && classes[5] > 1000 && classes[6] > 1000);
  EXPECT_GT(wideColour, 19000);
  EXPECT_TRUE(zMax - zMin > 10.0 && zMax - zMin < 60.0);  // buildings and trees rise
}

}  // namespace
