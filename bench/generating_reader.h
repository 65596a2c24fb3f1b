#ifndef VORLIN_BENCH_GENERATING_READER_H
#define VORLIN_BENCH_GENERATING_READER_H

// A reader whose points are made on the fly, so that an import of any size
// needs no source file and measures the import alone. The same count and
// cloud always give the same points.
//
//   cluster: uniform in a 1 m cube, plus four far points that stretch the
//            grid so that the cube is one cell;
//   scan:    a terrestrial scan whose density falls with the square of the
//            distance from the scanner (0.5 m to 60 m);
//   spread:  uniform in a 4000 x 4000 x 100 m box.

#include <math.h>
#include <stdint.h>
#include <string.h>

#include "vorlin/reader.h"

namespace vorlin_bench {

enum class Cloud { kCluster, kScan, kSpread };

// The cloud named by name; false for an unknown name.
inline bool ParseCloud(const char* name, Cloud& cloud) {
  if (strcmp(name, "cluster") == 0) {
    cloud = Cloud::kCluster;
  } else if (strcmp(name, "scan") == 0) {
    cloud = Cloud::kScan;
  } else if (strcmp(name, "spread") == 0) {
    cloud = Cloud::kSpread;
  } else {
    return false;
  }
  return true;
}

class GeneratingReader : public Zelvane::Vorlin::IReader {
 public:
  GeneratingReader(Cloud cloud, uint64_t count) : m_cloud(cloud), m_count(count) {}

  bool Open(const wchar_t*) override { return true; }
  void Close() override {}
  bool FileStats(double* lo, double* hi, unsigned long long& count,
                 unsigned int& attributes) override {
    for (int a = 0; a < 3; ++a) {
      switch (m_cloud) {
        case Cloud::kCluster:
          lo[a] = -500.0, hi[a] = 500.0;
          break;
        case Cloud::kScan:
          lo[a] = -60.0, hi[a] = 60.0;
          break;
        case Cloud::kSpread:
          lo[a] = 0.0, hi[a] = a == 2 ? 100.0 : 4000.0;
          break;
      }
    }
    count = m_count;
    attributes = 1;
    return true;
  }
  bool ReadFirstPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                      unsigned char& b) override {
    m_index = 0;
    m_state = 0x9E3779B97F4A7C15ull;
    return ReadNextPoint(x, y, z, r, g, b);
  }
  bool ReadNextPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                     unsigned char& b) override {
    if (m_index >= m_count) return false;
    const uint64_t i = m_index++;
    r = g = b = uint8_t(i);
    switch (m_cloud) {
      case Cloud::kCluster:
        if (i < 4) {  // the far points
          x = (i & 1) ? 500.0 : -500.0;
          y = (i & 2) ? 500.0 : -500.0;
          z = i < 2 ? 500.0 : -500.0;
          return true;
        }
        x = Uniform(), y = Uniform(), z = Uniform();
        return true;
      case Cloud::kScan: {
        // Uniform distance gives a density falling with its square.
        const double distance = 0.5 + 59.5 * Uniform();
        const double up = 2.0 * Uniform() - 1.0;
        const double around = 6.283185307179586 * Uniform();
        const double flat = sqrt(1.0 - up * up);
        x = distance * flat * cos(around);
        y = distance * flat * sin(around);
        z = distance * up;
        return true;
      }
      case Cloud::kSpread:
        x = 4000.0 * Uniform();
        y = 4000.0 * Uniform();
        z = 100.0 * Uniform();
        return true;
    }
    return false;
  }
  double UnitsToFeetConversionFactor() override { return 0.0; }

 private:
  double Uniform() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 7;
    m_state ^= m_state << 17;
    return double(m_state >> 11) * (1.0 / 9007199254740992.0);
  }

  Cloud m_cloud;
  uint64_t m_count;
  uint64_t m_index = 0;
  uint64_t m_state = 0;
};

}  // namespace vorlin_bench

#endif
