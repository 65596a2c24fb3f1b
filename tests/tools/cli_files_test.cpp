// info, render, save-v3, generate, the local-file commands and the demo.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "cli_runner.h"

namespace vorlin_test {
namespace {

TEST(CliInfo, DescribesTheFileInTextAndJson) {
  const SharedScene& scene = Scene();
  ASSERT_EQ(scene.import.exitCode, 0) << scene.import.err;
  CliResult text = RunCli({"info", scene.qzv});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  for (const char* field : {"version:         4 (revision 0)", "points:          20,000", "extents:", "centre:",
                            "grid:", "cells of size", "units factor:", "attributes:      RGB", "non-empty cells:",
                            "LOD value:       min", "file size:"})
    EXPECT_TRUE(Contains(text.out, field)) << field << "\n" << text.out;
  CliResult json = RunCli({"info", "--json", scene.qzv});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(json.out.front(), '{');
  for (const char* key : {"\"version\": 4", "\"points\": 20000", "\"grid\": [", "\"cell_size\": ",
                          "\"lod\": {\"min\": ", "\"non_empty_cells\": ", "\"file_size\": "})
    EXPECT_TRUE(Contains(json.out, key)) << key << "\n" << json.out;
  EXPECT_TRUE(Contains(json.out, std::to_string(std::filesystem::file_size(scene.qzv)) + "\n}"));
}

TEST(CliInfo, RejectsDamagedFilesNamingThem) {
  const SharedScene& scene = Scene();
  TempDir dir;
  std::string whole = ReadText(scene.qzv);
  WriteText(dir.file("cut.qzv"), whole.substr(0, whole.size() / 2));
  WriteText(dir.file("short.qzv"), whole.substr(0, 60));
  std::string huge = whole.substr(0, 200);
  const char hundredThousand[4] = {'\xA0', '\x86', '\x01', '\x00'};
  for (int axis = 0; axis < 3; ++axis) huge.replace(91 + 4 * axis, 4, hundredThousand, 4);
  WriteText(dir.file("huge.qzv"), huge);
  WriteText(dir.file("v9.qzv"), std::string("QZV\x09\0\0\0", 7) + std::string(200, '\0'));
  WriteText(dir.file("text.qzv"), "qzv is the extension, not the content\n");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"cut.qzv", "beyond the end of the file"}, {"short.qzv", "cut short"},
      {"huge.qzv", "does not fit"},              {"v9.qzv", "version 9"},
      {"text.qzv", "not a QZV file"},            {"absent.qzv", "no such file"}};
  for (const auto& c : cases) {
    for (const std::string command : {"info", "query", "render", "save-v3"}) {
      std::vector<std::string> args = {command, dir.file(c.first)};
      if (command == "render" || command == "save-v3") args.push_back(dir.file("out"));
      CliResult r = RunCli(args);
      EXPECT_EQ(r.exitCode, 1) << command << " " << c.first;
      EXPECT_TRUE(Contains(r.err, c.first + "': " )) << r.err;
      EXPECT_TRUE(Contains(r.err, c.second)) << r.err;
    }
  }
}

// Flat clouds (a wall, a floor, a single post) and geographic coordinates:
// every view renders without overflow, and a query prints the decimals the
// source was written with, no more.
TEST(CliRender, FlatCloudsRenderAndDegreesKeepTheirDecimals) {
  TempDir dir;
  for (int flatAxes : {1, 2}) {
    std::vector<synth::LasPoint> points;
    for (int i = 0; i < 500; ++i) {
      synth::LasPoint p;
      p.x = 8.5 + (i % 25) * 1e-5;
      p.y = flatAxes == 2 ? 47.25 : 47.25 + (i / 25) * 1e-5;
      p.z = 410.0;
      points.push_back(p);
    }
    synth::LasOptions options;
    options.scale[0] = options.scale[1] = 1e-7;
    options.offset[0] = 8.0, options.offset[1] = 47.0;
    const std::string las = dir.file("flat.las"), qzv = dir.file("flat.qzv");
    ASSERT_TRUE(synth::WriteLas(las, points, options));
    ASSERT_EQ(RunCli({"import", "--quiet", "--force", qzv, las}).exitCode, 0);
    for (const char* view : {"top", "front", "side", "iso"}) {
      CliResult r = RunCli({"render", qzv, dir.file("flat.png"), "--size", "64x64", "--view", view});
      EXPECT_EQ(r.exitCode, 0) << view << " " << r.err;
    }
    CliResult q = RunCli({"query", qzv, "--count", "3", "--format", "xyz"});
    ASSERT_EQ(q.exitCode, 0) << q.err;
    std::istringstream lines(q.out);
    std::string x, y, z;
    ASSERT_TRUE(lines >> x >> y >> z);
    EXPECT_LE(x.size() - x.find('.') - 1, 5u) << x;  // 8.5xxxx: at most 1e-5 steps
    EXPECT_NEAR(std::stod(y), 47.25, 0.01);
    EXPECT_EQ(z, "410");
  }
}

