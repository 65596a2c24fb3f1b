// The query command against points whose positions are known exactly: every
// printed point must be a source point, none twice, and a clipped query must
// print exactly the source points inside its region.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <tuple>

#include "cli_runner.h"

namespace vorlin_test {
namespace {

using Key = std::tuple<long long, long long, long long>;

Key KeyOf(double x, double y, double z) {
  return Key(std::llround(x / kGridStep), std::llround(y / kGridStep), std::llround(z / kGridStep));
}

// Printed points as grid positions; a line that is not nine numbers with a
// position on the grid is malformed.
struct Printed {
  std::vector<Key> keys;
  int malformed = 0;
};

Printed ParsePoints(const std::string& text, char separator, bool header) {
  Printed printed;
  std::istringstream in(text);
  std::string line;
  if (header) std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<double> f;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, separator);) f.push_back(std::stod(field));
    const Key key = f.size() == 9 ? KeyOf(f[0], f[1], f[2]) : Key();
    if (f.size() != 9 || std::fabs(f[0] - std::get<0>(key) * kGridStep) > 1e-4 ||
        std::fabs(f[1] - std::get<1>(key) * kGridStep) > 1e-4 || std::fabs(f[2] - std::get<2>(key) * kGridStep) > 1e-4)
      ++printed.malformed;
    else
      printed.keys.push_back(key);
  }
  return printed;
}

// The scene's bounding box.
struct Box {
  double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
  Box() {
    for (const synth::LasPoint& p : Scene().points) {
      const double v[3] = {p.x, p.y, p.z};
      for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], v[a]), hi[a] = std::max(hi[a], v[a]);
    }
  }
  // A coordinate at a fraction of the extent, half-way between grid
  // positions so that no point lies on it.
  double At(int a, double fraction) const {
    return (std::floor((lo[a] + fraction * (hi[a] - lo[a])) / kGridStep) + 0.5) * kGridStep;
  }
};

std::string Join(std::initializer_list<double> values) {
  std::ostringstream out;
  out.precision(17);
  for (double v : values) out << (out.tellp() > 0 ? "," : "") << v;
  return out.str();
}

// Source points as a multiset, only those inside the box on the first axes.
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

size_t Total(const std::map<Key, int>& keys) {
  size_t n = 0;
  for (const auto& entry : keys) n += size_t(entry.second);
  return n;
}

// Points printed more often than the source holds them.
int Unmatched(const Printed& printed, std::map<Key, int> source) {
  int unmatched = 0;
  for (const Key& key : printed.keys) unmatched += source[key]-- <= 0;
  return unmatched;
}

TEST(CliQuery, WholeFileRoundTripsInEveryMode) {
  const SharedScene& scene = Scene();
  ASSERT_EQ(scene.import.exitCode, 0) << scene.import.err;
  const Box b;
  const std::string box = Join({b.lo[0] - 1, b.lo[1] - 1, b.lo[2] - 1, b.hi[0] + 1, b.hi[1] + 1, b.hi[2] + 1});
  for (const std::string mode : {"points", "set", "cursor"}) {
    CliResult r = RunCli({"query", scene.qzv, "--box", box, "--count", "30000", "--mode", mode, "--batch", "3000"});
    ASSERT_EQ(r.exitCode, 0) << mode << "\n" << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "x,y,z,red,green,blue,intensity,normal,custom");
    Printed printed = ParsePoints(r.out, ',', true);
    EXPECT_EQ(printed.malformed, 0) << mode;
    EXPECT_EQ(Unmatched(printed, SourceKeys()), 0) << mode;
    EXPECT_TRUE(Contains(r.err, "visible points: 20,000 of 20,000")) << r.err;
    // One fetch delivers exactly what was asked; a point set aims at about
    // that many, and a cursor need not reach cells whose LOD value is 0.
    if (mode == "points") {
      EXPECT_EQ(printed.keys.size(), 20000u);
      EXPECT_TRUE(Contains(r.err, "delivered: 20,000")) << r.err;
    } else {
      EXPECT_GT(printed.keys.size(), 19000u) << mode;
    }
    EXPECT_EQ(mode == "cursor", Contains(r.err, "refinement 2:")) << r.err;
  }
}

