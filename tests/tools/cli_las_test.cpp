// LAS and LAZ through the vorlin command: a convert round trip, import of
// and info on a compressed file, a damaged LAZ source, and a query exported
// as LAZ. Each point format's coding is the readers' tests' business;
// convert copies records without looking at their format.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

#include "cli_runner.h"
#include "vorlin/las_source.h"

namespace vorlin_test {
namespace {

namespace fs = std::filesystem;
using Zelvane::Vorlin::SourceReader;

// 40,000 points: two chunks, several of convert's batches, and more than
// the LAS writer holds before it writes.
TEST(CliLas, ConvertRoundTripsInfoDescribesAndDamageFailsNamed) {
  TempDir dir;
  ASSERT_TRUE(synth::WriteLas(dir.file("s.las"), ExactScene(40000, 9), ExactLasOptions()));
  ASSERT_EQ(RunCli({"convert", "--chunk-size", "25000", dir.file("s.las"), dir.file("s.laz")}).exitCode, 0);
  ASSERT_EQ(RunCli({"convert", dir.file("s.laz"), dir.file("back.las")}).exitCode, 0);
  EXPECT_TRUE(ReadText(dir.file("back.las")) == ReadText(dir.file("s.las")));
  ASSERT_EQ(RunCli({"import", "--quiet", dir.file("laz.qzv"), dir.file("s.laz")}).exitCode, 0);
  EXPECT_TRUE(Contains(RunCli({"info", dir.file("laz.qzv")}).out, "points:          40,000"));
  CliResult info = RunCli({"info", "--json", dir.file("s.laz")});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  for (const char* field : {"\"point_format\": 3,", "\"record_length\": 34,", "\"announced_points\": 40000,",
                            "\"present_points\": 40000,", "\"compressor\": 2, \"chunk_size\": 25000",
                            "\"point10 v2\", \"gpstime11 v2\", \"rgb12 v2\"", "\"classifications\": {"}) {
    EXPECT_TRUE(Contains(info.out, field)) << field << "\n" << info.out;
  }

  std::string bytes = ReadText(dir.file("s.laz"));
  for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 4000; ++i) bytes[i] = char(bytes[i] * 7 + 13);
  std::ofstream(dir.file("bad.laz"), std::ios::binary) << bytes;
  CliResult r = RunCli({"import", "--quiet", dir.file("o.qzv"), dir.file("s.las"), dir.file("bad.laz")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "(ReadFailed)") && Contains(r.err, "is damaged") &&
              Contains(r.err, "the source that fails is '" + dir.file("bad.laz") + "'"))
      << r.err;
  r = RunCli({"convert", dir.file("bad.laz"), dir.file("bad.las")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "is damaged")) << r.err;
  EXPECT_FALSE(fs::exists(dir.file("o.qzv")));
  EXPECT_FALSE(fs::exists(dir.file("bad.las")) || fs::exists(dir.file("bad.las.partial")));
}

TEST(CliLas, QueryAsLazReadsBackThroughTheSourceReader) {
  TempDir dir;
  const SharedScene& scene = Scene();
  ASSERT_EQ(scene.import.exitCode, 0);
  CliResult r = RunCli({"query", scene.qzv, "--format", "laz", "--out", dir.file("q.laz"), "--block", "4096"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  SourceReader reader;
  ASSERT_TRUE(reader.Open(fs::path(dir.file("q.laz")).wstring().c_str())) << reader.lastError();
  EXPECT_EQ(reader.info().pointFormat, 7);
  EXPECT_EQ(reader.info().compression, Zelvane::Vorlin::LasCompression::LayeredChunked);
  ASSERT_EQ(reader.info().presentCount, scene.points.size());
  std::vector<std::array<double, 3>> got, want;
  double x, y, z;
  unsigned char red, green, blue, intensity, custom;
  float nx, ny, nz;
  for (bool ok = reader.ReadFirstPointEx(x, y, z, red, green, blue, intensity, nx, ny, nz, custom); ok;
       ok = reader.ReadNextPointEx(x, y, z, red, green, blue, intensity, nx, ny, nz, custom)) {
    got.push_back({x, y, z});
  }
  for (const synth::LasPoint& p : scene.points) want.push_back({p.x, p.y, p.z});
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    for (int a = 0; a < 3; ++a) ASSERT_NEAR(got[i][a], want[i][a], 1e-6) << i;
  }
  // The CLI refuses a LAS export without a file of the right name.
  EXPECT_EQ(RunCli({"query", scene.qzv, "--format", "las"}).exitCode, 2);
  EXPECT_EQ(RunCli({"query", scene.qzv, "--format", "las", "--out", dir.file("q.laz")}).exitCode, 2);
}

}  // namespace
}  // namespace vorlin_test
