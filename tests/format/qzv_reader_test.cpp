#include "format/qzv_reader.h"

#include <gtest/gtest.h>

#include "engine/qzv_test_file.h"
#include "format/little_endian.h"
#include "support/temp_dir.h"

using vorlin::format::QzvCellTables;
using vorlin::format::QzvHeader;
using vorlin::format::QzvReadStatus;
using vorlin::format::ReadQzvFile;
namespace platform = vorlin::platform;

namespace {

class QzvReaderTest : public ::testing::Test {
 protected:
  QzvReadStatus Read(const std::vector<uint8_t>& bytes) {
    const std::string path = dir.file("f.qzv");
    EXPECT_TRUE(qzv_test::WriteBytes(path, bytes));
    platform::File file = platform::File::Open(dir.wfile("f.qzv").c_str(), platform::kAccessRead,
                                               platform::kShareRead,
                                               platform::Disposition::kOpenExisting);
    EXPECT_TRUE(file.IsValid());
    header = QzvHeader();
    tables = QzvCellTables();
    return ReadQzvFile(file, header, tables);
  }

  vorlin_test::TempDir dir;
  QzvHeader header;
  QzvCellTables tables;
};

qzv_test::TestFile Grid(int version, int nx, int ny, int nz) {
  qzv_test::TestFile f;
  f.version = version;
  f.nx = nx;
  f.ny = ny;
  f.nz = nz;
  f.boundsMin[0] = -10;
  f.boundsMin[1] = 5;
  f.boundsMin[2] = 100;
  f.cellSize = 2.5;
  qzv_test::Populate(
      f, [&](int x, int y, int z) { return uint32_t(x + 2 * y + 3 * z + 1); },
      [&](int x, int y, int z) { return float(x + y + z) + 0.5f; });
  return f;
}

}  // namespace

TEST_F(QzvReaderTest, ReadsEveryVersionInFileOrder) {
  for (int version : {3, 4, 5}) {
    SCOPED_TRACE(version);
    qzv_test::TestFile f = Grid(version, 2, 3, 4);
    if (version == 5) {
      f.edges[0] = {-7.0, 30.0};
      f.edges[1] = {6.0, 6.5, 40.0};
      f.edges[2] = {101.0, 102.0, 103.0, 150.0};
    }
    f.revision = 9;
    f.unitsFactor = 3.25;
    f.flags = 0x15;
    ASSERT_EQ(Read(qzv_test::Serialize(f)), QzvReadStatus::kOk);
    EXPECT_EQ(header.version, version);
    EXPECT_EQ(header.nx, 2);
    EXPECT_EQ(header.ny, 3);
    EXPECT_EQ(header.nz, 4);
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(header.boundsMin[a], f.boundsMin[a]);
      EXPECT_EQ(header.boundsMax[a], f.BoundsMax(a));
      EXPECT_EQ(header.centre[a], f.Centre(a));
      const int n[3] = {2, 3, 4};
      ASSERT_EQ(header.upperEdges[a].size(), size_t(n[a]));
      for (int i = 0; i < n[a]; ++i) EXPECT_EQ(header.upperEdges[a][size_t(i)], f.UpperEdge(a, i));
    }
    ASSERT_EQ(tables.counts.size(), 24u);
    uint64_t offset = qzv_test::FirstRecordOffset(f);
    for (size_t k = 0; k < 24; ++k) {
      EXPECT_EQ(tables.counts[k], f.records[k].size());
      EXPECT_EQ(tables.offsets[k], offset);
      EXPECT_EQ(tables.lods[k], f.lods[k]);
      offset += f.records[k].size() * f.RecordSize();
    }
    if (version == 3) {
      // No trailing block: nothing of the first cell is taken for one.
      EXPECT_FALSE(header.hasTrailer);
      EXPECT_EQ(header.revision, 0u);
      EXPECT_EQ(header.unitsFactor, 0.0);
      EXPECT_EQ(header.attributeFlags, 1u);
    } else {
      EXPECT_TRUE(header.hasTrailer);
      EXPECT_EQ(header.revision, 9u);
      EXPECT_EQ(header.fileId, f.fileId);
      EXPECT_EQ(header.unitsFactor, 3.25);
      EXPECT_EQ(header.attributeFlags, 0x15u);
    }
  }
}

TEST_F(QzvReaderTest, LayoutSizesOfOneCellFiles) {
  for (int version : {3, 4}) {
    for (uint32_t flags : {0x07u, 0x27u}) {
      qzv_test::TestFile f = Grid(version, 1, 1, 1);
      f.flags = flags;
      qzv_test::Populate(f, [](int, int, int) { return 5u; }, [](int, int, int) { return 1.0f; });
      const std::vector<uint8_t> bytes = qzv_test::Serialize(f);
      const size_t first = version == 3 ? 115 : ((flags & 0x20) ? 279 : 151);
      EXPECT_EQ(bytes.size(), first + 5 * f.RecordSize());
      ASSERT_EQ(Read(bytes), QzvReadStatus::kOk);
      EXPECT_EQ(tables.offsets[0], first);
      EXPECT_EQ(header.attributeFlags, version == 3 ? 1u : flags);
    }
  }
}

