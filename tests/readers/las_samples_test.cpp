// Real LAS files written by other software, read in place when the sample
// folder is present.

#include <filesystem>

#include <gtest/gtest.h>

#include "readers/las_reader.h"
#include "support/temp_dir.h"

namespace {

struct Sample {
  double x, y, z;
  unsigned char red, green, blue, intensity, custom;
};

// Opens a sample, reads one pass and reports the statistics.
bool ReadSample(const char* name, std::vector<Sample>& points, unsigned int& mask,
                unsigned long long& headerCount) {
  Zelvane::Vorlin::LasReader reader;
  if (!reader.Open(vorlin_test::Wide(std::string(VORLIN_SAMPLE_LAS_DIR) + "/" + name).c_str()))
    return false;
  double mn[3], mx[3];
  EXPECT_TRUE(reader.FileStats(mn, mx, headerCount, mask));
  points.clear();
  Sample s;
  float n[3];
  bool more = reader.ReadFirstPointEx(s.x, s.y, s.z, s.red, s.green, s.blue, s.intensity, n[0],
                                      n[1], n[2], s.custom);
  for (; more; more = reader.ReadNextPointEx(s.x, s.y, s.z, s.red, s.green, s.blue, s.intensity,
                                              n[0], n[1], n[2], s.custom))
    points.push_back(s);
  reader.Close();
  return true;
}

class LasSamples : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(VORLIN_SAMPLE_LAS_DIR)) GTEST_SKIP() << "no samples";
  }
  std::vector<Sample> p;
  unsigned int mask = 0;
  unsigned long long count = 0;
};

TEST_F(LasSamples, RecordCountsAndMasks) {
  const struct {
    const char* name;
    size_t records;
    unsigned long long headerCount;  // held to what the file can hold
    unsigned int mask;
  } files[] = {
      {"lazperf_point-color.las", 1065, 1065, 11},   {"liblas_1.0_0.las", 1, 1, 10},
      {"liblas_TO_core_last_clip.las", 8, 8, 10},     {"loadersgl_pdrf4-1.3.las", 1024, 1024, 10},
      {"pdal_1.2-with-color-clipped.las", 1064, 1064, 11},  // header says 1065
      {"pdal_autzen_trim.las", 110000, 110000, 11},  {"pdal_epsg_4326.las", 5380, 5380, 10},
      {"pdal_extrabytes_v14.las", 1065, 1065, 11},   {"pdal_mvk-thin.las", 6280, 6280, 10},
      {"pdal_no-points.las", 0, 0, 11},              {"pdal_permutations_1.2_2.las", 1, 1, 11},
      {"pdal_sample_c.las", 14408, 14408, 11},       {"pdal_simple.las", 1065, 1065, 11},
      {"pdal_test1_4.las", 0, 1000, 0},
  };
  for (const auto& e : files) {
    SCOPED_TRACE(e.name);
    ASSERT_TRUE(ReadSample(e.name, p, mask, count));
    EXPECT_EQ(e.records, p.size());
    EXPECT_EQ(e.headerCount, count);
    EXPECT_EQ(e.mask, mask);
  }
  EXPECT_FALSE(ReadSample("loadersgl_pdrf5-1.3.las", p, mask, count));  // record length 67
}

TEST_F(LasSamples, KnownPointValues) {
  ASSERT_TRUE(ReadSample("pdal_simple.las", p, mask, count));
  const struct {
    size_t index;
    double x, y, z;
  } known[] = {{0, 637012.24, 849028.31, 431.66},
               {1, 636896.33, 849087.70, 446.39},
               {102, 636554.63, 850040.03, 499.11}};
  for (const auto& k : known) {
    EXPECT_NEAR(k.x, p.at(k.index).x, 0.005) << k.index;
    EXPECT_NEAR(k.y, p[k.index].y, 0.005) << k.index;
    EXPECT_NEAR(k.z, p[k.index].z, 0.005) << k.index;
  }
  EXPECT_TRUE(p[0].intensity == 143 && p[0].custom == 1 && p[1].intensity == 18);
  EXPECT_TRUE(p[0].red == 68 && p[0].green == 77 && p[0].blue == 88);

  // Intensities 670, 350, 150 at points 0, 1, 3: scaled from the first.
  ASSERT_TRUE(ReadSample("liblas_TO_core_last_clip.las", p, mask, count));
  EXPECT_NEAR(630346.83, p.at(3).x, 0.005);
  EXPECT_TRUE(p[0].intensity == 2 && p[1].intensity == 1 && p[3].intensity == 0);

  // 255 exactly is still an 8-bit value: nothing is shifted.
  ASSERT_TRUE(ReadSample("pdal_mvk-thin.las", p, mask, count));
  unsigned char top = 0;
  for (const Sample& s : p) top = std::max(top, s.intensity);
  EXPECT_EQ(255, top);
}

}  // namespace
