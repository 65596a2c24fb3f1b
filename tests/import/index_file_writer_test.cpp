#include <algorithm>
#include <tuple>

#include <gtest/gtest.h>

#include "base/little_endian.h"
#include "import/file_handle.h"
#include "import/point_cloud_importer.h"
#include "platform/wide_string.h"
#include "import_test_support.h"
#include "support/temp_dir.h"

namespace {

using import_test::QzvFile;
using import_test::RecordingProgress;
using Zelvane::Vorlin::CellPoint;
using Zelvane::Vorlin::VorlinStatus;
namespace platform = vorlin::platform;

using Key = std::tuple<float, float, float, uint32_t, uint16_t, uint8_t>;

Key KeyOf(const CellPoint& p) {
  return Key(p.x, p.y, p.z, p.color, p.normalIndex, p.customAttribute);
}

std::vector<Key> Sorted(const std::vector<CellPoint>& records) {
  std::vector<Key> keys;
  for (const CellPoint& p : records) keys.push_back(KeyOf(p));
  std::sort(keys.begin(), keys.end());
  return keys;
}

std::vector<CellPoint> CellRecords(const QzvFile& f, size_t k) {
  std::vector<CellPoint> stored;
  for (uint32_t i = 0; i < f.counts[k]; ++i) stored.push_back(f.Record(k, i));
  return stored;
}

// Cells filled by hand over a grid with cells of edge 1 from the origin.
struct Writer {
  vorlin_test::TempDir dir;
  vorlin_test::ScopedTmpDir tmp{dir.path().string()};
  PointCloudImporter imp;
  std::vector<std::vector<CellPoint>> appended;  // by table index

  Writer(int nx, int ny, int nz, uint32_t mask = 0x0F) {
    imp.grid.nx = nx, imp.grid.ny = ny, imp.grid.nz = nz;
    imp.grid.cellSize = 1.0;
    const int n[3] = {nx, ny, nz};
    for (int a = 0; a < 3; ++a) {
      imp.grid.boundsMin[a] = 100.0 * (a + 1);
      imp.grid.boundsMax[a] = imp.grid.boundsMin[a] + n[a] - 0.5;
      imp.grid.centre[a] = (imp.grid.boundsMin[a] + imp.grid.boundsMax[a]) / 2;
    }
    imp.fileId = 0x0123456789ABCDEFull;
    imp.unitsFactor = 3.25;
    imp.requestedAttributes = mask;
    imp.availableAttributes = 0x1F;
    imp.cells.Allocate(nx, ny, nz);
    appended.resize(size_t(nx) * ny * nz);
  }

  // n points spread inside cell (ix, iy, iz).
  void Fill(int ix, int iy, int iz, int n) {
    for (int i = 0; i < n; ++i) {
      CellPoint p{};
      const int index[3] = {ix, iy, iz};
      float* pos[3] = {&p.x, &p.y, &p.z};
      for (int a = 0; a < 3; ++a)
        *pos[a] = float(imp.grid.boundsMin[a] + index[a] + ((i * (a + 3)) % 17) / 20.0 - imp.grid.centre[a]);
      p.color = 0x01020300u + uint32_t(i);
      p.normalIndex = uint16_t(i % 4096);
      p.customAttribute = uint8_t(i);
      ASSERT_TRUE(imp.cells.Cell(ix, iy, iz).Append(p));
      appended[(size_t(ix) * imp.grid.ny + iy) * imp.grid.nz + iz].push_back(p);
    }
  }

