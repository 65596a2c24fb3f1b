// Query benchmarks on one QZV file: opening, query creation, one-shot
// fetches from preloaded memory and from the file, cursors and point sets,
// with memcpy and pread of the same bytes as baselines. Times and rates are
// wall-clock; benchmarks that would otherwise include tearing the engine down
// time themselves.
//
//   vorlin_bench_query --file=PATH.qzv [benchmark flags]
#include <fcntl.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <vorlin/vorlin.h>

#include "engine/point_cloud_query.h"
#include "engine/qv_vorlin_imp.h"
#include "middle_frustum.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace Zelvane::Vorlin;

using vorlin_bench::MiddleFrustum;

namespace {

std::wstring g_file;
std::string g_fileUtf8;
constexpr unsigned kFetch = 1000000;

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// CPU time of the calling thread: on a shared machine the wall clock also
// counts the time other jobs held the cores.
double ThreadCpuMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

struct Engine {
  explicit Engine(int budget) : engine(QvVorlin::create()) {
    if (!engine->open(g_file.c_str(), budget)) {
      fprintf(stderr, "cannot open the benchmark file\n");
      abort();
    }
  }
  ~Engine() { QvVorlin::destroy(engine); }
  QvVorlin* engine;
};

// Header and tables, without a loader; closing is not timed.
void BM_OpenHeaderAndTables(benchmark::State& state) {
  double cpuMs = 0;
  for (auto _ : state) {
    QvVorlin* engine = QvVorlin::create();
    const Clock::time_point start = Clock::now();
    const double cpuStart = ThreadCpuMs();
    if (!engine->open(g_file.c_str(), 0)) {
      state.SkipWithError("open failed");
      QvVorlin::destroy(engine);
      break;
    }
    cpuMs += ThreadCpuMs() - cpuStart;
    state.SetIterationTime(Seconds(start));
    QvVorlin::destroy(engine);
  }
  state.counters["cpu_ms"] = benchmark::Counter(cpuMs, benchmark::Counter::kAvgIterations);
}

// Open with the preload budget of the argument (bytes), a query over
// everything and a first fetch of 10,000 records; closing is not timed.
void BM_OpenToFirstPoints(benchmark::State& state) {
  std::vector<CellPoint> buffer(10000);
  unsigned got = 0;
  double cpuMs = 0;
  for (auto _ : state) {
    QvVorlin* engine = QvVorlin::create();
    const Clock::time_point start = Clock::now();
    const double cpuStart = ThreadCpuMs();
    engine->open(g_file.c_str(), int(state.range(0)));
    IPointCloudQuery* query = engine->createQuery(nullptr, false);
    got = engine->getPoints(query, buffer.data(), unsigned(buffer.size()));
    cpuMs += ThreadCpuMs() - cpuStart;
    state.SetIterationTime(Seconds(start));
    query->release();
    QvVorlin::destroy(engine);
  }
  state.counters["records"] = got;
  state.counters["cpu_ms"] = benchmark::Counter(cpuMs, benchmark::Counter::kAvgIterations);
}

void BM_CreateQueryFrustum(benchmark::State& state) {
  Engine e(0);
  VorlinViewFrustum frustum = MiddleFrustum(*e.engine);
  IPointCloudFilter* filter = e.engine->createViewFrustumFilter(frustum);
  for (auto _ : state) {
    IPointCloudQuery* query = e.engine->createQuery(filter, true);
    benchmark::DoNotOptimize(query);
    query->release();
  }
  filter->release();
}

void GetPoints(benchmark::State& state, int budget) {
  Engine e(budget);
  // Measure memory, not the loader racing the fetch.
  auto* imp = static_cast<QvVorlinImp*>(e.engine);
  while (!imp->IsPreloadFinished()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  IPointCloudQuery* query = e.engine->createQuery(nullptr, false);
  std::vector<CellPoint> buffer(kFetch);
  unsigned got = 0;
  for (auto _ : state) {
    got = e.engine->getPoints(query, buffer.data(), kFetch);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.counters["records"] = got;
  state.SetItemsProcessed(int64_t(state.iterations()) * got);
  state.SetBytesProcessed(int64_t(state.iterations()) * got * 20);
  query->release();
}

// A budget above the file's size preloads every record.
void BM_GetPointsPreloaded(benchmark::State& state) { GetPoints(state, 0x7FFFFFFF); }

void BM_GetPointsFromFile(benchmark::State& state) { GetPoints(state, 0); }

// The first fetch of a freshly opened engine (budget 0, page cache hot): what
// the reads cost before anything of the file is mapped. Open and close are
// not timed.
void BM_GetPointsFirstFromFile(benchmark::State& state) {
  std::vector<CellPoint> buffer(kFetch);
  unsigned got = 0;
  double cpuMs = 0;
  for (auto _ : state) {
    Engine e(0);
    IPointCloudQuery* query = e.engine->createQuery(nullptr, false);
    const Clock::time_point start = Clock::now();
    const double cpuStart = ThreadCpuMs();
    got = e.engine->getPoints(query, buffer.data(), kFetch);
    cpuMs += ThreadCpuMs() - cpuStart;
    state.SetIterationTime(Seconds(start));
    query->release();
  }
  state.counters["records"] = got;
  state.counters["cpu_ms"] = benchmark::Counter(cpuMs, benchmark::Counter::kAvgIterations);
}

void BM_MemcpySameBytes(benchmark::State& state) {
  std::vector<CellPoint> from(kFetch), to(kFetch);
  memset(from.data(), 1, from.size() * sizeof(CellPoint));
  for (auto _ : state) {
    memcpy(to.data(), from.data(), kFetch * sizeof(CellPoint));
    benchmark::DoNotOptimize(to.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kFetch);
  state.SetBytesProcessed(int64_t(state.iterations()) * kFetch * 20);
}

// One read of as many bytes as a 1M fetch delivers, from the page cache.
void BM_PreadSameBytes(benchmark::State& state) {
  const int fd = ::open(g_fileUtf8.c_str(), O_RDONLY);
  std::vector<CellPoint> to(kFetch);
  const size_t bytes = kFetch * sizeof(CellPoint);
  for (auto _ : state) {
    if (fd < 0 || ::pread(fd, to.data(), bytes, 4096) != ssize_t(bytes)) {
      state.SkipWithError("file too short for the pread baseline");
      break;
    }
    benchmark::DoNotOptimize(to.data());
  }
  if (fd >= 0) ::close(fd);
  state.SetItemsProcessed(int64_t(state.iterations()) * kFetch);
  state.SetBytesProcessed(int64_t(state.iterations()) * kFetch * 20);
}

// Ten refinement batches of 100,000 (the first from createCursor); the
// counter ms_per_batch is the mean time of one batch.
// The same number of bytes in as many pieces as a fetch over everything reads
// cells, spread evenly over the file: the floor of one read per cell.
void BM_PreadInCellPieces(benchmark::State& state) {
  size_t pieces = 1;
  {
    Engine e(0);
    IPointCloudQuery* query = e.engine->createQuery(nullptr, false);
    pieces = std::max<size_t>(1, static_cast<PointCloudQuery*>(query)->visibleCells);
    query->release();
  }
  const int fd = ::open(g_fileUtf8.c_str(), O_RDONLY);
  const off_t fileSize = fd >= 0 ? ::lseek(fd, 0, SEEK_END) : 0;
  std::vector<CellPoint> to(kFetch);
  const size_t bytes = kFetch * sizeof(CellPoint), piece = bytes / pieces;
  const off_t stride = (fileSize - off_t(piece)) / off_t(pieces);
  for (auto _ : state) {
    uint8_t* out = reinterpret_cast<uint8_t*>(to.data());
    for (size_t i = 0; i < pieces; ++i) {
      if (fd < 0 || stride < off_t(piece) ||
          ::pread(fd, out + i * piece, piece, off_t(i) * stride) != ssize_t(piece)) {
        state.SkipWithError("file too short for the pieces baseline");
        break;
      }
    }
    benchmark::DoNotOptimize(to.data());
  }
  if (fd >= 0) ::close(fd);
  state.counters["pieces"] = double(pieces);
  state.SetItemsProcessed(int64_t(state.iterations()) * kFetch);
  state.SetBytesProcessed(int64_t(state.iterations()) * kFetch * 20);
}

void BM_Cursor10x100k(benchmark::State& state) {
  Engine e(0);
  IPointCloudQuery* query = e.engine->createQuery(nullptr, false);
  std::vector<CellPoint> buffer(100000);
  uint64_t total = 0;
  int batches = 0;
  double batchMs = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    IPointCloudCursor* cursor = nullptr;
    total = e.engine->createCursor(query, buffer.data(), 100000, &cursor);
    batches = 1;
    for (; batches < 10 && cursor; ++batches) {
      total += e.engine->getCursorPoints(query, buffer.data(), 100000, cursor);
    }
    batchMs += 1e3 * Seconds(start) / batches;
    if (cursor) cursor->release();
  }
  state.counters["records"] = double(total);
  state.counters["ms_per_batch"] = benchmark::Counter(batchMs, benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(total));
  query->release();
}

void BM_PointSet1MIn64k(benchmark::State& state) {
  Engine e(0);
  IPointCloudQuery* query = e.engine->createQuery(nullptr, false);
  std::vector<CellPoint> buffer(65536);
  uint64_t total = 0;
  for (auto _ : state) {
    IPointSetData* set = nullptr;
    total = e.engine->createPointSet(query, buffer.data(), 65536, kFetch, &set);
    while (set) {
      unsigned got = e.engine->getPointSetPoints(query, buffer.data(), 65536, set);
      if (got == 0) break;
      total += got;
    }
    if (set) set->release();
  }
  state.counters["records"] = double(total);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(total));
  query->release();
}

}  // namespace

BENCHMARK(BM_OpenHeaderAndTables)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenToFirstPoints)->Arg(0)->Arg(64 << 20)->UseManualTime()->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_CreateQueryFrustum)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPointsPreloaded)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPointsFromFile)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPointsFirstFromFile)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpySameBytes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreadSameBytes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreadInCellPieces)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cursor10x100k)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointSet1MIn64k)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (strncmp(argv[i], "--file=", 7) == 0) {
      g_fileUtf8 = argv[i] + 7;
      g_file = Widen(g_fileUtf8);
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (g_file.empty()) {
    fprintf(stderr, "usage: %s --file=PATH.qzv [benchmark flags]\n", argv[0]);
    return 2;
  }
  int restCount = int(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
