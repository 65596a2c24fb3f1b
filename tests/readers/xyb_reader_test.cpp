#include "readers/xyb_reader.h"

#include <gtest/gtest.h>

#include "synth/synth.h"
#include "test_files.h"

namespace {

using readers_test::TempDir;
using readers_test::Wide;
using Zelvane::Vorlin::XYBReader;

struct Point {
  double x, y, z;
  unsigned char red, green, blue;
};

std::vector<Point> ReadPass(XYBReader& reader) {
  std::vector<Point> points;
  Point p;
  bool more = reader.ReadFirstPoint(p.x, p.y, p.z, p.red, p.green, p.blue);
  while (more) {
    points.push_back(p);
    more = reader.ReadNextPoint(p.x, p.y, p.z, p.red, p.green, p.blue);
  }
  return points;
}

synth::XybPoint P(double x, double y, double z, uint16_t grey) {
  synth::XybPoint p;
  p.x = x;
  p.y = y;
  p.z = z;
  p.grey = grey;
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
  std::string path = dir.File("scan.xyb");
  ASSERT_TRUE(synth::WriteXyb(path, {P(0, 0, 0, 500), P(1.5, -2, 3, 75), P(0, 0, 0, 1),
                                     P(0, 0, 1, 2000), P(-4, 5, -6, 1912), P(0, 0, 0, 9)}));
  XYBReader reader;
  ASSERT_TRUE(reader.Open(Wide(path).c_str()));
  EXPECT_DOUBLE_EQ(3.280839895013124, reader.UnitsToFeetConversionFactor());

  std::vector<Point> p = ReadPass(reader);
  ASSERT_EQ(3u, p.size());
  EXPECT_EQ(1.5, p[0].x);
  EXPECT_EQ(-2.0, p[0].y);
  EXPECT_EQ(3.0, p[0].z);
  EXPECT_EQ(10, p[0].red);
  EXPECT_EQ(10, p[0].green);
  EXPECT_EQ(10, p[0].blue);
  EXPECT_EQ(1.0, p[1].z);
  EXPECT_EQ(255, p[1].red);  // 2000 / 7.5 is capped
  EXPECT_EQ(254, p[2].red);  // 1912 / 7.5 = 254.9 truncates

  Stats s = GetStats(reader);
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(1u, s.mask);
  EXPECT_EQ(3u, s.count);
  EXPECT_EQ(-4.0, s.mn[0]);
  EXPECT_EQ(-2.0, s.mn[1]);
  EXPECT_EQ(-6.0, s.mn[2]);
  EXPECT_EQ(1.5, s.mx[0]);
  EXPECT_EQ(5.0, s.mx[1]);
  EXPECT_EQ(3.0, s.mx[2]);

  // The statistics scan leaves the file at its end; a pass rewinds.
  EXPECT_EQ(3u, ReadPass(reader).size());
  reader.Close();
}

TEST(XYBReader, StatisticsAreComputedOnceAndSurviveClose) {
  TempDir dir;
  std::string path = dir.File("scan.xyb");
  ASSERT_TRUE(synth::WriteXyb(path, {P(1, 2, 3, 0), P(4, 5, 6, 0)}));
  XYBReader reader;
  Stats before = GetStats(reader);  // never opened: nothing to scan
  EXPECT_FALSE(before.ok);
  EXPECT_EQ(1u, before.mask);
  EXPECT_EQ(12345u, before.count);
  EXPECT_EQ(-1.0, before.mn[0]);

  ASSERT_TRUE(reader.Open(Wide(path).c_str()));
  ASSERT_EQ(2u, GetStats(reader).count);
  reader.Close();
  // Replace the file: cached values must not be recomputed.
  ASSERT_TRUE(synth::WriteXyb(path, {P(9, 9, 9, 0)}));
  Stats after = GetStats(reader);
  ASSERT_TRUE(after.ok);
  EXPECT_EQ(2u, after.count);
  EXPECT_EQ(6.0, after.mx[2]);
  ASSERT_TRUE(reader.Open(Wide(path).c_str()));
  EXPECT_EQ(2u, GetStats(reader).count);
  EXPECT_EQ(1u, ReadPass(reader).size());
  reader.Close();
  double x, y, z;
  unsigned char r, g, b;
  EXPECT_FALSE(reader.ReadFirstPoint(x, y, z, r, g, b));
}

TEST(XYBReader, HeaderLinesMustBeginWithTheirKeywords) {
  TempDir dir;
  struct Case {
    const char* why;
    std::string lines[4];
    bool accepted;
  };
  const std::string l63(63 - 5, 'x'), l64(64 - 5, 'x');
  const Case cases[] = {
      {"defaults", {"# FARO XYZ binary format v1", "ScanPosition 0", "Rows 1", "Cols 1"}, true},
      {"lower case with text",
       {"# faro xyz BINARY format and more", "scanposition 1 2 3", "ROWS 7", "cols 9"},
       true},
      {"carriage return kept", {"# FARO XYZ binary format \r", "ScanPosition \r", "Rows \r",
                                "Cols \r"}, true},
      {"63 bytes", {"# FARO XYZ binary format v1", "ScanPosition 0", "Rows " + l63, "Cols 1"}, true},
      {"carriage return is no blank", {"# FARO XYZ binary format v1", "ScanPosition 0", "Rows\r",
                                       "Cols 1"}, false},
      {"64 bytes", {"# FARO XYZ binary format v1", "ScanPosition 0", "Rows " + l64, "Cols 1"}, false},
      {"no keyword", {"FARO XYZ binary format", "ScanPosition 0", "Rows 1", "Cols 1"}, false},
      {"keyword without blank", {"# FARO XYZ binary format v1", "ScanPosition", "Rows 1", "Cols 1"},
       false},
      {"lines swapped", {"# FARO XYZ binary format v1", "ScanPosition 0", "Cols 1", "Rows 1"}, false},
      {"empty line", {"# FARO XYZ binary format v1", "", "Rows 1", "Cols 1"}, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    synth::XybOptions o;
    for (int i = 0; i < 4; ++i) o.lines[i] = c.lines[i];
    std::string path = dir.File("h" + std::to_string(n++) + ".xyb");
    ASSERT_TRUE(synth::WriteXyb(path, {P(1, 1, 1, 75)}, o));
    XYBReader reader;
    EXPECT_EQ(c.accepted, reader.Open(Wide(path).c_str()));
    if (c.accepted) {
      EXPECT_EQ(1u, ReadPass(reader).size());
      reader.Close();
    }
  }
}

TEST(XYBReader, TruncatedInputsFailOrEndCleanly) {
  TempDir dir;
  XYBReader reader;
  EXPECT_FALSE(reader.Open(nullptr));
  EXPECT_FALSE(reader.Open(Wide(dir.Path()).c_str()));

  // Header ends mid-way, or the four skipped bytes are missing.
  std::string path = dir.File("cut.xyb");
  const std::string header =
      "# FARO XYZ binary format v1\nScanPosition 0\nRows 1\nCols 1\n";
  for (size_t keep : {size_t(0), size_t(10), header.size(), header.size() + 3, header.size() + 4}) {
    SCOPED_TRACE(keep);
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.resize(keep, 0);
    readers_test::WriteBytes(path, bytes);
    EXPECT_EQ(keep == header.size() + 4, reader.Open(Wide(path).c_str()));
    reader.Close();
  }

  // Without the last line feed the fourth line runs on into the data.
  synth::XybOptions noFeed;
  noFeed.omitLastLineFeed = true;
  ASSERT_TRUE(synth::WriteXyb(path, {}, noFeed));
  EXPECT_FALSE(reader.Open(Wide(path).c_str()));
  ASSERT_TRUE(synth::WriteXyb(path, {P(1, 2, 3, 75), P(1, 2, 3, 75), P(1, 2, 3, 75)}, noFeed));
  EXPECT_FALSE(reader.Open(Wide(path).c_str()));

  // No records at all.
  ASSERT_TRUE(synth::WriteXyb(path, {}));
  XYBReader empty;
  ASSERT_TRUE(empty.Open(Wide(path).c_str()));
  Stats s = GetStats(empty);
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(0u, s.count);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(1e30, s.mn[i]);
    EXPECT_EQ(-1e30, s.mx[i]);
  }
  EXPECT_TRUE(ReadPass(empty).empty());
  empty.Close();

  // A cut last record is neither delivered nor counted.
  synth::XybOptions cut;
  cut.truncateLastRecordBy = 1;
  ASSERT_TRUE(synth::WriteXyb(path, {P(1, 1, 1, 0), P(2, 2, 2, 0), P(3, 3, 3, 0)}, cut));
  XYBReader partial;
  ASSERT_TRUE(partial.Open(Wide(path).c_str()));
  EXPECT_EQ(2u, GetStats(partial).count);
  EXPECT_EQ(2.0, GetStats(partial).mx[0]);
  EXPECT_EQ(2u, ReadPass(partial).size());
  partial.Close();
}

TEST(XYBReader, GeneratedSceneStatisticsMatchThePoints) {
  TempDir dir;
  synth::SceneOptions scene;
  scene.points = 4321;
  std::string path = dir.File("scene.xyb");
  ASSERT_TRUE(synth::WriteSceneXyb(path, scene));
  XYBReader reader;
  ASSERT_TRUE(reader.Open(Wide(path).c_str()));
  Stats s = GetStats(reader);
  std::vector<Point> p = ReadPass(reader);
  reader.Close();
  ASSERT_EQ(s.count, p.size());
  EXPECT_EQ(scene.points, p.size());
  double mn[3] = {1e30, 1e30, 1e30}, mx[3] = {-1e30, -1e30, -1e30};
  bool greyVaries = false;
  for (const Point& q : p) {
    const double v[3] = {q.x, q.y, q.z};
    for (int i = 0; i < 3; ++i) {
      mn[i] = std::min(mn[i], v[i]);
      mx[i] = std::max(mx[i], v[i]);
    }
    greyVaries |= q.red != p[0].red;
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(mn[i], s.mn[i]);
    EXPECT_EQ(mx[i], s.mx[i]);
  }
  EXPECT_TRUE(greyVaries);
}

}  // namespace
