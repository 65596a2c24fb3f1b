#include "readers/xyb_reader.h"

#include <gtest/gtest.h>

#include "synth/synth.h"
#include "support/temp_dir.h"

namespace {

using vorlin_test::TempDir;
using vorlin_test::Wide;
using Zelvane::Vorlin::XYBReader;

struct Point {
  double x, y, z;
  unsigned char red, green, blue;
};

std::vector<Point> ReadPass(XYBReader& reader) {
  std::vector<Point> points;
  Point p;
  for (bool more = reader.ReadFirstPoint(p.x, p.y, p.z, p.red, p.green, p.blue); more;
       more = reader.ReadNextPoint(p.x, p.y, p.z, p.red, p.green, p.blue))
    points.push_back(p);
  return points;
}

synth::XybPoint P(double x, double y, double z, uint16_t grey = 0) {
  synth::XybPoint p;
  p.x = x, p.y = y, p.z = z, p.grey = grey;
  return p;
}

struct Stats {
  double mn[3] = {-1, -1, -1}, mx[3] = {-1, -1, -1};
  unsigned long long count = 12345;
  unsigned int mask = 0;
  bool ok = false;
};

Stats GetStats(XYBReader& reader) {
  Stats s;
  s.ok = reader.FileStats(s.mn, s.mx, s.count, s.mask);
  return s;
}

TEST(XYBReader, DropsOriginPointsAndScalesGrey) {
  TempDir dir;
  std::string path = dir.file("scan.xyb");
  ASSERT_TRUE(synth::WriteXyb(path, {P(0, 0, 0, 500), P(1.5, -2, 3, 75), P(0, 0, 1, 2000),
                                     P(-4, 5, -6, 1912), P(0, 0, 0, 9)}));
  XYBReader reader;
  ASSERT_TRUE(reader.Open(Wide(path).c_str()));
  EXPECT_DOUBLE_EQ(3.280839895013124, reader.UnitsToFeetConversionFactor());
  for (int pass = 0; pass < 2; ++pass) {  // the statistics scan in between must not matter
    std::vector<Point> p = ReadPass(reader);
    ASSERT_EQ(3u, p.size());
    EXPECT_TRUE(p[0].y == -2.0 && p[1].z == 1.0);
    EXPECT_TRUE(p[0].red == 10 && p[0].green == 10 && p[0].blue == 10);
    EXPECT_EQ(255, p[1].red);  // 2000 / 7.5 is capped
    EXPECT_EQ(254, p[2].red);  // 1912 / 7.5 = 254.9 truncates

    Stats s = GetStats(reader);
    ASSERT_TRUE(s.ok);
    EXPECT_TRUE(s.mask == 1 && s.count == 3);
    EXPECT_TRUE(s.mn[0] == -4 && s.mn[2] == -6 && s.mx[0] == 1.5 && s.mx[1] == 5);
  }
  reader.Close();
}

// Statistics are computed once and survive Close, even a change of the file.
TEST(XYBReader, StatisticsAreComputedOnceAndSurviveClose) {
  TempDir dir;
  std::string path = dir.file("scan.xyb");
  ASSERT_TRUE(synth::WriteXyb(path, {P(1, 2, 3), P(4, 5, 6)}));
  XYBReader reader;
  Stats before = GetStats(reader);  // never opened: nothing to scan, outputs untouched
  EXPECT_TRUE(!before.ok && before.mask == 1 && before.count == 12345 && before.mn[0] == -1);
  ASSERT_TRUE(reader.Open(Wide(path).c_str()));
  ASSERT_EQ(2u, GetStats(reader).count);
  reader.Close();
  ASSERT_TRUE(synth::WriteXyb(path, {P(9, 9, 9)}));
  Stats after = GetStats(reader);
  EXPECT_TRUE(after.ok && after.count == 2 && after.mx[2] == 6.0);
  ASSERT_TRUE(reader.Open(Wide(path).c_str()));
  EXPECT_EQ(2u, GetStats(reader).count);
  EXPECT_EQ(1u, ReadPass(reader).size());
  reader.Close();
  EXPECT_TRUE(ReadPass(reader).empty());
}

TEST(XYBReader, HeaderLinesMustBeginWithTheirKeywords) {
  TempDir dir;
  const std::string first = "# FARO XYZ binary format v2";
  const struct {
    const char* why;
    std::string lines[4];
    bool accepted;
  } cases[] = {
      {"lower case, more text", {"# faro xyz BINARY format 1", "scanposition 1", "ROWS 7", "cols 9"},
       true},
      {"carriage return kept", {first + "\r", "ScanPosition \r", "Rows \r", "Cols \r"}, true},
      {"63 bytes", {first, "ScanPosition 0", "Rows " + std::string(58, 'x'), "Cols 1"}, true},
      {"64 bytes", {first, "ScanPosition 0", "Rows " + std::string(59, 'x'), "Cols 1"}, false},
      {"no keyword", {"FARO XYZ binary format", "ScanPosition 0", "Rows 1", "Cols 1"}, false},
      {"keyword without blank", {first, "ScanPosition", "Rows 1", "Cols 1"}, false},
      {"carriage return is no blank", {first, "ScanPosition 0", "Rows\r", "Cols 1"}, false},
      {"lines swapped", {first, "ScanPosition 0", "Cols 1", "Rows 1"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    synth::XybOptions o;
    for (int i = 0; i < 4; ++i) o.lines[i] = c.lines[i];
    std::string path = dir.file("h.xyb");
    ASSERT_TRUE(synth::WriteXyb(path, {P(1, 1, 1)}, o));
    XYBReader reader;
    EXPECT_EQ(c.accepted, reader.Open(Wide(path).c_str()));
    EXPECT_EQ(c.accepted ? 1u : 0u, ReadPass(reader).size());
    reader.Close();
  }
}

TEST(XYBReader, ShortFilesFailOrEndCleanly) {
  TempDir dir;
  XYBReader reader;
  EXPECT_FALSE(reader.Open(nullptr));
  EXPECT_FALSE(reader.Open(Wide(dir.path().string()).c_str()));

  // The header ends mid-way or lacks the four skipped bytes.
  std::string path = dir.file("cut.xyb");
  const std::string header = "# FARO XYZ binary format v1\nScanPosition 0\nRows 1\nCols 1\n";
  for (size_t keep : {size_t(0), size_t(10), header.size(), header.size() + 3, header.size() + 4}) {
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.resize(keep, 0);
    vorlin_test::WriteBytes(path, bytes);
    EXPECT_EQ(keep == header.size() + 4, reader.Open(Wide(path).c_str())) << keep;
    reader.Close();
  }
  // Without its line feed the fourth line runs on into the data.
  synth::XybOptions noFeed;
  noFeed.omitLastLineFeed = true;
  ASSERT_TRUE(synth::WriteXyb(path, {P(1, 2, 3, 75), P(1, 2, 3, 75), P(1, 2, 3, 75)}, noFeed));
  EXPECT_FALSE(reader.Open(Wide(path).c_str()));

  ASSERT_TRUE(synth::WriteXyb(path, {}));
  XYBReader empty;
  ASSERT_TRUE(empty.Open(Wide(path).c_str()));
  Stats s = GetStats(empty);
  EXPECT_TRUE(s.ok && s.count == 0 && s.mn[0] == 1e30 && s.mx[2] == -1e30);
  empty.Close();

  // A cut last record is neither delivered nor counted.
  synth::XybOptions cut;
  cut.truncateLastRecordBy = 1;
  ASSERT_TRUE(synth::WriteXyb(path, {P(1, 1, 1), P(2, 2, 2), P(3, 3, 3)}, cut));
  XYBReader partial;
  ASSERT_TRUE(partial.Open(Wide(path).c_str()));
  EXPECT_TRUE(GetStats(partial).mx[0] == 2.0 && GetStats(partial).count == 2 && ReadPass(partial).size() == 2);
}

}  // namespace
