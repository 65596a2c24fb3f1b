// Real LAZ and LAS 1.4 files written by other software, read in place when
// the sample folders are present.
#include <filesystem>

#include <gtest/gtest.h>

#include "las_source_support.h"
#include "vorlin/qv_vorlin.h"

namespace {

using namespace readers_test;

const std::string kLaz = VORLIN_SAMPLE_LAZ_DIR;
const std::string kLas = VORLIN_SAMPLE_LAS_DIR;

// Each compressed sample and the uncompressed file holding its records.
const struct {
  const char* laz;
  std::string twin;
} kPairs[] = {
    {"lazperf_1815.laz", kLaz + "/lazperf_1815.las"},
    {"lazperf_extrabytes.laz", kLaz + "/lazperf_extrabytes.las"},
    {"lazperf_no-points-1.3.laz", kLaz + "/lazperf_no-points-1.3.las"},
    {"lazperf_point-color-time.las.laz", kLaz + "/lazperf_point-color-time.las"},
    {"lazperf_point-color.las.laz", kLaz + "/lazperf_point-color.las"},
    {"lazperf_point-time-1.4.las.laz", kLaz + "/lazperf_point-time.las"},
    {"lazperf_point-time.las.laz", kLaz + "/lazperf_point-time.las"},
    {"lazperf_point10-1.0.laz", kLaz + "/lazperf_point10-1.0.las"},
    {"lazperf_point10-1.1.laz", kLaz + "/lazperf_point10-1.1.las"},
    {"lazperf_point10.las.laz", kLaz + "/lazperf_point10.las"},
    {"loadersgl_pdrf6-1.4.laz", kLaz + "/loadersgl_pdrf6-1.4.las"},
    {"loadersgl_pdrf7-v4-1.4.laz", kLaz + "/loadersgl_pdrf7-v4-1.4.las"},
    {"loadersgl_pdrf8-1.4.laz", kLaz + "/loadersgl_pdrf8-1.4.las"},
    {"pdal_simple.laz", kLas + "/pdal_simple.las"},
};

class SourceSamples : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kLaz)) GTEST_SKIP() << "no samples";
  }
  TempDir dir;
};

TEST_F(SourceSamples, EveryLazDecodesToItsTwinsRecords) {
  for (const auto& pair : kPairs) {
    SCOPED_TRACE(pair.laz);
    std::vector<uint8_t> records;
    vv::LasSourceInfo info;
    std::string error;
    ASSERT_TRUE(ReadRecords(Wide(kLaz + "/" + pair.laz), records, &info, &error)) << error;
    EXPECT_NE(vv::LasCompression::None, info.compression);
    EXPECT_EQ(info.announcedCount, info.presentCount);
    EXPECT_FALSE(info.truncated);
    const std::vector<uint8_t> twin = StoredRecords(pair.twin);
    EXPECT_EQ(twin.size(), records.size());
    EXPECT_TRUE(twin == records);
    // Several chunks decoding at once hand over the same records.
    ASSERT_TRUE(ReadRecords(Wide(kLaz + "/" + pair.laz), records, nullptr, &error, 3)) << error;
    EXPECT_TRUE(twin == records);
  }
}

// Compressed again by our writer and decompressed, every sample keeps its
// records; LAS 1.4 files keep their version and count.
TEST_F(SourceSamples, LasToLazToLasKeepsEveryRecord) {
  std::vector<std::string> sources;
  for (const auto& pair : kPairs) sources.push_back(kLaz + "/" + pair.laz);
  for (const char* name : {"pdal_extrabytes_v14.las", "pdal_test1_4.las", "pdal_sample_c.las"})
    sources.push_back(kLas + "/" + name);
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    std::vector<uint8_t> original, packed, unpacked;
    vv::LasSourceInfo info, packedInfo, unpackedInfo;
    if (!std::filesystem::exists(source)) continue;
    ASSERT_TRUE(ReadRecords(Wide(source), original, &info));
    vv::LasWriteOptions options;
    options.compress = true;
    ASSERT_TRUE(WriteFile(dir.wfile("c.laz"), info, original, options));
    ASSERT_TRUE(ReadRecords(dir.wfile("c.laz"), packed, &packedInfo));
    ASSERT_TRUE(WriteFile(dir.wfile("d.las"), packedInfo, packed));
    ASSERT_TRUE(ReadRecords(dir.wfile("d.las"), unpacked, &unpackedInfo));
    EXPECT_TRUE(original == packed);
    EXPECT_TRUE(original == unpacked);
    EXPECT_EQ(info.announcedCount, unpackedInfo.announcedCount);
    EXPECT_EQ(info.versionMinor, unpackedInfo.versionMinor);
    EXPECT_EQ(info.georeferencing, unpackedInfo.georeferencing);
  }
}

// An import through the source reader of every LAS 1.4 and LAZ sample holds
// as many points as the source announces.
TEST_F(SourceSamples, ImportsHoldTheAnnouncedPoints) {
  std::vector<std::string> sources;
  for (const std::string& folder : {kLaz, kLas}) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string path = entry.path().string();
      const std::string extension = entry.path().extension().string();
      if (extension == ".laz") {
        sources.push_back(path);
      } else if (extension == ".las") {
        const std::vector<uint8_t> head = ReadBytes(path);  // LAS 1.4 only
        if (head.size() > 26 && head[25] == 4) sources.push_back(path);
      }
    }
  }
  EXPECT_GE(sources.size(), 15u);
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    vv::SourceReader reader;
    const std::wstring out = dir.wfile("out.qzv");
    const vv::VorlinStatus status =
        vv::QvVorlin::import(Wide(source).c_str(), out.c_str(), &reader, nullptr, vv::AttributeAll);
    ASSERT_TRUE(reader.Open(Wide(source).c_str()));
    const uint64_t announced = reader.info().announcedCount;
    reader.Close();
    if (announced == 0) {
      EXPECT_EQ(vv::ReadFailed, status) << "no points is an error";
      continue;
    }
    ASSERT_EQ(vv::Ok, status);
    vv::QvVorlin* engine = vv::QvVorlin::create();
    ASSERT_TRUE(engine->open(out.c_str(), 0));
    EXPECT_EQ(announced, engine->totalPointCount());
    vv::QvVorlin::destroy(engine);
  }
}

}  // namespace

namespace {

// The coordinate systems real writers stored: GeoTIFF keys with their
// parameters, or WKT (preferred when a file has both).
TEST(SourceSamplesGeoreferencing, RealFilesCarryTheirCoordinateSystem) {
  if (!std::filesystem::is_directory(kLas)) GTEST_SKIP() << "no samples";
  const struct {
    std::string path, kind, contains;
  } files[] = {
      {kLas + "/pdal_epsg_4326.las", "geotiff", "GeographicTypeGeoKey (2048) = 4326\n"},
      {kLas + "/pdal_test1_4.las", "wkt", "PROJCS["},
      {kLas + "/pdal_autzen_trim.las", "wkt", "PROJCS["},
      {kLaz + "/lazperf_point-time-1.4.las.laz", "wkt", "PROJCS["},
      {kLas + "/pdal_simple.las", "", ""},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.path);
    vv::SourceReader reader;
    ASSERT_TRUE(reader.Open(Wide(file.path).c_str())) << reader.lastError();
    EXPECT_EQ(file.kind, reader.info().georeferencingKind);
    EXPECT_NE(std::string::npos, reader.info().georeferencing.find(file.contains))
        << reader.info().georeferencing;
  }
}

}  // namespace
