// Where one import spends its time: runs the import of a source file with
// the stage timer set and prints the stages as a Markdown table, with the
// output's checksum (FNV-1a) so that runs with the same seed can be compared.
//
//   vorlin_bench_import_stages SOURCE OUTPUT [SEED] [cpu]
//
// With "cpu" the stages are timed in processor time (user and system) and
// the total is the process's processor time, which other jobs on a busy
// machine distort far less than elapsed time.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "import/point_cloud_importer.h"
#include "platform/random.h"
#include "platform/wide_string.h"

namespace {

uint64_t FileChecksum(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chunk(1 << 20);
  uint64_t h = 14695981039346656037ull;
  while (in) {
    in.read(chunk.data(), std::streamsize(chunk.size()));
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      h = (h ^ uint8_t(chunk[i])) * 1099511628211ull;
    }
  }
  return h;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s SOURCE OUTPUT [SEED]\n", argv[0]);
    return 2;
  }
  std::wstring source = vorlin::platform::FromUtf8(argv[1]);
  std::wstring output = vorlin::platform::FromUtf8(argv[2]);
  const wchar_t* names[1] = {source.c_str()};
  Zelvane::Vorlin::IReader* readers[1] = {nullptr};

  vorlin::ImportStageTimes times;
  PointCloudImporter importer;
  importer.fixedSeed = true;
  importer.seed = argc > 3 ? uint32_t(strtoul(argv[3], nullptr, 10)) : 1u;
  importer.stageTimes = &times;
  times.processorTime = argc > 4 && std::string(argv[4]) == "cpu";
  vorlin::platform::Srand(1);
  auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  int status = importer.RunImport(names, output.c_str(), readers, 1, nullptr, 0x1F);
  double total = times.processorTime
                     ? double(std::clock() - cpuStart) / CLOCKS_PER_SEC
                     : std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (status != 0) {
    fprintf(stderr, "import failed with status %d\n", status);
    return 1;
  }
  const struct {
    const char* name;
    double seconds;
  } rows[] = {{"reading and binning", times.binning},
              {"flush", times.flush},
              {"ordering", times.ordering},
              {"writing", times.writing}};
  printf("| stage | seconds | share |\n|---|---:|---:|\n");
  for (const auto& row : rows) {
    printf("| %s | %.2f | %.0f%% |\n", row.name, row.seconds, 100.0 * row.seconds / total);
  }
  printf("| total | %.2f | %.1f M points/s |\n", total,
         double(importer.totalPointCount) / total / 1e6);
  printf("| ns per point | %.1f binning, %.1f flush, %.1f ordering, %.1f writing | |\n\n",
         times.binning * 1e9 / double(importer.totalPointCount),
         times.flush * 1e9 / double(importer.totalPointCount),
         times.ordering * 1e9 / double(importer.totalPointCount),
         times.writing * 1e9 / double(importer.totalPointCount));
  printf("output checksum %016llx\n", (unsigned long long)FileChecksum(argv[2]));
  return 0;
}
