// Query benchmarks on one QZV file: opening, query creation, one-shot
// fetches from preloaded memory and from the file, cursors and point sets,
// with memcpy and pread of the same bytes as baselines.
//
//   vorlin_bench_query --file=PATH.qzv [benchmark flags]
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <vorlin/vorlin.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using namespace Zelvane::Vorlin;

namespace {

std::wstring g_file;
std::string g_fileUtf8;
constexpr unsigned kFetch = 1000000;

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A box-shaped frustum over the middle half of the cloud in x and y, looking
// along +z (x right, y up).
VorlinViewFrustum MiddleFrustum(QvVorlin& engine) {
  double lo[3], hi[3];
  engine.getExtents(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]);
  const double x0 = lo[0] + (hi[0] - lo[0]) * 0.25, x1 = hi[0] - (hi[0] - lo[0]) * 0.25;
  const double y0 = lo[1] + (hi[1] - lo[1]) * 0.25, y1 = hi[1] - (hi[1] - lo[1]) * 0.25;
  const double zn = lo[2] - 1, zf = hi[2] + 1;
  VorlinViewFrustum f;
  f.setNearUpperRight(x1, y1, zn);
  f.setNearUpperLeft(x0, y1, zn);
  f.setNearLowerLeft(x0, y0, zn);
  f.setNearLowerRight(x1, y0, zn);
  f.setFarUpperRight(x1, y1, zf);
  f.setFarUpperLeft(x0, y1, zf);
  f.setFarLowerLeft(x0, y0, zf);
  f.setFarLowerRight(x1, y0, zf);
  f.setNearClip(true);
  f.setFarClip(true);
  return f;
}

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

void BM_OpenHeaderAndTables(benchmark::State& state) {
  for (auto _ : state) {
    QvVorlin* engine = QvVorlin::create();
    benchmark::DoNotOptimize(engine->open(g_file.c_str(), 0));
    QvVorlin::destroy(engine);
  }
}

// Open with a preload budget, a query over everything and a first fetch.
void BM_OpenToFirstPoints(benchmark::State& state) {
  std::vector<CellPoint> buffer(10000);
  for (auto _ : state) {
    QvVorlin* engine = QvVorlin::create();
    engine->open(g_file.c_str(), 64 << 20);
    IPointCloudQuery* query = engine->createQuery(nullptr, false);
    benchmark::DoNotOptimize(engine->getPoints(query, buffer.data(), unsigned(buffer.size())));
    query->release();
    QvVorlin::destroy(engine);
  }
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
  if (budget > 0) std::this_thread::sleep_for(std::chrono::seconds(3));  // let the loader finish
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

void BM_PreadSameBytes(benchmark::State& state) {
  int fd = ::open(g_fileUtf8.c_str(), O_RDONLY);
  std::vector<CellPoint> to(kFetch);
  for (auto _ : state) {
    benchmark::DoNotOptimize(::pread(fd, to.data(), kFetch * sizeof(CellPoint), 4096));
  }
  ::close(fd);
  state.SetItemsProcessed(int64_t(state.iterations()) * kFetch);
  state.SetBytesProcessed(int64_t(state.iterations()) * kFetch * 20);
}

void BM_Cursor10x100k(benchmark::State& state) {
  Engine e(0);
  IPointCloudQuery* query = e.engine->createQuery(nullptr, false);
  std::vector<CellPoint> buffer(100000);
  uint64_t total = 0;
  for (auto _ : state) {
    IPointCloudCursor* cursor = nullptr;
    total = e.engine->createCursor(query, buffer.data(), 100000, &cursor);
    for (int i = 1; i < 10 && cursor; ++i) {
      total += e.engine->getCursorPoints(query, buffer.data(), 100000, cursor);
    }
    if (cursor) cursor->release();
  }
  state.counters["records"] = double(total);
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

BENCHMARK(BM_OpenHeaderAndTables)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenToFirstPoints)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateQueryFrustum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPointsPreloaded)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPointsFromFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreadSameBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cursor10x100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointSet1MIn64k)->Unit(benchmark::kMillisecond);

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
