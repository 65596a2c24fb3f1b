#ifndef VORLIN_TESTS_ENGINE_ENGINE_TEST_SUPPORT_H
#define VORLIN_TESTS_ENGINE_ENGINE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/qv_vorlin_imp.h"
#include "support/qzv_test_file.h"
#include "support/temp_dir.h"

namespace engine_test {

using Zelvane::Vorlin::CellPoint;
using Zelvane::Vorlin::IPointCloudCursor;
using Zelvane::Vorlin::IPointCloudFilter;
using Zelvane::Vorlin::IPointCloudQuery;
using Zelvane::Vorlin::IPointSetData;
using Zelvane::Vorlin::QvVorlin;

// Random counts (some cells empty) and LOD values (some 0) over a grid.
inline qzv_test::TestFile RandomGrid(int version, int nx, int ny, int nz, uint32_t seed,
                                     uint32_t maxCount = 120) {
  qzv_test::TestFile f;
  f.version = version;
  f.nx = nx, f.ny = ny, f.nz = nz;
  f.boundsMin[0] = 1000.0, f.boundsMin[1] = -2000.0, f.boundsMin[2] = 30.0;
  f.cellSize = 4.0;
  for (int a = 0; a < 3 && version == 5; ++a)
    for (int i = 0, n = a == 0 ? nx : a == 1 ? ny : nz; i < n; ++i)
      f.edges[a].push_back(f.boundsMin[a] + (i + 1) * (i + 2) / 2.0);
  std::mt19937 random(seed);
  std::vector<uint32_t> counts(size_t(f.CellCount()));
  for (uint32_t& c : counts) c = random() % 5 == 0 ? 0 : random() % (maxCount + 1);
  qzv_test::Populate(
      f, [&](int x, int y, int z) { return counts[size_t(f.FileIndex(x, y, z))]; },
      [&](int, int, int) { return random() % 7 == 0 ? 0.0f : float(random() % 1000) / 37.0f; });
  return f;
}

// A host filter built from two functions; clones share the log of points
// it was asked about.
class TestFilter : public IPointCloudFilter {
 public:
  using Log = std::vector<std::array<float, 3>>;
  TestFilter(std::function<int(const double*)> classify, std::function<bool(float, float, float)> accept)
      : m_classify(std::move(classify)), m_accept(std::move(accept)), m_log(std::make_shared<Log>()) {}
  virtual ~TestFilter() = default;
  int classifyBox(double a, double b, double c, double d, double e, double f) override {
    const double box[6] = {a, b, c, d, e, f};
    return m_classify(box);
  }
  bool containsPoint(float x, float y, float z) override {
    m_log->push_back({x, y, z});
    return m_accept(x, y, z);
  }
  void prepareCell(const double*, const double*, const double*, const double*, const double*,
                   const double*, unsigned int) override {}
  IPointCloudFilter* clone() override { return new TestFilter(*this); }
  void release() override { delete this; }
  bool reservedQuery() override { return false; }
  void reservedNotify(unsigned int) override {}
  Log& log() { return *m_log; }

 private:
  std::function<int(const double*)> m_classify;
  std::function<bool(float, float, float)> m_accept;
  std::shared_ptr<Log> m_log;
};

inline TestFilter Verdict(int verdict) {
  return TestFilter([verdict](const double*) { return verdict; }, [](float, float, float) { return true; });
}

// Records delivered over one or more calls: each is the file's record its
// colour word names, and each cell gives its records front to back, once.
struct LeadingRecords {
  const qzv_test::TestFile* file;
  std::map<int64_t, uint32_t> next;
  void Check(const CellPoint* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      const int64_t k = qzv_test::TagCell(p[i]);
      ASSERT_TRUE(k < file->CellCount() && qzv_test::TagRecord(p[i]) == next[k]) << "record " << i;
      ASSERT_TRUE(qzv_test::SameRecord(p[i], file->records[size_t(k)][next[k]++]));
    }
  }
};

class EngineTest : public ::testing::Test {
 protected:
  void TearDown() override { QvVorlin::destroy(engine); }

  // Writes f to a new file and opens it, waiting for the preload if asked.
  void Open(const qzv_test::TestFile& f, int budget, bool waitForPreload = true) {
    file = f;
    const std::string name = "cloud" + std::to_string(++fileNumber) + ".qzv";
    ASSERT_TRUE(qzv_test::WriteBytes(dir.file(name), qzv_test::Serialize(f)));
    path = dir.wfile(name);
    if (!engine) engine = QvVorlin::create();
    ASSERT_TRUE(engine->open(path.c_str(), budget));
    if (waitForPreload) WaitForPreload();
  }

  void WaitForPreload() {
    QvVorlinImp* imp = dynamic_cast<QvVorlinImp*>(engine);
    for (int i = 0; i < 20000 && !imp->IsPreloadFinished(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(imp->IsPreloadFinished());
  }

  std::vector<CellPoint> Fetch(IPointCloudQuery* query, uint32_t bufferSize, QvVorlin* from = nullptr) {
    std::vector<CellPoint> buffer(bufferSize + 1);
    buffer.resize((from ? from : engine)->getPoints(query, buffer.data(), bufferSize));
    return buffer;
  }

  vorlin_test::TempDir dir;
  QvVorlin* engine = nullptr;
  qzv_test::TestFile file;
  std::wstring path;
  int fileNumber = 0;
};

struct FilterDeleter {
  void operator()(IPointCloudFilter* f) const { f->release(); }
};
using FilterPtr = std::unique_ptr<IPointCloudFilter, FilterDeleter>;

// Releases a handle at the end of a scope.
template <typename T>
struct Released {
  T* handle;
  ~Released() {
    if (handle) handle->release();
  }
};

inline bool SameRecords(const std::vector<CellPoint>& a, const std::vector<CellPoint>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!qzv_test::SameRecord(a[i], b[i])) return false;
  return true;
}

}  // namespace engine_test

#endif