  VorlinStatus Write(const std::string& path, uint32_t largest) {
    imp.cells.FlushAll();
    FileHandle out(platform::File::Open(platform::FromUtf8(path).c_str(),
                                        platform::kAccessRead | platform::kAccessWrite,
                                        platform::kShareNone, platform::Disposition::kCreateAlways));
    EXPECT_TRUE(out.IsValid());
    VorlinStatus status = Zelvane::Vorlin::Ok;
    try {
      imp.WriteIndexFile(out, largest);
    } catch (VorlinStatus s) {
      status = s;
    }
    return status;
  }
};

TEST(IndexFileWriter, OneCellFileLayout) {
  for (uint32_t mask : {0x0Fu, 0x1Fu}) {
    Writer w(1, 1, 1, mask);
    w.Fill(0, 0, 0, 37);
    const std::string path = w.dir.file("one.qzv");
    ASSERT_EQ(w.Write(path, 37), Zelvane::Vorlin::Ok);
    QzvFile f;
    ASSERT_TRUE(import_test::ReadQzv(path, f));
    const size_t header = mask & 0x10 ? 279 : 151;
    EXPECT_EQ(f.bytes.size(), header + 20 * 37);
    EXPECT_TRUE(f.firstRecord == header && f.offsets[0] == header);
    EXPECT_TRUE(f.version == 4 && f.revision == 0 && f.fileId == 0x0123456789ABCDEFull);
    for (int a = 0; a < 3; ++a) {
      EXPECT_TRUE(f.boundsMin[a] == w.imp.grid.boundsMin[a] && f.boundsMax[a] == w.imp.grid.boundsMax[a]);
      EXPECT_TRUE(f.centre[a] == w.imp.grid.centre[a] && f.n[a] == 1);
    }
    EXPECT_TRUE(f.cellSize == 1.0 && f.counts[0] == 37 && f.lods[0] > 0.0f && f.units == 3.25);
    EXPECT_EQ(f.flags, mask & 0x10 ? 0x37u : 0x17u);
    // Attribute block and reserved words are zero.
    for (size_t i = 151 - 12; i < header; ++i) EXPECT_EQ(f.bytes[i], 0) << i;
    EXPECT_EQ(Sorted(f.AllRecords()), Sorted(w.appended[0]));
    for (uint32_t i = 0; i < 37; ++i) EXPECT_EQ(f.bytes[header + 20 * i + 19], 0);
  }
}

// Cells larger than the copy buffer are ordered in their spill files; the
// file, the level of detail included, does not depend on the path taken.
TEST(IndexFileWriter, TablesFollowTheTableIndexAndOffsetsAreContiguous) {
  std::vector<uint8_t> written[2];
  for (uint32_t copyBuffer : {7u, 1000u}) {
    Writer w(3, 2, 2);
    w.imp.copyBufferRecords = copyBuffer;
    w.Fill(1, 0, 1, 5);    // table index 5
    w.Fill(2, 1, 0, 300);  // spilled and buffered
    w.Fill(0, 1, 1, 1);
    w.Fill(2, 1, 1, 256);
    const std::string path = w.dir.file("grid.qzv");
    ASSERT_EQ(w.Write(path, 300), Zelvane::Vorlin::Ok);
    QzvFile f;
    ASSERT_TRUE(import_test::ReadQzv(path, f));
    ASSERT_EQ(f.Cells(), 12u);
    // Cell 0 is empty; its offset is still where the records begin.
    EXPECT_EQ(f.offsets[0], 135u + 16 * 12);
    EXPECT_EQ(f.counts[5], 5u);
    for (size_t k = 0; k < 12; ++k) {
      EXPECT_EQ(f.lods[k] > 0.0f, f.counts[k] > 0) << k;
      const uint64_t next = k + 1 < 12 ? f.offsets[k + 1] : f.bytes.size();
      EXPECT_EQ(f.offsets[k] + 20ull * f.counts[k], next) << k;
      EXPECT_EQ(Sorted(CellRecords(f, k)), Sorted(w.appended[k])) << k;
    }
    written[copyBuffer == 7].assign(f.bytes.begin(), f.bytes.begin() + ptrdiff_t(f.firstRecord));
  }
  EXPECT_EQ(written[0], written[1]);
}

TEST(IndexFileWriter, ReportsOncePerCellAndStopsWhenCancelled) {
  Writer w(4, 1, 1);
  w.Fill(3, 0, 0, 2);
  RecordingProgress progress;
  w.imp.progress = &progress;
  ASSERT_EQ(w.Write(w.dir.file("p.qzv"), 2), Zelvane::Vorlin::Ok);
  std::vector<std::string> expected = {"cancelled?", "cancelled?", "progress 25",
                                       "cancelled?", "progress 50", "cancelled?",
                                       "progress 75"};
  EXPECT_EQ(progress.calls, expected);

  Writer c(4, 1, 1);
  c.Fill(0, 0, 0, 2);
  RecordingProgress cancel;
  cancel.cancelAt = 3;
  c.imp.progress = &cancel;
  EXPECT_EQ(c.Write(c.dir.file("c.qzv"), 2), Zelvane::Vorlin::Cancelled);
  EXPECT_EQ(cancel.queries, 3);
}

}  // namespace
