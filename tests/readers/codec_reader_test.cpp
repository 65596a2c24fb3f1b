#include "vorlin/codec_reader.h"

#include <math.h>


#include <gtest/gtest.h>

namespace {

// Delivers scripted points and counts its closes.
class FakeCodecFileReader : public CodecFileReader {
 public:
  struct Point {
    double x, y, z;
    unsigned char red, green, blue, custom;
    float intensity, nx, ny, nz;
  };
  explicit FakeCodecFileReader(std::vector<Point> scripted) : points(std::move(scripted)) {}

  bool open(const wchar_t*) override { return openSucceeds; }
  void close() override { ++closes; }
  void statistics(double* lo, double* hi, unsigned long long& count, unsigned int& attributes) override {
    lo[2] = -3.0, hi[1] = 2.0, count = points.size(), attributes = 7;
  }
  bool firstPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g, unsigned char& b,
                  unsigned char& custom, float& intensity, float& nx, float& ny, float& nz) override {
    m_next = 0;
    return nextPoint(x, y, z, r, g, b, custom, intensity, nx, ny, nz);
  }
  bool nextPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g, unsigned char& b,
                 unsigned char& custom, float& intensity, float& nx, float& ny, float& nz) override {
    if (m_next >= points.size()) return false;
    const Point& p = points[m_next++];
    x = p.x, y = p.y, z = p.z, r = p.red, g = p.green, b = p.blue, custom = p.custom;
    intensity = p.intensity, nx = p.nx, ny = p.ny, nz = p.nz;
    return true;
  }

  std::vector<Point> points;
  bool openSucceeds = true;
  int closes = 0;

 private:
  size_t m_next = 0;
};

TEST(CodecReader, IntensityKeepsTheLowEightBitsOfTheScaledValue) {
  // 256 and 384 wrap; values no integer can hold are not converted blindly.
  const std::pair<float, int> cases[] = {{0.5f, 128}, {0.999f, 255}, {1.0f, 0},     {1.5f, 128},
                                         {-0.5f, 128}, {NAN, 0},     {INFINITY, 0}, {3e30f, 0}};
  for (auto [value, want] : cases) {
    FakeCodecFileReader fake({{1, 2, 3, 4, 5, 6, 7, value, 0, 0, 1}});
    CodecReader reader(&fake);
    double x, y, z;
    unsigned char r, g, b, intensity = 77, custom;
    float nx, ny, nz;
    EXPECT_TRUE(reader.ReadFirstPointEx(x, y, z, r, g, b, intensity, nx, ny, nz, custom));
    EXPECT_EQ(want, intensity) << value;
  }
}

// The host's reader may hold something after a refused open.
TEST(CodecReader, RefusedOpenIsClosedBeforeTheFailure) {
  FakeCodecFileReader refusing({});
  refusing.openSucceeds = false;
  EXPECT_FALSE(CodecReader(&refusing).Open(L"bad"));
  EXPECT_EQ(refusing.closes, 1);
}

}  // namespace
