// The query command against points whose positions are known exactly: every
// printed point must be a source point, none twice, and a clipped query must
// print exactly the source points inside its region.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include "cli_fixture.h"

namespace vorlin_test {
namespace {

using Key = std::tuple<long long, long long, long long>;

Key KeyOf(double x, double y, double z) {
  return Key(std::llround(x / kGridStep), std::llround(y / kGridStep), std::llround(z / kGridStep));
}

struct Printed {
  std::vector<Key> keys;
  int malformed = 0;
  double worstError = 0.0;  // distance from the nearest grid position
};

Printed ParsePoints(const std::string& text, char separator, bool header) {
  Printed printed;
  std::istringstream in(text);
  std::string line;
  if (header) std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<double> fields;
    std::istringstream parts(line);
    std::string field;
    while (std::getline(parts, field, separator)) fields.push_back(std::stod(field));
    if (fields.size() != 9) {
      ++printed.malformed;
      continue;
    }
    Key key = KeyOf(fields[0], fields[1], fields[2]);
    printed.worstError = std::max({printed.worstError,
                                   std::fabs(fields[0] - std::get<0>(key) * kGridStep),
                                   std::fabs(fields[1] - std::get<1>(key) * kGridStep),
                                   std::fabs(fields[2] - std::get<2>(key) * kGridStep)});
    printed.keys.push_back(key);
  }
  return printed;
}

// Source points as a multiset, optionally only those inside an xy or xyz box.
std::map<Key, int> SourceKeys(const double* lo = nullptr, const double* hi = nullptr, int axes = 3) {
  std::map<Key, int> keys;
  for (const synth::LasPoint& p : Scene().points) {
    const double v[3] = {p.x, p.y, p.z};
    bool inside = true;
    for (int a = 0; lo && a < axes; ++a) inside = inside && v[a] >= lo[a] && v[a] <= hi[a];
    if (inside) ++keys[KeyOf(p.x, p.y, p.z)];
  }
  return keys;
}

// Every printed key is taken from the source multiset at most as often as
// it occurs there; returns the number of points printed in excess.
int Unmatched(const Printed& printed, std::map<Key, int> source) {
  int unmatched = 0;
  for (const Key& key : printed.keys) {
    auto it = source.find(key);
    if (it == source.end() || it->second == 0) {
      ++unmatched;
    } else {
      --it->second;
    }
  }
  return unmatched;
}

std::string Bounds(double lo[3], double hi[3]) {
  for (int a = 0; a < 3; ++a) {
    lo[a] = 1e300;
    hi[a] = -1e300;
  }
  for (const synth::LasPoint& p : Scene().points) {
    const double v[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], v[a]);
      hi[a] = std::max(hi[a], v[a]);
    }
  }
  std::ostringstream box;
  box.precision(17);
  box << lo[0] - 1 << "," << lo[1] - 1 << "," << lo[2] - 1 << "," << hi[0] + 1 << ","
      << hi[1] + 1 << "," << hi[2] + 1;
  return box.str();
}

TEST(CliQuery, WholeFileRoundTripsInEveryMode) {
  const SharedScene& scene = Scene();
  ASSERT_EQ(scene.import.exitCode, 0) << scene.import.err;
  double lo[3], hi[3];
  const std::string box = Bounds(lo, hi);
  for (const char* mode : {"points", "set", "cursor"}) {
    CliResult r = RunCli({"query", scene.qzv, "--box", box, "--count", "30000", "--mode", mode,
                          "--batch", "3000"});
    ASSERT_EQ(r.exitCode, 0) << mode << "\n" << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "x,y,z,red,green,blue,intensity,normal,custom");
    Printed printed = ParsePoints(r.out, ',', true);
    EXPECT_EQ(printed.malformed, 0) << mode;
    EXPECT_LT(printed.worstError, 1e-4) << mode;
    EXPECT_EQ(Unmatched(printed, SourceKeys()), 0) << mode;
    EXPECT_TRUE(Contains(r.err, "visible points: 20,000 of 20,000")) << r.err;
    // One fetch delivers exactly what was asked; a point set aims at about
    // that many, and a cursor need not reach cells whose LOD value is 0.
    if (std::string(mode) == "points") {
      EXPECT_EQ(printed.keys.size(), 20000u);
      EXPECT_TRUE(Contains(r.err, "delivered: 20,000")) << r.err;
    } else {
      EXPECT_GT(printed.keys.size(), 19000u) << mode;
    }
    if (std::string(mode) == "cursor") {
      EXPECT_TRUE(Contains(r.err, "refinement 2:")) << r.err;
    }
  }
}