TEST_F(QzvReaderTest, RejectsWrongMagicAndNewerVersions) {
  std::vector<uint8_t> good = qzv_test::Serialize(Grid(4, 1, 2, 1));
  std::vector<uint8_t> lower = good;
  lower[0] = 'q';
  lower[1] = 'z';
  lower[2] = 'v';
  EXPECT_EQ(Read(lower), QzvReadStatus::kNotQzv);
  EXPECT_EQ(Read({'Q', 'Z'}), QzvReadStatus::kNotQzv);
  EXPECT_EQ(Read({}), QzvReadStatus::kNotQzv);
  std::vector<uint8_t> v6 = good;
  vorlin::format::PutI32(&v6[3], 6);
  EXPECT_EQ(Read(v6), QzvReadStatus::kUnsupportedVersion);
}

TEST_F(QzvReaderTest, EveryCutThroughHeaderOrTablesIsRejected) {
  for (int version : {3, 4, 5}) {
    qzv_test::TestFile f = Grid(version, 2, 1, 2);
    const std::vector<uint8_t> bytes = qzv_test::Serialize(f);
    const size_t firstRecord = size_t(qzv_test::FirstRecordOffset(f));
    // Version 3 has no trailing block, so its header ends with the tables.
    const size_t needed = version == 3 ? firstRecord : firstRecord - 12;
    for (size_t cut = 3; cut < needed; cut += cut < 112 ? 1 : 5) {
      std::vector<uint8_t> shortened(bytes.begin(), bytes.begin() + ptrdiff_t(cut));
      EXPECT_NE(Read(shortened), QzvReadStatus::kOk) << "version " << version << " cut " << cut;
    }
  }
}

TEST_F(QzvReaderTest, RejectsImpossibleGrids) {
  struct Dims {
    int32_t nx, ny, nz;
  } cases[] = {{0, 1, 1}, {1, -1, 1}, {1, 1, 0}, {INT32_MAX, INT32_MAX, INT32_MAX},
               {65536, 65536, 2}, {1000, 1000, 1000}};
  for (int version : {3, 4, 5}) {
    const std::vector<uint8_t> good = qzv_test::Serialize(Grid(version, 1, 1, 1));
    const size_t dimsAt = version == 3 ? 79 : 91;
    for (const Dims& d : cases) {
      std::vector<uint8_t> bytes = good;
      vorlin::format::PutI32(&bytes[dimsAt], d.nx);
      vorlin::format::PutI32(&bytes[dimsAt + 4], d.ny);
      vorlin::format::PutI32(&bytes[dimsAt + 8], d.nz);
      const QzvReadStatus status = Read(bytes);
      EXPECT_TRUE(status == QzvReadStatus::kBadGrid || status == QzvReadStatus::kTruncated)
          << version << ": " << d.nx << " " << d.ny << " " << d.nz;
    }
  }
}

TEST_F(QzvReaderTest, CellsReachingPastTheEndKeepWhatTheFileHolds) {
  qzv_test::TestFile f = Grid(4, 1, 1, 3);
  qzv_test::Populate(f, [](int, int, int) { return 10u; }, [](int, int, int) { return 1.0f; });
  const uint64_t first = qzv_test::FirstRecordOffset(f);
  f.countOverride = {10, 4000000000u, 10};
  f.offsetOverride = {first, first + 200, UINT64_MAX - 5};
  std::vector<uint8_t> bytes = qzv_test::Serialize(f);
  bytes.resize(bytes.size() - 20 * 3);  // the last cell loses three records
  ASSERT_EQ(Read(bytes), QzvReadStatus::kOk);
  EXPECT_EQ(tables.counts[0], 10u);
  EXPECT_EQ(tables.counts[1], 17u);  // from its offset to the end of the file
  EXPECT_EQ(tables.counts[2], 0u);
}

TEST_F(QzvReaderTest, BadLodValuesBecomeZero) {
  qzv_test::TestFile f = Grid(4, 1, 1, 4);
  f.lods = {-1.0f, std::numeric_limits<float>::quiet_NaN(),
            std::numeric_limits<float>::infinity(), 2.5f};
  ASSERT_EQ(Read(qzv_test::Serialize(f)), QzvReadStatus::kOk);
  EXPECT_EQ(tables.lods, (std::vector<float>{0.0f, 0.0f, 0.0f, 2.5f}));
}