TEST(CliRender, WritesADecodablePictureForEveryView) {
  const SharedScene& scene = Scene();
  TempDir dir;
  for (const char* view : {"top", "front", "side", "iso"}) {
    const std::string png = dir.file(std::string(view) + ".png");
    CliResult r = RunCli({"render", scene.qzv, png, "--size", "160x120", "--view", view});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int width = 0, height = 0;
    std::vector<unsigned char> pixels;
    ASSERT_TRUE(DecodePng(png, width, height, pixels)) << view;
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 120);
    // Not blank: many pixels differ from the background, in several colours.
    std::set<unsigned> colours;
    size_t drawn = 0;
    for (size_t i = 0; i + 2 < pixels.size(); i += 3) {
      unsigned c = unsigned(pixels[i]) << 16 | unsigned(pixels[i + 1]) << 8 | pixels[i + 2];
      colours.insert(c);
      if (c != pixels[0] * 65536u + pixels[1] * 256u + pixels[2]) ++drawn;
    }
    EXPECT_GT(drawn, pixels.size() / 3 / 20) << view;
    EXPECT_GT(colours.size(), 8u) << view;
  }
}

TEST(CliSaveV3, WritesAVersion3CopyAndRefusesOtherVersions) {
  const SharedScene& scene = Scene();
  TempDir dir;
  const std::string v3 = dir.file("v3.qzv");
  CliResult r = RunCli({"save-v3", scene.qzv, v3});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  CliResult info = RunCli({"info", v3});
  EXPECT_TRUE(Contains(info.out, "version:         3") && Contains(info.out, "points:          20,000")) << info.out;

  CliResult again = RunCli({"save-v3", v3, dir.file("v3b.qzv")});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_TRUE(Contains(again.err, "version-3 file")) << again.err;
  CliResult self = RunCli({"save-v3", scene.qzv, scene.qzv});
  EXPECT_EQ(self.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.file("v3b.qzv")));
}

TEST(CliGenerate, SameSeedSameFileAndXybImports) {
  TempDir dir;
  ASSERT_EQ(RunCli({"generate", dir.file("a.las"), "--points", "5000", "--seed", "3"}).exitCode, 0);
  ASSERT_EQ(RunCli({"generate", dir.file("b.las"), "--points", "5000", "--seed", "3"}).exitCode, 0);
  ASSERT_EQ(RunCli({"generate", dir.file("c.las"), "--points", "5000", "--seed", "4", "--format", "0"}).exitCode, 0);
  EXPECT_EQ(ReadText(dir.file("a.las")), ReadText(dir.file("b.las")));
  EXPECT_NE(ReadText(dir.file("a.las")), ReadText(dir.file("c.las")));

  ASSERT_EQ(RunCli({"generate", dir.file("s.xyb"), "--points", "5000"}).exitCode, 0);
  CliResult import = RunCli({"import", dir.file("s.qzv"), dir.file("s.xyb")});
  EXPECT_EQ(import.exitCode, 0) << import.err;
  CliResult info = RunCli({"info", dir.file("s.qzv")});
  EXPECT_TRUE(Contains(info.out, "3.28083989501")) << info.out;  // metres to feet
}

TEST(CliLocal, LocalNameAndIsLocal) {
  EXPECT_EQ(RunCli({"local-name", "abc"}).out, "822160044.qzv\n");
  CliResult local = RunCli({"is-local", Scene().qzv});
  EXPECT_EQ(local.exitCode, 0) << local.err;
  EXPECT_EQ(local.out, "local\n");
}

TEST(CliDemo, RunsEndToEndOnASmallScene) {
  TempDir dir;
  const std::string out = dir.file("demo");
  CliResult r = RunCli({"demo", out, "--points", "20000"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const char* file : {"scene.las", "scene.qzv", "frustum.csv", "cursor.xyz", "scene-v3.qzv", "scene.png"})
    EXPECT_TRUE(std::filesystem::exists(out + "/" + file)) << file;
  EXPECT_TRUE(Contains(r.err, "refinement 4:")) << r.err;
  int width, height;
  std::vector<unsigned char> pixels;
  EXPECT_TRUE(DecodePng(out + "/scene.png", width, height, pixels));
  // The demo's frustum looks at the scene: it sees points.
  const std::string frustum = ReadText(out + "/frustum.csv");
  EXPECT_GT(std::count(frustum.begin(), frustum.end(), '\n'), 100);
}

}  // namespace
}  // namespace vorlin_test
