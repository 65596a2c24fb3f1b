// Imports dense clouds made on the fly by a reader (bench/generating_reader.h:
// cluster, a 1 m cube that is one cell of the grid; scan, a terrestrial
// scan), so that the numbers are the import's own and no source file is
// needed:
//
//   vorlin_bench_dense_cells cluster|scan|spread N OUTPUT [SEED]
//
// Prints the stage times, points per second of CPU and of wall time, and the
// process's peak resident memory.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <string>

#include "generating_reader.h"
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

}  // namespace

int main(int argc, char** argv) {
  vorlin_bench::Cloud cloud;
  if (argc < 4 || !vorlin_bench::ParseCloud(argv[1], cloud)) {
    fprintf(stderr, "usage: %s cluster|scan|spread N OUTPUT [SEED]\n", argv[0]);
    return 2;
  }
  const uint64_t count = strtoull(argv[2], nullptr, 10);
  std::wstring output = vorlin::platform::FromUtf8(argv[3]);
  vorlin_bench::GeneratingReader reader(cloud, count);
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
