// Makes the Nth allocation of the calling thread throw std::bad_alloc and
// sweeps N over an import, the queries and a save. Every failure must reach
// the caller (or become OutOfMemory), leave no output or temporary file and
// no open descriptor, and the next call without a failure must work. The
// sanitizer build adds the leak check.

#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "support/qzv_test_file.h"
#include "support/temp_dir.h"
#include "synth/synth.h"
#include "vorlin/qv_vorlin.h"

namespace {

// Only the arming thread counts, so that a sweep is repeatable while the
// cell loader runs beside it.
thread_local bool t_counting = false;
std::atomic<uint64_t> g_seen{0};
std::atomic<uint64_t> g_failAt{0};
std::atomic<bool> g_failed{false};

// A place for a debugger's breakpoint when a sweep finds a fault.
__attribute__((noinline)) void AllocationFails() { asm volatile(""); }

void* Allocate(size_t size) {
  if (t_counting && ++g_seen == g_failAt.load()) {
    g_failed = true;
    AllocationFails();
    throw std::bad_alloc();
  }
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}

void* AllocateNoThrow(size_t size) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return AllocateNoThrow(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return AllocateNoThrow(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using namespace Zelvane::Vorlin;

// Allocations counted on this thread during its lifetime; the Nth (0: none) fails.
class Armed {
 public:
  explicit Armed(uint64_t failAt) {
    g_seen = 0;
    g_failed = false;
    g_failAt = failAt;
    t_counting = true;
  }
  ~Armed() {
    t_counting = false;
    g_failAt = 0;
  }
};

using vorlin_test::Entries;
using vorlin_test::OpenDescriptors;

void Clear(const std::string& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir)) std::filesystem::remove_all(entry.path());
}

// Every site up to 400, then geometric steps of about 3 per cent, and the
// last few sites: a few hundred runs whatever the count.
std::vector<uint64_t> Schedule(uint64_t sites) {
  std::vector<uint64_t> n;
  for (uint64_t i = 1; i <= sites; i = i < 400 ? i + 1 : i + i / 32) n.push_back(i);
  for (uint64_t i = sites > 8 ? sites - 8 : 1; i <= sites; ++i) n.push_back(i);
  std::sort(n.begin(), n.end());
  n.erase(std::unique(n.begin(), n.end()), n.end());
  return n;
}

class AllocFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(tmp.c_str(), 0700);
    ::mkdir(out.c_str(), 0700);
  }

  // Runs op once to count its allocations, then once per scheduled site.
  // op reports whether it succeeded; check(ok) runs after each run, and must
  // accept a success only with a right result (a nothrow allocation may fail
  // and be worked around).
  void Sweep(const char* what, const std::function<bool()>& op, const std::function<void(bool)>& check) {
    uint64_t sites;
    Clear(out);
    {
      Armed counting(0);
      ASSERT_TRUE(op()) << what << " without a failure";
      sites = g_seen;
    }
    const std::vector<uint64_t> schedule = Schedule(sites);
    const size_t descriptors = OpenDescriptors();
    for (uint64_t n : schedule) {
      Clear(out);
      bool threw = false, ok = false;
      {
        Armed armed(n);
        try {
          ok = op();
        } catch (const std::bad_alloc&) {
          threw = true;
        }
      }
      // Counts may vary a little from run to run (the loader's progress,
      // allocations that fall back): a site not reached is a plain run.
      if (!g_failed) {
        ASSERT_TRUE(ok) << what << ": no failure at site " << n << " yet no success";
      }
      ASSERT_EQ(Entries(tmp), 0u) << what << ": temporary file left at site " << n;
      ASSERT_EQ(OpenDescriptors(), descriptors) << what << ": descriptor left at site " << n;
      check(ok && !threw);
      if (::testing::Test::HasFatalFailure()) {
        ADD_FAILURE() << what << ": at site " << n;
        return;
      }
    }
    Clear(out);
    ASSERT_TRUE(op()) << what << " after the sweep";
    printf("%s: %llu allocation sites, %zu swept\n", what, (unsigned long long)sites, schedule.size());
  }

  vorlin_test::TempDir dir;
  std::string tmp = dir.file("tmp"), out = dir.file("out");
  vorlin_test::ScopedTmpDir scoped{tmp};
};

TEST_F(AllocFailure, ImportOfASmallLasFile) {
  std::vector<synth::LasPoint> points;
  synth::SceneGenerator scene({300, 5, 50.0});
  for (synth::LasPoint p; scene.Next(p);) points.push_back(p);
  ASSERT_TRUE(synth::WriteLas(dir.file("scene.las"), points));
  const std::wstring source = dir.wfile("scene.las");
  const std::wstring target = dir.wfile("out/scene.qzv");
  const std::string targetPath = dir.file("out/scene.qzv");
  VorlinStatus status = QvVorlin::import(source.c_str(), target.c_str(), nullptr, AttributeAll);
  ASSERT_EQ(status, Ok);
  const size_t size = vorlin_test::ReadBytes(targetPath).size();
  ASSERT_GE(size, 111u + 300u * 20u);
  Sweep(
      "import",
      [&] {
        status = InvalidArgument;  // stays when the import throws
        status = QvVorlin::import(source.c_str(), target.c_str(), nullptr, AttributeAll);
        return status == Ok;
      },
      [&](bool ok) {
        if (ok) {
          ASSERT_EQ(vorlin_test::ReadBytes(targetPath).size(), size);
          return;
        }
        // An exception from a reader's Open or reads counts as that reader
        // failing, whatever its kind.
        EXPECT_TRUE(status == InvalidArgument || status == OutOfMemory || status == OpenFailed ||
                    status == ReadFailed)
            << "status " << int(status);
        ASSERT_EQ(Entries(out), 0u) << "output left behind";
      });
}

