// Imports a cloud of any size made on the fly by a reader (no source file;
// bench/generating_reader.h: spread, a 4000 x 4000 x 100 m box; cluster, a
// 1 m cube that is one cell holding nearly every point), then opens the
// result and times the first query:
//
//   vorlin_bench_scale_import spread|cluster|scan N OUTPUT
//
// Prints import wall and CPU time, peak resident memory, the output's size,
// the open time and the first query's latency (1,000,000 points from a
// frustum over the middle of the cloud, read from the file).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include <vorlin/vorlin.h>

#include "generating_reader.h"
#include "middle_frustum.h"
#include "import/point_cloud_importer.h"
#include "platform/wide_string.h"

using namespace Zelvane::Vorlin;

using vorlin_bench::MiddleFrustum;

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

double CpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

long PeakMb() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
  vorlin_bench::Cloud cloud;
  if (argc < 4 || !vorlin_bench::ParseCloud(argv[1], cloud)) {
    fprintf(stderr, "usage: %s spread|cluster|scan N OUTPUT\n", argv[0]);
    return 2;
  }
  const uint64_t count = strtoull(argv[2], nullptr, 10);
  const std::wstring output = vorlin::platform::FromUtf8(argv[3]);
  vorlin_bench::GeneratingReader reader(cloud, count);
  const wchar_t* names[1] = {L"generated"};
  IReader* readers[1] = {&reader};

  PointCloudImporter importer;
  importer.fixedSeed = true;
  importer.seed = 1;
  const double cpuStart = CpuSeconds();
  const auto start = Clock::now();
  const int status = importer.RunImport(names, output.c_str(), readers, 1, nullptr, 0x1F);
  const double wall = Seconds(start);
  const double cpu = CpuSeconds() - cpuStart;
  if (status != 0) {
    fprintf(stderr, "import failed with status %d\n", status);
    return 1;
  }
  struct stat st;
  const double outputGb = stat(argv[3], &st) == 0 ? double(st.st_size) / 1e9 : -1.0;
  printf("| %s | %llu | import %.1f s (%.1f M/s), cpu %.1f s | peak %ld MB | output %.2f GB |",
         argv[1], (unsigned long long)count, wall, double(count) / wall / 1e6, cpu, PeakMb(),
         outputGb);
  fflush(stdout);

  const auto opening = Clock::now();
  QvVorlin* engine = QvVorlin::create();
  if (!engine->open(output.c_str(), 0)) {
    fprintf(stderr, "\nopen failed\n");
    return 1;
  }
  const double openSeconds = Seconds(opening);
  const auto querying = Clock::now();
  IPointCloudFilter* filter = engine->createViewFrustumFilter(MiddleFrustum(*engine));
  IPointCloudQuery* query = engine->createQuery(filter, true);
  std::vector<CellPoint> buffer(1000000);
  const unsigned got = engine->getPoints(query, buffer.data(), unsigned(buffer.size()));
  const double querySeconds = Seconds(querying);
  query->release();
  filter->release();
  engine->release();
  printf(" open %.3f s | first query %u points in %.3f s | peak %ld MB |\n", openSeconds, got,
         querySeconds, PeakMb());
  return 0;
}