TEST(CliQuery, ClippedBoxAndFrustumPrintExactlyThePointsInside) {
  const SharedScene& scene = Scene();
  const Box b;
  double lo[3], hi[3];
  for (int a = 0; a < 3; ++a) lo[a] = b.At(a, 0.2), hi[a] = b.At(a, 0.7);
  const std::string box = Join({lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]});
  const std::map<Key, int> inBox = SourceKeys(lo, hi);
  ASSERT_GT(Total(inBox), 100u);
  for (const char* mode : {"points", "set"}) {
    CliResult r = RunCli({"query", scene.qzv, "--box", box, "--mode", mode, "--batch", "500",
                          "--format", "xyz"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Printed printed = ParsePoints(r.out, ' ', false);
    EXPECT_EQ(printed.malformed, 0);
    EXPECT_EQ(printed.keys.size(), Total(inBox)) << mode;
    EXPECT_EQ(Unmatched(printed, inBox), 0) << mode;
  }
  // With --whole-cells whole cells come back: a superset.
  CliResult whole = RunCli({"query", scene.qzv, "--box", box, "--whole-cells"});
  EXPECT_GE(ParsePoints(whole.out, ',', true).keys.size(), Total(inBox));

  // A frustum with parallel sides looking straight down sees the points of
  // an x-y rectangle at any height. Looking along -z with y up on the
  // picture, the corners called "right" are at the smaller x; swapped, the
  // frame is mirrored.
  const double x0 = b.At(0, 0.25), x1 = b.At(0, 0.6), y0 = b.At(1, 0.1), y1 = b.At(1, 0.5);
  const double top = b.hi[2] + 5, bottom = b.lo[2] - 5;
  auto frustum = [&](double right, double left) {
    return Join({right, y1, top, left, y1, top, left, y0, top, right, y0, top,
                 right, y1, bottom, left, y1, bottom, left, y0, bottom, right, y0, bottom});
  };
  const double rectLo[2] = {x0, y0}, rectHi[2] = {x1, y1};
  const std::map<Key, int> inRect = SourceKeys(rectLo, rectHi, 2);
  CliResult r = RunCli({"query", scene.qzv, "--frustum", frustum(x0, x1), "--clip"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Printed printed = ParsePoints(r.out, ',', true);
  EXPECT_EQ(printed.keys.size(), Total(inRect));
  EXPECT_EQ(Unmatched(printed, inRect), 0);
  EXPECT_FALSE(Contains(r.err, "warning"));
  CliResult mirrored = RunCli({"query", scene.qzv, "--frustum", frustum(x1, x0)});
  EXPECT_EQ(mirrored.exitCode, 0);
  EXPECT_TRUE(Contains(mirrored.err, "right-handed")) << mirrored.err;
}

TEST(CliQuery, CountsAreMetInsideTheBoxAndBlockedExportsMatchOneFetch) {
  const SharedScene& scene = Scene();
  const Box b;
  double lo[3], hi[3];
  for (int a = 0; a < 3; ++a) lo[a] = b.At(a, 0.3), hi[a] = b.At(a, 0.6);
  const std::string box = Join({lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]});
  const std::map<Key, int> inBox = SourceKeys(lo, hi);
  TempDir dir;
  for (const std::string count : {"1", "5", "100"}) {
    for (const std::string mode : {"points", "set"}) {
      CliResult r = RunCli({"query", scene.qzv, "--box", box, "--count", count, "--mode", mode, "--out", dir.file("p.csv")});
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.out, "");
      Printed printed = ParsePoints(ReadText(dir.file("p.csv")), ',', true);
      EXPECT_EQ(Unmatched(printed, inBox), 0) << mode << " " << count;
      if (mode == "points") {
        EXPECT_EQ(printed.keys.size(), std::stoul(count)) << r.err;
      } else {
        EXPECT_GT(printed.keys.size(), 0u) << r.err;
      }
    }
  }
  // Small blocks: many fetches, the same points as one, inside the box or not.
  for (const std::vector<std::string>& extra : {std::vector<std::string>{}, std::vector<std::string>{"--box", box}}) {
    std::vector<std::string> one = {"query", scene.qzv}, many = {"query", scene.qzv, "--block", "700"};
    one.insert(one.end(), extra.begin(), extra.end());
    many.insert(many.end(), extra.begin(), extra.end());
    CliResult a = RunCli(one), c = RunCli(many);
    ASSERT_EQ(c.exitCode, 0) << c.err;
    Printed pa = ParsePoints(a.out, ',', true), pc = ParsePoints(c.out, ',', true);
    std::sort(pa.keys.begin(), pa.keys.end());
    std::sort(pc.keys.begin(), pc.keys.end());
    EXPECT_EQ(pa.keys, pc.keys);
    EXPECT_EQ(pc.keys.size(), extra.empty() ? 20000u : Total(inBox));
  }
  // A sample spread over blocks still adds up to the count.
  CliResult sample = RunCli({"query", scene.qzv, "--block", "700", "--count", "3001"});
  EXPECT_EQ(ParsePoints(sample.out, ',', true).keys.size(), 3001u);
  // A cursor that stops short says so.
  CliResult cursor = RunCli({"query", scene.qzv, "--mode", "cursor", "--batch", "5000"});
  EXPECT_TRUE(Contains(cursor.err, "delivered: 20,000") || Contains(cursor.err, "use --mode points")) << cursor.err;
}

}  // namespace
}  // namespace vorlin_test
