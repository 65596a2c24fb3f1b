#include "vorlin/codec_reader.h"

#include <math.h>

#include <memory>

#include <gtest/gtest.h>

namespace {

// Delivers scripted points and counts the calls made on it.
class FakeCodecFileReader : public CodecFileReader {
 public:
  struct Point {
    double x, y, z;
    unsigned char red, green, blue, custom;
    float intensity, nx, ny, nz;
  };

  explicit FakeCodecFileReader(std::vector<Point> scripted = {}, bool* destroyed = nullptr)
      : points(std::move(scripted)), m_destroyed(destroyed) {}
  ~FakeCodecFileReader() override {
    if (m_destroyed) *m_destroyed = true;
  }

  bool open(const wchar_t* fileName) override {
    ++opens;
    lastName = fileName ? fileName : L"";
    return openSucceeds;
  }
  void close() override { ++closes; }
  void statistics(double* minXYZ, double* maxXYZ, unsigned long long& pointCount,
                  unsigned int& attributes) override {
    for (int i = 0; i < 3; ++i) {
      minXYZ[i] = -1.0 - i;
      maxXYZ[i] = 1.0 + i;
    }
    pointCount = points.size();
    attributes = 7;
  }
  bool firstPoint(double& x, double& y, double& z, unsigned char& red, unsigned char& green,
                  unsigned char& blue, unsigned char& customAttribute, float& intensity,
                  float& normalX, float& normalY, float& normalZ) override {
    m_next = 0;
    return nextPoint(x, y, z, red, green, blue, customAttribute, intensity, normalX, normalY,
                     normalZ);
  }
  bool nextPoint(double& x, double& y, double& z, unsigned char& red, unsigned char& green,
                 unsigned char& blue, unsigned char& customAttribute, float& intensity,
                 float& normalX, float& normalY, float& normalZ) override {
    if (m_next >= points.size()) return false;
    const Point& p = points[m_next++];
    x = p.x;
    y = p.y;
    z = p.z;
    red = p.red;
    green = p.green;
    blue = p.blue;
    customAttribute = p.custom;
    intensity = p.intensity;
    normalX = p.nx;
    normalY = p.ny;
    normalZ = p.nz;
    return true;
  }

  bool openSucceeds = true;
  int opens = 0, closes = 0;
  std::wstring lastName;
  std::vector<Point> points;

 private:
  bool* m_destroyed;
  size_t m_next = 0;
};

unsigned char IntensityOf(float value) {
  FakeCodecFileReader fake({{1, 2, 3, 4, 5, 6, 7, value, 0, 0, 1}});
  CodecReader reader(&fake);
  double x, y, z;
  unsigned char r, g, b, intensity = 77, custom;
  float nx, ny, nz;
  EXPECT_TRUE(reader.ReadFirstPointEx(x, y, z, r, g, b, intensity, nx, ny, nz, custom));
  return intensity;
}

TEST(CodecReader, IntensityKeepsTheLowEightBitsOfTheScaledValue) {
  EXPECT_EQ(0, IntensityOf(0.0f));
  EXPECT_EQ(128, IntensityOf(0.5f));
  EXPECT_EQ(255, IntensityOf(0.999f));
  EXPECT_EQ(1, IntensityOf(1.0f / 256 + 1e-6f));
  EXPECT_EQ(0, IntensityOf(1.0f));   // 256 wraps
  EXPECT_EQ(128, IntensityOf(1.5f));  // 384
  EXPECT_EQ(128, IntensityOf(-0.5f));
  EXPECT_EQ(0, IntensityOf(NAN));
  EXPECT_EQ(0, IntensityOf(INFINITY));
  EXPECT_EQ(0, IntensityOf(3e30f));
}

TEST(CodecReader, ForwardsPointsInTheAdaptersOrder) {
  FakeCodecFileReader fake({{1.5, 2.5, 3.5, 10, 20, 30, 9, 0.25f, 0.1f, 0.2f, 0.3f},
                            {-1, -2, -3, 40, 50, 60, 31, 0.75f, 0, 1, 0}});
  CodecReader reader(&fake);
  double x, y, z;
  unsigned char r, g, b, intensity, custom;
  float nx, ny, nz;
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_TRUE(reader.ReadFirstPointEx(x, y, z, r, g, b, intensity, nx, ny, nz, custom));
    EXPECT_EQ(1.5, x);
    EXPECT_EQ(3.5, z);
    EXPECT_EQ(20, g);
    EXPECT_EQ(64, intensity);
    EXPECT_EQ(9, custom);
    EXPECT_EQ(0.1f, nx);
    EXPECT_EQ(0.3f, nz);
    ASSERT_TRUE(reader.ReadNextPointEx(x, y, z, r, g, b, intensity, nx, ny, nz, custom));
    EXPECT_EQ(-2.0, y);
    EXPECT_EQ(60, b);
    EXPECT_EQ(192, intensity);
    EXPECT_EQ(31, custom);
    EXPECT_EQ(1.0f, ny);
    EXPECT_FALSE(reader.ReadNextPointEx(x, y, z, r, g, b, intensity, nx, ny, nz, custom));
  }
  ASSERT_TRUE(reader.ReadFirstPoint(x, y, z, r, g, b));
  EXPECT_EQ(10, r);
  ASSERT_TRUE(reader.ReadNextPoint(x, y, z, r, g, b));
  EXPECT_EQ(40, r);
  EXPECT_FALSE(reader.ReadNextPoint(x, y, z, r, g, b));
}

TEST(CodecReader, ForwardsOpenCloseAndStatistics) {
  FakeCodecFileReader fake;
  CodecReader reader(&fake);
  ASSERT_TRUE(reader.Open(L"scan.codec"));
  EXPECT_EQ(L"scan.codec", fake.lastName);
  EXPECT_EQ(0, fake.closes);

  double mn[3], mx[3];
  unsigned long long count = 99;
  unsigned int mask = 0;
  EXPECT_TRUE(reader.FileStats(mn, mx, count, mask));
  EXPECT_EQ(-3.0, mn[2]);
  EXPECT_EQ(2.0, mx[1]);
  EXPECT_EQ(0u, count);
  EXPECT_EQ(7u, mask);
  EXPECT_EQ(0.0, reader.UnitsToFeetConversionFactor());
  reader.Close();
  EXPECT_EQ(1, fake.closes);

  // A refused open is closed once before the failure is reported.
  fake.openSucceeds = false;
  EXPECT_FALSE(reader.Open(L"bad"));
  EXPECT_EQ(2, fake.opens);
  EXPECT_EQ(2, fake.closes);
}

TEST(CodecReader, NeitherOwnsNorCopiesTheWrappedReader) {
  bool destroyed = false;
  FakeCodecFileReader fake({{1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0}}, &destroyed);
  {
    auto reader = std::make_unique<CodecReader>(&fake);
    CodecReader copy(*reader);
    FakeCodecFileReader other;
    CodecReader assigned(&other);
    assigned = copy;
    reader.reset();
    EXPECT_FALSE(destroyed);

    ASSERT_TRUE(copy.Open(L"a"));
    ASSERT_TRUE(assigned.Open(L"b"));
    EXPECT_EQ(2, fake.opens);
    EXPECT_EQ(0, other.opens);
    copy.Close();
    assigned.Close();
    EXPECT_EQ(2, fake.closes);
  }
  EXPECT_FALSE(destroyed);
  double x, y, z;
  unsigned char r, g, b, c;
  float i, nx, ny, nz;
  EXPECT_TRUE(fake.firstPoint(x, y, z, r, g, b, c, i, nx, ny, nz));
}

}  // namespace
