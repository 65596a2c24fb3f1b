#include "import/normal_code.h"

#include <math.h>

#include <limits>

#include <gtest/gtest.h>

using vorlin::NormalCode;
using vorlin::NormalDirection;

namespace {

const double kPi = 3.14159265358979323846;

double DirectionZ(int code) {
  double d[3];
  NormalDirection(uint16_t(code), d);
  return d[2];
}

}  // namespace

TEST(NormalCodeBook, BandRows) {
  struct Row {
    int band, size, first;
  };
  const Row rows[] = {{1, 12, 1},       {2, 20, 13},      {3, 20, 33},     {4, 26, 53},
                      {5, 33, 79},      {10, 61, 300},    {14, 81, 574},   {20, 102, 1118},
                      {27, 113, 1877},  {28, 116, 1990},  {29, 113, 2106}, {42, 81, 3441},
                      {53, 20, 4043},   {54, 19, 4063},   {55, 12, 4082}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.band);
    double theta = row.band * kPi / 56;
    double d[3];
    NormalDirection(uint16_t(row.first), d);
    EXPECT_DOUBLE_EQ(d[0], sin(theta));  // j = 0 lies at longitude 0
    EXPECT_DOUBLE_EQ(d[1], 0.0);
    EXPECT_DOUBLE_EQ(d[2], cos(theta));
    // The band is exactly [first, first + size): neighbours lie on other bands.
    EXPECT_EQ(DirectionZ(row.first + row.size - 1), d[2]);
    EXPECT_NE(DirectionZ(row.first - 1), d[2]);
    EXPECT_NE(DirectionZ(row.first + row.size), d[2]);
  }
  double d[3];
  NormalDirection(vorlin::kNormalNorthPole, d);
  EXPECT_EQ(d[2], 1.0);
  NormalDirection(vorlin::kNormalSouthPole, d);
  EXPECT_EQ(d[2], -1.0);
  NormalDirection(vorlin::kNoNormal, d);
  EXPECT_EQ(d[0] * d[0] + d[1] * d[1] + d[2] * d[2], 0.0);
  NormalDirection(60000, d);  // out of the 12-bit range: no direction
  EXPECT_EQ(d[0] * d[0] + d[1] * d[1] + d[2] * d[2], 0.0);
  // The last band code is 4093.
  EXPECT_DOUBLE_EQ(DirectionZ(4093), cos(55 * kPi / 56));
}

TEST(NormalCodeBook, EveryDirectionEncodesToItsOwnCode) {
  for (int code = 0; code <= 4094; ++code) {
    double d[3];
    NormalDirection(uint16_t(code), d);
    ASSERT_NEAR(d[0] * d[0] + d[1] * d[1] + d[2] * d[2], 1.0, 1e-12) << code;
    ASSERT_EQ(NormalCode(d[0], d[1], d[2]), code) << code;
  }
}

TEST(NormalCode, AxesAndPoles) {
  EXPECT_EQ(NormalCode(1, 0, 0), 1990);
  EXPECT_EQ(NormalCode(0, 1, 0), 2019);
  EXPECT_EQ(NormalCode(-1, 0, 0), 2048);
  EXPECT_EQ(NormalCode(0, -1, 0), 2077);
  EXPECT_EQ(NormalCode(0, 0, 5), 0);
  EXPECT_EQ(NormalCode(0, 0, -2), 4094);
  // Length does not matter, only direction.
  EXPECT_EQ(NormalCode(0, 3e-5, 0), 2019);
  EXPECT_EQ(NormalCode(1e300, 0, 0), 1990);
  EXPECT_EQ(NormalCode(-1e38, 0, 0), 2048);
}

TEST(NormalCode, NoDirectionGivesNoNormal) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(NormalCode(0, 0, 0), 4095);
  EXPECT_EQ(NormalCode(5e-7, -5e-7, 0), 4095);
  // The float just below 1e-6 still counts as too short.
  EXPECT_EQ(NormalCode(0, 0, double(1e-06f)), 4095);
  EXPECT_EQ(NormalCode(0, 0, 1.0000001e-06), 0);
  EXPECT_EQ(NormalCode(nan, 0, 1), 4095);
  EXPECT_EQ(NormalCode(0, nan, 1), 4095);
  EXPECT_EQ(NormalCode(0, 0, nan), 4095);
  EXPECT_EQ(NormalCode(inf, 0, 0), 4095);
  EXPECT_EQ(NormalCode(0, 0, -inf), 4095);
}

TEST(NormalCode, LongitudeRoundsToNearestAndWraps) {
  const double step = 2 * kPi / 116;  // band 28, the equator
  auto atLongitude = [](double phi) { return NormalCode(cos(phi), sin(phi), 0); };
  EXPECT_EQ(atLongitude(0.4 * step), 1990);
  EXPECT_EQ(atLongitude(0.6 * step), 1991);
  EXPECT_EQ(atLongitude(5.3 * step), 1995);
  // Within half a step below a full turn: back to j = 0.
  EXPECT_EQ(atLongitude(2 * kPi - 0.4 * step), 1990);
  EXPECT_EQ(atLongitude(2 * kPi - 0.6 * step), 1990 + 115);
}

TEST(NormalCode, NearestBand) {
  // Just either side of the midpoint between bands 1 and 2 (longitude 0).
  double mid = (cos(kPi / 56) + cos(2 * kPi / 56)) / 2;
  auto atZ = [](double z) { return NormalCode(sqrt(1 - z * z), 0, z); };
  EXPECT_EQ(atZ(mid + 1e-6), 1);
  EXPECT_EQ(atZ(mid - 1e-6), 13);
  // Close to a pole the pole wins over band 1.
  EXPECT_EQ(atZ(cos(0.4 * kPi / 56)), 0);
  EXPECT_EQ(atZ(-cos(0.4 * kPi / 56)), 4094);
}
