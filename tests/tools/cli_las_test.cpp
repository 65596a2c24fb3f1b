// LAS and LAZ through the vorlin command: convert round trips, import of
// real files, and info on a compressed file.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

#include "cli_runner.h"
#include "vorlin/las_file_writer.h"
#include "vorlin/las_source.h"

namespace vorlin_test {
namespace {

namespace fs = std::filesystem;
using Zelvane::Vorlin::SourceReader;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Every uncompressed record of a file, or empty when it does not open.
std::string Records(const std::string& path, uint64_t* count = nullptr) {
  SourceReader reader;
  if (!reader.Open(fs::path(path).wstring().c_str()) || !reader.RewindRecords()) return std::string();
  std::string all;
  std::string record(reader.info().recordLength, '\0');
  while (reader.NextRecord(reinterpret_cast<uint8_t*>(&record[0]))) all += record;
  EXPECT_FALSE(reader.failed()) << path << ": " << reader.lastError();
  if (count) *count = reader.info().presentCount;
  return all;
}

uint64_t QzvPoints(const std::string& qzv) {
  CliResult r = RunCli({"info", "--json", qzv});
  size_t at = r.out.find("\"points\": ");
  return at == std::string::npos ? 0 : std::stoull(r.out.substr(at + 10));
}

void ExpectRoundTrip(const std::string& source, const TempDir& dir) {
  const std::string laz = dir.file("rt.laz"), las = dir.file("rt.las");
  ASSERT_EQ(RunCli({"convert", source, laz}).exitCode, 0) << source;
  ASSERT_EQ(RunCli({"convert", laz, las}).exitCode, 0) << source;
  const std::string original = Records(source);
  EXPECT_TRUE(Records(laz) == original) << source;
  EXPECT_TRUE(Records(las) == original) << source;
  fs::remove(laz);
  fs::remove(las);
}

TEST(CliLas, ConvertRoundTripsGeneratedFormats) {
  TempDir dir;
  for (int format : {0, 1, 2, 3}) {
    synth::LasOptions options = ExactLasOptions();
    options.pointFormat = format;
    const std::string source = dir.file("f" + std::to_string(format) + ".las");
    ASSERT_TRUE(synth::WriteLas(source, ExactScene(3000, 11 + format), options));
    ExpectRoundTrip(source, dir);
    // A LAS made from the LAZ equals the source to the byte.
    ASSERT_EQ(RunCli({"convert", source, dir.file("x.laz")}).exitCode, 0);
    ASSERT_EQ(RunCli({"convert", dir.file("x.laz"), dir.file("x.las")}).exitCode, 0);
    EXPECT_TRUE(ReadFileText(dir.file("x.las")) == ReadFileText(source)) << format;
    fs::remove(dir.file("x.laz"));
    fs::remove(dir.file("x.las"));
  }
}

TEST(CliLas, ConvertRoundTripsLas14Formats) {
  TempDir dir;
  uint32_t seed = 12345;
  for (int format : {6, 7, 8}) {
    Zelvane::Vorlin::LasSourceInfo layout;
    layout.versionMinor = 4;
    layout.pointFormat = format;
    layout.recordLength = uint16_t(format == 6 ? 30 : format == 7 ? 36 : 38);
    std::vector<uint8_t> records(size_t(layout.recordLength) * 2000);
    for (size_t i = 0; i < records.size(); ++i) {
      seed = seed * 1103515245u + 12345u;
      // Slowly varying bytes compress like real data; a few random ones keep every path busy.
      records[i] = uint8_t((i % layout.recordLength) < 12 ? (i / layout.recordLength) >> (i % 4) : seed >> 24);
    }
    const std::string source = dir.file("f" + std::to_string(format) + ".las");
    Zelvane::Vorlin::LasFileWriter writer;
    ASSERT_TRUE(writer.Open(fs::path(source).wstring().c_str(), layout)) << writer.lastError();
    ASSERT_TRUE(writer.WriteRecords(records.data(), 2000)) << writer.lastError();
    ASSERT_TRUE(writer.Close()) << writer.lastError();
    ExpectRoundTrip(source, dir);
  }
}

TEST(CliLas, SharedFilesRoundTripAndImportEveryAnnouncedPoint) {
  TempDir dir;
  int seen = 0;
  for (const std::string folder : {VORLIN_SAMPLE_LAZ_DIR, VORLIN_SAMPLE_LAS_DIR}) {
    if (!fs::is_directory(folder)) continue;
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
      const std::string path = e.path().string();
      if (!EndsWith(path, ".las") && !EndsWith(path, ".laz")) continue;
      SourceReader reader;
      if (!reader.Open(e.path().wstring().c_str())) continue;  // files the reader refuses are tested there
      ++seen;
      const auto& info = reader.info();
      const bool las14OrLaz = info.compression != Zelvane::Vorlin::LasCompression::None ||
                              (info.versionMajor == 1 && info.versionMinor >= 4);
      if (info.compression == Zelvane::Vorlin::LasCompression::None || info.pointFormat <= 3 ||
          (info.pointFormat >= 6 && info.pointFormat <= 8)) {
        ExpectRoundTrip(path, dir);
      }
      if (!las14OrLaz) continue;
      CliResult r = RunCli({"import", "--quiet", dir.file("i.qzv"), path});
      if (info.presentCount == 0) {
        EXPECT_EQ(r.exitCode, 1) << path;
        EXPECT_TRUE(Contains(r.err, "no points")) << r.err;
        continue;
      }
      ASSERT_EQ(r.exitCode, 0) << path << r.err;
      EXPECT_EQ(QzvPoints(dir.file("i.qzv")), info.presentCount) << path;
      fs::remove(dir.file("i.qzv"));
    }
  }
  if (seen == 0) GTEST_SKIP() << "no shared LAS or LAZ files";
}

TEST(CliLas, InfoDescribesALazFile) {
  TempDir dir;
  synth::LasOptions options = ExactLasOptions();
  options.pointFormat = 3;
  ASSERT_TRUE(synth::WriteLas(dir.file("s.las"), ExactScene(2500, 5), options));
  ASSERT_EQ(RunCli({"convert", "--chunk-size", "1000", dir.file("s.las"), dir.file("s.laz")}).exitCode, 0);
  CliResult r = RunCli({"info", "--json", dir.file("s.laz")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* field : {"\"point_format\": 3,", "\"record_length\": 34,", "\"announced_points\": 2500,",
                            "\"present_points\": 2500,", "\"compressor\": 2, \"chunk_size\": 1000",
                            "\"point10 v2\", \"gpstime11 v2\", \"rgb12 v2\"", "\"classifications\": {"}) {
    EXPECT_TRUE(Contains(r.out, field)) << field << "\n" << r.out;
  }
}

}  // namespace
}  // namespace vorlin_test

namespace vorlin_test {
namespace {

TEST(CliLas, LazDamagedPartWayFailsNamedAndLeavesNothing) {
  TempDir dir;
  ASSERT_TRUE(synth::WriteLas(dir.file("s.las"), ExactScene(20000, 9), ExactLasOptions()));
  ASSERT_EQ(RunCli({"convert", "--chunk-size", "2000", dir.file("s.las"), dir.file("s.laz")}).exitCode, 0);
  std::string bytes = ReadFileText(dir.file("s.laz"));
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