TEST(CliQuery, ClippedBoxPrintsExactlyThePointsInside) {
  const SharedScene& scene = Scene();
  double lo[3], hi[3];
  Bounds(lo, hi);
  // Faces half-way between grid positions, so no point lies on one.
  double boxLo[3], boxHi[3];
  for (int a = 0; a < 3; ++a) {
    double span = hi[a] - lo[a];
    boxLo[a] = (std::floor((lo[a] + span * 0.2) / kGridStep) + 0.5) * kGridStep;
    boxHi[a] = (std::floor((lo[a] + span * 0.7) / kGridStep) + 0.5) * kGridStep;
  }
  std::ostringstream box;
  box.precision(17);
  box << boxLo[0] << "," << boxLo[1] << "," << boxLo[2] << "," << boxHi[0] << "," << boxHi[1]
      << "," << boxHi[2];
  const std::map<Key, int> inside = SourceKeys(boxLo, boxHi);
  size_t insideCount = 0;
  for (const auto& entry : inside) insideCount += size_t(entry.second);
  ASSERT_GT(insideCount, 100u);

  for (const char* mode : {"points", "set"}) {
    CliResult r = RunCli({"query", scene.qzv, "--box", box.str(), "--clip", "--mode", mode,
                          "--batch", "500", "--format", "xyz"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Printed printed = ParsePoints(r.out, ' ', false);
    EXPECT_EQ(printed.malformed, 0);
    EXPECT_EQ(printed.keys.size(), insideCount) << mode;
    EXPECT_EQ(Unmatched(printed, inside), 0) << mode;
    EXPECT_TRUE(Contains(r.err, "delivered: ")) << r.err;
  }
  // Without --clip whole cells come back: a superset.
  CliResult whole = RunCli({"query", scene.qzv, "--box", box.str()});
  EXPECT_GE(ParsePoints(whole.out, ',', true).keys.size(), insideCount);
}

// A frustum with parallel sides looking straight down: it sees the points of
// an x-y rectangle at any height.
std::string DownwardFrustum(double x0, double y0, double x1, double y1, double zTop, double zBottom,
                            bool mirrored) {
  // Looking along -z with y up on the picture, the left-handed naming puts
  // the corners called "right" at the smaller x.
  double right = mirrored ? x1 : x0, left = mirrored ? x0 : x1;
  std::ostringstream out;
  out.precision(17);
  for (double z : {zTop, zBottom}) {
    out << right << "," << y1 << "," << z << "," << left << "," << y1 << "," << z << "," << left
        << "," << y0 << "," << z << "," << right << "," << y0 << "," << z << (z == zTop ? "," : "");
  }
  return out.str();
}

TEST(CliQuery, FrustumSeesItsRectangleAndWarnsWhenInsideOut) {
  const SharedScene& scene = Scene();
  double lo[3], hi[3];
  Bounds(lo, hi);
  double x0 = (std::floor((lo[0] + 0.25 * (hi[0] - lo[0])) / kGridStep) + 0.5) * kGridStep;
  double x1 = (std::floor((lo[0] + 0.60 * (hi[0] - lo[0])) / kGridStep) + 0.5) * kGridStep;
  double y0 = (std::floor((lo[1] + 0.10 * (hi[1] - lo[1])) / kGridStep) + 0.5) * kGridStep;
  double y1 = (std::floor((lo[1] + 0.50 * (hi[1] - lo[1])) / kGridStep) + 0.5) * kGridStep;
  const double rectLo[2] = {x0, y0}, rectHi[2] = {x1, y1};
  const std::map<Key, int> inside = SourceKeys(rectLo, rectHi, 2);
  size_t insideCount = 0;
  for (const auto& entry : inside) insideCount += size_t(entry.second);

  CliResult r = RunCli({"query", scene.qzv, "--frustum",
                        DownwardFrustum(x0, y0, x1, y1, hi[2] + 5, lo[2] - 5, false), "--clip"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Printed printed = ParsePoints(r.out, ',', true);
  EXPECT_EQ(printed.keys.size(), insideCount);
  EXPECT_EQ(Unmatched(printed, inside), 0);
  EXPECT_FALSE(Contains(r.err, "warning"));

  CliResult mirrored = RunCli({"query", scene.qzv, "--frustum",
                               DownwardFrustum(x0, y0, x1, y1, hi[2] + 5, lo[2] - 5, true)});
  EXPECT_EQ(mirrored.exitCode, 0);
  EXPECT_TRUE(Contains(mirrored.err, "right-handed")) << mirrored.err;
}

TEST(CliQuery, CountOutFileAndBadFiles) {
  const SharedScene& scene = Scene();
  TempDir dir;
  CliResult r = RunCli({"query", scene.qzv, "--count", "1234", "--out", dir.file("p.csv")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  Printed printed = ParsePoints(ReadFileText(dir.file("p.csv")), ',', true);
  EXPECT_EQ(printed.keys.size(), 1234u);
  EXPECT_EQ(Unmatched(printed, SourceKeys()), 0);

  CliResult noFolder = RunCli({"query", scene.qzv, "--out", dir.file("none/p.csv")});
  EXPECT_EQ(noFolder.exitCode, 1);
  EXPECT_TRUE(Contains(noFolder.err, "none/p.csv")) << noFolder.err;
  CliResult missing = RunCli({"query", dir.file("gone.qzv")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(Contains(missing.err, "gone.qzv': no such file")) << missing.err;
  CliResult notQzv = RunCli({"query", scene.las});
  EXPECT_EQ(notQzv.exitCode, 1);
  EXPECT_TRUE(Contains(notQzv.err, "scene.las': not a QZV file")) << notQzv.err;
}

}  // namespace
}  // namespace vorlin_test
