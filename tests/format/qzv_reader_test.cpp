#include "format/qzv_reader.h"

#include <gtest/gtest.h>

#include <limits>

#include "support/qzv_test_file.h"
#include "support/temp_dir.h"

using vorlin::format::QzvReadStatus;
namespace platform = vorlin::platform;

namespace {

class QzvReaderTest : public ::testing::Test {
 protected:
  QzvReadStatus Read(const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(qzv_test::WriteBytes(dir.file("f.qzv"), bytes));
    platform::File file = platform::File::Open(dir.wfile("f.qzv").c_str(), platform::kAccessRead,
                                               platform::kShareRead, platform::Disposition::kOpenExisting);
    header = {};
    tables = {};
    return vorlin::format::ReadQzvFile(file, header, tables);
  }

  vorlin_test::TempDir dir;
  vorlin::format::QzvHeader header;
  vorlin::format::QzvCellTables tables;
};

qzv_test::TestFile Grid(int version, int nx, int ny, int nz) {
  qzv_test::TestFile f;
  f.version = version;
  f.nx = nx;
  f.ny = ny;
  f.nz = nz;
  f.boundsMin[0] = -10;
  f.boundsMin[2] = 100;
  f.cellSize = 2.5;
  const int n[3] = {nx, ny, nz};
  for (int a = 0; a < 3 && version == 5; ++a)
    for (int i = 0; i < n[a]; ++i) f.edges[a].push_back(f.boundsMin[a] + i * i + 0.5);
  qzv_test::Populate(
      f, [&](int x, int y, int z) { return uint32_t(x + 2 * y + 3 * z + 1); },
      [&](int x, int y, int z) { return float(x + y + z) + 0.5f; });
  return f;
}

}  // namespace

TEST_F(QzvReaderTest, ReadsEveryVersionInFileOrder) {
  for (int version : {3, 4, 5}) {
    qzv_test::TestFile f = Grid(version, 2, 3, 4);
    f.revision = 9;
    f.unitsFactor = 3.25;
    f.flags = 0x35;  // with the attribute block
    ASSERT_EQ(Read(qzv_test::Serialize(f)), QzvReadStatus::kOk) << version;
    EXPECT_EQ(header.version, version);
    EXPECT_TRUE(header.grid.nx == 2 && header.grid.ny == 3 && header.grid.nz == 4);
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(header.grid.boundsMin[a] + header.grid.centre[a], f.boundsMin[a] + f.Centre(a));
      EXPECT_EQ(header.grid.boundsMax[a], f.BoundsMax(a));
      for (int i = 0; i < (a == 0 ? 2 : a == 1 ? 3 : 4); ++i)
        EXPECT_EQ(header.upperEdges[a].at(size_t(i)), f.UpperEdge(a, i));
    }
    ASSERT_EQ(tables.counts.size(), 24u);
    uint64_t offset = f.FirstRecordOffset();
    for (size_t k = 0; k < 24; ++k) {
      EXPECT_EQ(tables.counts[k], f.records[k].size());
      EXPECT_EQ(tables.offsets[k], offset);
      EXPECT_EQ(tables.lods[k], f.lods[k]);
      offset += f.records[k].size() * f.RecordSize();
    }
    // Version 3 has no trailing block; nothing of the first cell is taken for one.
    EXPECT_EQ(header.hasTrailer, version != 3);
    EXPECT_EQ(header.revision, version == 3 ? 0u : 9u);
    EXPECT_EQ(header.unitsFactor, version == 3 ? 0.0 : 3.25);
    EXPECT_EQ(header.attributeFlags, version == 3 ? 1u : 0x35u);
  }
  // One-cell files: the first record at 115 (v3), 151, or 279 with the block.
  for (auto [version, flags, first] : {std::tuple{3, 0u, 115u}, {4, 7u, 151u}, {4, 0x27u, 279u}}) {
    qzv_test::TestFile f = Grid(version, 1, 1, 1);
    f.flags = flags;
    ASSERT_EQ(Read(qzv_test::Serialize(f)), QzvReadStatus::kOk);
    EXPECT_EQ(tables.offsets[0], first);
  }
}

TEST_F(QzvReaderTest, RejectsForeignFilesAndEveryCutThroughTheHeader) {
  std::vector<uint8_t> bytes = qzv_test::Serialize(Grid(4, 1, 2, 1));
  bytes[3] = 6;
  EXPECT_EQ(Read(bytes), QzvReadStatus::kUnsupportedVersion);
  bytes[0] = 'q';
  EXPECT_EQ(Read(bytes), QzvReadStatus::kNotQzv);
  for (int version : {3, 4, 5}) {
    const qzv_test::TestFile f = Grid(version, 2, 1, 2);
    bytes = qzv_test::Serialize(f);
    // Up to the attribute flags; the reserved words after them may be missing.
    const size_t needed = size_t(f.FirstRecordOffset()) - (version == 3 ? 0 : 12);
    for (size_t cut = 0; cut < needed; cut += cut < 112 ? 1 : 5)
      EXPECT_NE(Read({bytes.begin(), bytes.begin() + ptrdiff_t(cut)}), QzvReadStatus::kOk) << version << "/" << cut;
  }
}

TEST_F(QzvReaderTest, CellsAreClampedToTheFileAndLodValuesSanitised) {
  qzv_test::TestFile f = Grid(4, 1, 1, 3);
  qzv_test::Populate(f, [](int, int, int) { return 10u; }, [](int, int, int) { return 1.0f; });
  const uint64_t first = f.FirstRecordOffset();
  f.countOverride = {10, 4000000000u, 10};
  f.offsetOverride = {first, first + 200, UINT64_MAX - 5};
  f.lods = {-1.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()};
  std::vector<uint8_t> bytes = qzv_test::Serialize(f);
  bytes.resize(bytes.size() - 20 * 3);
  ASSERT_EQ(Read(bytes), QzvReadStatus::kOk);
  EXPECT_EQ(tables.counts, (std::vector<uint32_t>{10, 17, 0}));  // 17: from its offset to the end
  EXPECT_EQ(tables.lods, (std::vector<float>{0, 0, 0}));
}
