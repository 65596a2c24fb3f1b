// Several engines on one file, each in its own thread with its own loader,
// opening, querying and closing in random order while their loaders run.
// Meant for the thread sanitizer; VORLIN_SOAK_SECONDS lengthens it.

#include <stdlib.h>

#include <atomic>
#include <climits>

#include "engine/engine_test_support.h"

using namespace engine_test;

namespace {

double SoakSeconds() {
  const char* text = ::getenv("VORLIN_SOAK_SECONDS");
  const double seconds = text ? atof(text) : 0.0;
  return seconds > 0 ? seconds : 2.0;
}

// Every record delivered must be the file's record its colour word names.
bool Genuine(const qzv_test::TestFile& f, const CellPoint* records, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    if (records[i].x != records[i].x) continue;  // filler of a batch
    const size_t k = size_t(qzv_test::TagCell(records[i]));
    const size_t j = qzv_test::TagRecord(records[i]);
    if (k >= f.records.size() || j >= f.records[k].size()) return false;
    if (!qzv_test::SameRecord(records[i], f.records[k][j])) return false;
  }
  return true;
}

struct Tally {
  std::atomic<uint64_t> opens{0}, fetches{0}, records{0}, earlyCloses{0}, bad{0};
};

void Soak(const qzv_test::TestFile& f, const std::wstring& path, uint32_t seed,
          std::chrono::steady_clock::time_point until, Tally& tally) {
  std::mt19937 random(seed);
  std::vector<CellPoint> buffer(3000);
  QvVorlin* engine = QvVorlin::create();
  auto fetched = [&](uint32_t n) {
    ++tally.fetches;
    tally.records += n;
    if (!Genuine(f, buffer.data(), n)) ++tally.bad;
  };
  while (std::chrono::steady_clock::now() < until) {
    const int budgets[] = {0, 1, 5000, INT_MAX};
    if (!engine->open(path.c_str(), budgets[random() % 4])) {
      ++tally.bad;
      break;
    }
    ++tally.opens;
    switch (random() % 5) {
      case 0:  // close while the loader is most likely mid-cell
        if (random() % 2) std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
        ++tally.earlyCloses;
        break;
      case 1:  // a fresh engine object, destroyed with its file open
        QvVorlin::destroy(engine);
        engine = QvVorlin::create();
        ++tally.earlyCloses;
        continue;
      default:
        for (int q = 0, queries = 1 + int(random() % 4); q < queries; ++q) {
          Released<IPointCloudQuery> query{engine->createQuery(nullptr, random() % 2 == 0)};
          const uint32_t size = 1 + random() % 3000;
          switch (random() % 3) {
            case 0:
              fetched(engine->getPoints(query.handle, buffer.data(), size));
              break;
            case 1: {
              IPointSetData* set = nullptr;
              uint32_t n = engine->createPointSet(query.handle, buffer.data(), size, random() % 20000, &set);
              for (int i = 0; n > 0 && i < 50; ++i) {
                fetched(n);
                n = engine->getPointSetPoints(query.handle, buffer.data(), size, set);
              }
              if (set) set->release();
              break;
            }
            default: {
              IPointCloudCursor* cursor = nullptr;
              uint32_t n = engine->createCursor(query.handle, buffer.data(), size, &cursor);
              for (int i = 0; n > 0 && i < 5; ++i) {
                fetched(n);
                n = engine->getCursorPoints(query.handle, buffer.data(), 1 + random() % 3000, cursor);
              }
              if (cursor) cursor->release();
            }
          }
        }
    }
    engine->close();
  }
  QvVorlin::destroy(engine);
}

}  // namespace

TEST(EngineSoak, EnginesOnOneFileInSeveralThreads) {
  vorlin_test::TempDir dir;
  const qzv_test::TestFile f = RandomGrid(4, 12, 10, 6, 77, 400);
  ASSERT_TRUE(qzv_test::WriteBytes(dir.file("shared.qzv"), qzv_test::Serialize(f)));
  const std::wstring path = dir.wfile("shared.qzv");

  const double seconds = SoakSeconds();
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(int64_t(seconds * 1000));
  Tally tally;
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t) threads.emplace_back(Soak, std::cref(f), std::cref(path), 1000 + t, until, std::ref(tally));
  for (std::thread& t : threads) t.join();

  EXPECT_EQ(tally.bad.load(), 0u);
  EXPECT_GT(tally.opens.load(), 4u);
  EXPECT_GT(tally.records.load(), 0u);
  printf("soak %.1f s: %llu opens, %llu closed early, %llu fetches, %llu records\n", seconds,
         (unsigned long long)tally.opens, (unsigned long long)tally.earlyCloses,
         (unsigned long long)tally.fetches, (unsigned long long)tally.records);
}
