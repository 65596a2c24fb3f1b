// Imports dense synthetic clouds made on the fly by a reader, so that the
// numbers are the import's own and no source file is needed:
//
//   cluster N: N points uniform in a 1 m cube, plus four far points that
//              stretch the grid, so that the cube is one cell of the grid;
//   scan N:    a terrestrial scan, N points whose density falls with the
//              square of the distance from the scanner (0.5 m to 60 m).
//
//   vorlin_bench_dense_cells cluster|scan N OUTPUT [SEED]
//
// Prints the stage times, points per second of CPU and of wall time, and the
// process's peak resident memory.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <string>

#include "import/point_cloud_importer.h"
#include "platform/random.h"
#include "platform/wide_string.h"
#include "vorlin/reader.h"

namespace {

using Zelvane::Vorlin::IReader;

double CpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

class SyntheticReader : public IReader {
 public:
  SyntheticReader(bool scan, uint64_t count) : m_scan(scan), m_count(count) {}

  bool Open(const wchar_t*) override { return true; }
  void Close() override {}
  bool FileStats(double* lo, double* hi, unsigned long long& count,
                 unsigned int& attributes) override {
    const double reach = m_scan ? 60.0 : 500.0;
    for (int a = 0; a < 3; ++a) {
      lo[a] = -reach;
      hi[a] = reach;
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
    if (!m_scan && i < 4) {  // the far points
      x = (i & 1) ? 500.0 : -500.0;
      y = (i & 2) ? 500.0 : -500.0;
      z = i < 2 ? 500.0 : -500.0;
      return true;
    }
    if (!m_scan) {
      x = Uniform(), y = Uniform(), z = Uniform();
      return true;
    }
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
  double UnitsToFeetConversionFactor() override { return 0.0; }

 private:
  double Uniform() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 7;
    m_state ^= m_state << 17;
    return double(m_state >> 11) * (1.0 / 9007199254740992.0);
  }

  bool m_scan;
  uint64_t m_count;
  uint64_t m_index = 0;
  uint64_t m_state = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (strcmp(argv[1], "cluster") != 0 && strcmp(argv[1], "scan") != 0)) {
    fprintf(stderr, "usage: %s cluster|scan N OUTPUT [SEED]\n", argv[0]);
    return 2;
  }
  const bool scan = strcmp(argv[1], "scan") == 0;
  const uint64_t count = strtoull(argv[2], nullptr, 10);
  std::wstring output = vorlin::platform::FromUtf8(argv[3]);
  SyntheticReader reader(scan, count);
  const wchar_t* names[1] = {L"synthetic"};
  IReader* readers[1] = {&reader};

  vorlin::ImportStageTimes times;
  PointCloudImporter importer;
  importer.fixedSeed = true;
  importer.seed = argc > 4 ? uint32_t(strtoul(argv[4], nullptr, 10)) : 1u;
  importer.stageTimes = &times;
  vorlin::platform::Srand(1);
  const double cpuStart = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  const int status = importer.RunImport(names, output.c_str(), readers, 1, nullptr, 0x1F);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = CpuSeconds() - cpuStart;
  if (status != 0) {
    fprintf(stderr, "import failed with status %d\n", status);
    return 1;
  }
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  printf("| %s | %llu | binning %.2f | flush %.2f | ordering %.2f | writing %.2f | wall %.2f s, "
         "%.1f M/s | cpu %.2f s, %.1f M/s | peak %ld MB |\n",
         argv[1], (unsigned long long)count, times.binning, times.flush, times.ordering,
         times.writing, wall, double(count) / wall / 1e6, cpu, double(count) / cpu / 1e6,
         u.ru_maxrss / 1024);
  return 0;
}
