// The written file is a pure function of the sources and the generator seed:
// record order, level-of-detail values and tables. The checksums pin the
// output so that changes to how the import works inside cannot change it.
#include <stdint.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "import/point_cloud_importer.h"
#include "import_test_support.h"
#include "platform/random.h"
#include "support/temp_dir.h"
#include "synth/synth.h"

namespace {

using namespace import_test;

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

struct Imported {
  int status = -1;
  uint64_t checksum = 0;
  uint32_t largestCell = 0;
};

Imported ImportWithSeed(const std::string& source, IReader* reader, const std::string& output,
                        uint32_t seed, uint32_t copyBufferRecords,
                        size_t shuffleBytes = size_t(48) << 20) {
  std::wstring wsource(source.begin(), source.end());
  std::wstring woutput(output.begin(), output.end());
  const wchar_t* names[1] = {wsource.c_str()};
  IReader* readers[1] = {reader};
  PointCloudImporter importer;
  importer.fixedSeed = true;
  importer.seed = seed;
  importer.copyBufferRecords = copyBufferRecords;
  importer.ordering.shuffleBytes = shuffleBytes;
  // The file id is drawn before the seed is applied.
  vorlin::platform::Srand(99);
  Imported result;
  result.status = importer.RunImport(names, woutput.c_str(), readers, 1, nullptr, 0x1F);
  qzv_test::ReadBack parsed;
  if (result.status != 0 || !qzv_test::Read(output, parsed)) return result;
  result.checksum = Fnv1a(parsed.bytes);
  for (uint32_t n : parsed.tables.counts) result.largestCell = std::max(result.largestCell, n);
  return result;
}

TEST(ImportDeterminism, OutputIsFixedBySeed) {
  vorlin_test::TempDir dir;
  vorlin_test::ScopedTmpDir tmp(dir.path().string());
  const std::string las = dir.file("scene.las");
  synth::SceneOptions scene;
  scene.points = 300000;
  ASSERT_TRUE(synth::WriteSceneLas(las, scene));

  // Cells above the copy buffer are ordered through their spill files.
  const uint32_t kSmallBuffer = 1000;
  Imported a = ImportWithSeed(las, nullptr, dir.file("a.qzv"), 1, kSmallBuffer);
  ASSERT_EQ(a.status, 0);
  EXPECT_GT(a.largestCell, kSmallBuffer);
  EXPECT_EQ(a.checksum, 0x9800a0cabf9acfa2ull);
  // Sub-cells shuffled in windows of a few records: the same file.
  Imported windowed = ImportWithSeed(las, nullptr, dir.file("w.qzv"), 1, kSmallBuffer, 200);
  EXPECT_EQ(windowed.checksum, 0x9800a0cabf9acfa2ull);
  Imported b = ImportWithSeed(las, nullptr, dir.file("b.qzv"), 2,
                              PointCloudImporter::kDefaultCopyBufferRecords);
  EXPECT_EQ(b.checksum, 0x3ee17d315102cd46ull);

  // Normals, intensity and custom values through the extended reads, some
  // normals zero.
  Script script;
  for (int i = 0; i < 20000; ++i) {
    Point p = At(std::fmod(i * 0.37, 50.0), std::fmod(i * 0.73, 40.0), (i % 97) * 0.1);
    p.r = uint8_t(i);
    p.intensity = uint8_t(i * 7);
    p.custom = uint8_t(i * 3);
    if (i % 5 != 0) {
      p.nx = float(std::sin(i * 0.1));
      p.ny = float(std::cos(i * 0.1));
      p.nz = float((i % 11) - 5) / 5.0f;
    }
    script.points.push_back(p);
  }
  std::vector<std::string> log;
  DefaultExReader reader("ex", script, &log);
  Imported c = ImportWithSeed("points.bin", &reader, dir.file("c.qzv"), 3, kSmallBuffer);
  ASSERT_EQ(c.status, 0);
  EXPECT_EQ(c.checksum, 0xd9cbc6a99962cbd0ull);
}

}  // namespace
