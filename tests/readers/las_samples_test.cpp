// Real LAS files written by other software, read in place when the sample
// folder is present.

#include <filesystem>

#include <gtest/gtest.h>

#include "readers/las_reader.h"
#include "test_files.h"

namespace {

using readers_test::Wide;
using Zelvane::Vorlin::LasReader;

struct Sample {
  double x, y, z;
  unsigned char red, green, blue, intensity, custom;
};

class LasSamples : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(VORLIN_SAMPLE_LAS_DIR))
      GTEST_SKIP() << "no sample folder at " << VORLIN_SAMPLE_LAS_DIR;
  }
  static std::wstring Path(const char* name) {
    return Wide(std::string(VORLIN_SAMPLE_LAS_DIR) + "/" + name);
  }
  // Opens the file and reads one whole pass.
  static bool ReadAll(const char* name, std::vector<Sample>& points, unsigned int* mask = nullptr,
                      unsigned long long* headerCount = nullptr) {
    LasReader reader;
    if (!reader.Open(Path(name).c_str())) return false;
    double mn[3], mx[3];
    unsigned long long count = 0;
    unsigned int attributes = 0;
    EXPECT_TRUE(reader.FileStats(mn, mx, count, attributes));
    if (mask) *mask = attributes;
    if (headerCount) *headerCount = count;
    points.clear();
    Sample s;
    float nx, ny, nz;
    bool more = reader.ReadFirstPointEx(s.x, s.y, s.z, s.red, s.green, s.blue, s.intensity, nx,
                                        ny, nz, s.custom);
    while (more) {
      points.push_back(s);
      more = reader.ReadNextPointEx(s.x, s.y, s.z, s.red, s.green, s.blue, s.intensity, nx, ny,
                                    nz, s.custom);
    }
    reader.Close();
    return true;
  }
};

TEST_F(LasSamples, RecordCountsAndMasks) {
  struct Expected {
    const char* name;
    size_t records;
    unsigned long long headerCount;
    unsigned int mask;
  };
  const Expected files[] = {
      {"lazperf_point-color.las", 1065, 1065, 11},
      {"liblas_1.0_0.las", 1, 1, 10},
      {"liblas_TO_core_last_clip.las", 8, 8, 10},
      {"loadersgl_pdrf4-1.3.las", 1024, 1024, 10},
      {"pdal_1.2-with-color-clipped.las", 1064, 1065, 11},
      {"pdal_autzen_trim.las", 110000, 110000, 11},
      {"pdal_epsg_4326.las", 5380, 5380, 10},
      {"pdal_extrabytes_v14.las", 1065, 1065, 11},
      {"pdal_mvk-thin.las", 6280, 6280, 10},
      {"pdal_no-points.las", 0, 0, 11},
      {"pdal_permutations_1.2_2.las", 1, 1, 11},
      {"pdal_sample_c.las", 14408, 14408, 11},
      {"pdal_simple.las", 1065, 1065, 11},
      {"pdal_test1_4.las", 0, 1000, 0},
  };
  std::vector<Sample> points;
  for (const Expected& e : files) {
    SCOPED_TRACE(e.name);
    unsigned int mask = 99;
    unsigned long long count = 0;
    ASSERT_TRUE(ReadAll(e.name, points, &mask, &count));
    EXPECT_EQ(e.records, points.size());
    EXPECT_EQ(e.headerCount, count);
    EXPECT_EQ(e.mask, mask);
  }
  LasReader reader;
  EXPECT_FALSE(reader.Open(Path("loadersgl_pdrf5-1.3.las").c_str()));  // record length 67
}

TEST_F(LasSamples, KnownPointValues) {
  std::vector<Sample> p;
  ASSERT_TRUE(ReadAll("pdal_simple.las", p));
  ASSERT_EQ(1065u, p.size());
  const double expected[6][3] = {{637012.24, 849028.31, 431.66}, {636896.33, 849087.70, 446.39},
                                 {636784.74, 849106.66, 426.71}, {636661.06, 849854.13, 424.90},
                                 {636568.18, 850179.49, 441.80}, {636554.63, 850040.03, 499.11}};
  const size_t index[6] = {0, 1, 2, 100, 101, 102};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(index[i]);
    EXPECT_NEAR(expected[i][0], p[index[i]].x, 0.005);
    EXPECT_NEAR(expected[i][1], p[index[i]].y, 0.005);
    EXPECT_NEAR(expected[i][2], p[index[i]].z, 0.005);
  }
  EXPECT_EQ(143, p[0].intensity);
  EXPECT_EQ(1, p[0].custom);
  EXPECT_EQ(68, p[0].red);
  EXPECT_EQ(77, p[0].green);
  EXPECT_EQ(88, p[0].blue);
  EXPECT_EQ(18, p[1].intensity);

  // Intensities 670, 350, 150: scaling starts at the first point.
  ASSERT_TRUE(ReadAll("liblas_TO_core_last_clip.las", p));
  ASSERT_EQ(8u, p.size());
  EXPECT_NEAR(630262.30, p[0].x, 0.005);
  EXPECT_NEAR(51.53, p[0].z, 0.005);
  EXPECT_NEAR(630346.83, p[3].x, 0.005);
  EXPECT_EQ(2, p[0].intensity);
  EXPECT_EQ(1, p[1].intensity);
  EXPECT_EQ(0, p[3].intensity);

  ASSERT_TRUE(ReadAll("pdal_permutations_1.2_2.las", p));
  ASSERT_EQ(1u, p.size());
  EXPECT_EQ(255, p[0].red);
  EXPECT_EQ(12, p[0].green);
  EXPECT_EQ(234, p[0].blue);

  // 255 exactly is still an 8-bit value: nothing is shifted.
  ASSERT_TRUE(ReadAll("pdal_mvk-thin.las", p));
  unsigned char maxIntensity = 0;
  for (const Sample& s : p) maxIntensity = std::max(maxIntensity, s.intensity);
  EXPECT_EQ(255, maxIntensity);
}

}  // namespace