class EngineAllocFailure : public AllocFailure {
 protected:
  void SetUp() override {
    AllocFailure::SetUp();
    qzv_test::TestFile f;
    f.nx = 6, f.ny = 5, f.nz = 4;
    qzv_test::Populate(
        f, [](int x, int y, int z) { return uint32_t((x * 7 + y * 3 + z) % 5 == 0 ? 0 : 10 + x * y * z); },
        [](int x, int, int z) { return float(1 + x + z); });
    ASSERT_TRUE(qzv_test::WriteBytes(dir.file("cloud.qzv"), qzv_test::Serialize(f)));
    path = dir.wfile("cloud.qzv");
    engine = QvVorlin::create();
    ASSERT_NE(engine, nullptr);
  }
  void TearDown() override { QvVorlin::destroy(engine); }

  // Opens, queries everything through the three fetches, closes; the records
  // go to got. Handles are released however the operation ends.
  bool OpenQueryClose(std::vector<CellPoint>& got) {
    got.clear();
    struct Guard {
      QvVorlin* engine;
      IPointCloudQuery* query = nullptr;
      IPointSetData* set = nullptr;
      IPointCloudCursor* cursor = nullptr;
      ~Guard() {
        if (cursor) cursor->release();
        if (set) set->release();
        if (query) query->release();
        engine->close();
      }
    } g{engine};
    if (!engine->open(path.c_str(), 1 << 20)) return false;
    g.query = engine->createQuery(nullptr, false);
    if (!g.query) return false;
    CellPoint buffer[700];
    uint32_t n = engine->getPoints(g.query, buffer, 700);
    got.insert(got.end(), buffer, buffer + n);
    n = engine->createPointSet(g.query, buffer, 64, 600, &g.set);
    for (int i = 0; n > 0 && i < 100; ++i) {
      got.insert(got.end(), buffer, buffer + n);
      n = engine->getPointSetPoints(g.query, buffer, 64, g.set);
    }
    n = engine->createCursor(g.query, buffer, 50, &g.cursor);
    for (int i = 0; n > 0 && i < 4; ++i) {
      got.insert(got.end(), buffer, buffer + n);
      n = engine->getCursorPoints(g.query, buffer, 50 << i, g.cursor);
    }
    return g.set && g.cursor && !got.empty();
  }

  static void ExpectSame(const std::vector<CellPoint>& got, const std::vector<CellPoint>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) ASSERT_TRUE(qzv_test::SameRecord(got[i], want[i])) << i;
  }

  QvVorlin* engine = nullptr;
  std::wstring path;
};

TEST_F(EngineAllocFailure, OpenQueriesAndClose) {
  std::vector<CellPoint> want, got;
  ASSERT_TRUE(OpenQueryClose(want));
  Sweep(
      "query", [&] { return OpenQueryClose(got); },
      [&](bool ok) {
        if (ok) ExpectSame(got, want);
        // The same engine answers in full once allocations work again.
        std::vector<CellPoint> again;
        ASSERT_TRUE(OpenQueryClose(again));
        ExpectSame(again, want);
      });
}

TEST_F(EngineAllocFailure, SaveAsVersion3) {
  ASSERT_TRUE(engine->open(path.c_str(), 1 << 20));
  const std::wstring target = dir.wfile("out/copy.qzv");
  ASSERT_TRUE(engine->saveAsVersion(target.c_str(), 3));
  const std::vector<uint8_t> want = vorlin_test::ReadBytes(dir.file("out/copy.qzv"));
  std::filesystem::remove(dir.file("out/copy.qzv"));
  Sweep(
      "save", [&] { return engine->saveAsVersion(target.c_str(), 3); },
      [&](bool ok) {
        if (ok) {
          ASSERT_EQ(vorlin_test::ReadBytes(dir.file("out/copy.qzv")), want);
        } else {
          ASSERT_EQ(Entries(out), 0u) << "copy left behind";
        }
        ASSERT_TRUE(engine->saveAsVersion(target.c_str(), 3));
        ASSERT_EQ(vorlin_test::ReadBytes(dir.file("out/copy.qzv")), want);
        std::filesystem::remove(dir.file("out/copy.qzv"));
      });
}

TEST_F(EngineAllocFailure, CreateReturnsNullOrThrows) {
  Sweep(
      "create",
      [] {
        QvVorlin* made = QvVorlin::create();
        QvVorlin::destroy(made);
        return made != nullptr;
      },
      [](bool) {});
}

}  // namespace
