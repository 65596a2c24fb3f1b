#include "import/normal_code.h"

#include <math.h>

#include <limits>

#include <gtest/gtest.h>

using vorlin::NormalCode;

namespace {
const double kPi = 3.14159265358979323846;
}

TEST(NormalCode, CodeBookBands) {
  // band, size, first code
  const int rows[][3] = {{1, 12, 1},      {2, 20, 13},     {4, 26, 53},    {14, 81, 574},
                         {27, 113, 1877}, {28, 116, 1990}, {42, 81, 3441}, {54, 19, 4063},
                         {55, 12, 4082}};
  auto z = [](int code) {
    double d[3];
    vorlin::NormalDirection(uint16_t(code), d);
    return d[2];
  };
  for (const auto& row : rows) {
    double theta = row[0] * kPi / 56;
    double d[3];
    vorlin::NormalDirection(uint16_t(row[2]), d);
    EXPECT_DOUBLE_EQ(d[0], sin(theta)) << row[0];  // j = 0 at longitude 0
    EXPECT_EQ(d[1], 0.0) << row[0];
    // The band is exactly [first, first + size).
    EXPECT_EQ(z(row[2] + row[1] - 1), d[2]) << row[0];
    EXPECT_NE(z(row[2] - 1), d[2]) << row[0];
    EXPECT_NE(z(row[2] + row[1]), d[2]) << row[0];
  }
  double d[3];
  for (uint16_t none : {vorlin::kNoNormal, uint16_t(60000)}) {  // beyond 12 bits: none either
    vorlin::NormalDirection(none, d);
    EXPECT_EQ(fabs(d[0]) + fabs(d[1]) + fabs(d[2]), 0.0);
  }

  // Every direction of the book, poles included, encodes to its own code.
  for (int code = 0; code <= 4094; ++code) {
    vorlin::NormalDirection(uint16_t(code), d);
    ASSERT_NEAR(d[0] * d[0] + d[1] * d[1] + d[2] * d[2], 1.0, 1e-12) << code;
    ASSERT_EQ(NormalCode(d[0], d[1], d[2]), code) << code;
  }
}

TEST(NormalCode, Encoding) {
  EXPECT_EQ(NormalCode(1, 0, 0), 1990);
  EXPECT_EQ(NormalCode(0, 1, 0), 2019);
  EXPECT_EQ(NormalCode(-1, 0, 0), 2048);
  EXPECT_EQ(NormalCode(0, -1, 0), 2077);
  EXPECT_EQ(NormalCode(0, 0, 5), 0);
  EXPECT_EQ(NormalCode(0, 0, -2), 4094);
  EXPECT_EQ(NormalCode(0, 3e-5, 0), 2019);
  EXPECT_EQ(NormalCode(1e300, 0, 0), 1990);  // length beyond float range
  // Near a pole the pole wins over band 1.
  EXPECT_EQ(NormalCode(sin(0.4 * kPi / 56), 0, cos(0.4 * kPi / 56)), 0);

  // Longitude rounds to the nearest code; just below a full turn wraps to j = 0.
  const double step = 2 * kPi / 116;
  auto equator = [](double phi) { return NormalCode(cos(phi), sin(phi), 0); };
  EXPECT_EQ(equator(0.6 * step), 1991);
  EXPECT_EQ(equator(5.3 * step), 1995);
  EXPECT_EQ(equator(2 * kPi - 0.4 * step), 1990);
  EXPECT_EQ(equator(2 * kPi - 0.6 * step), 1990 + 115);
}

TEST(NormalCode, NoDirectionGivesNoNormal) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(NormalCode(0, 0, 0), 4095);
  EXPECT_EQ(NormalCode(5e-7, -5e-7, 0), 4095);
  EXPECT_EQ(NormalCode(0, 0, double(1e-06f)), 4095);  // the float just below 1e-6
  EXPECT_EQ(NormalCode(0, 0, 1.0000001e-06), 0);
  EXPECT_EQ(NormalCode(nan, 0, 1), 4095);
  EXPECT_EQ(NormalCode(0, 0, nan), 4095);
  EXPECT_EQ(NormalCode(inf, 0, 0), 4095);
}
