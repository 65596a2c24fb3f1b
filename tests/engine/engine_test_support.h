#ifndef VORLIN_TESTS_ENGINE_ENGINE_TEST_SUPPORT_H
#define VORLIN_TESTS_ENGINE_ENGINE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/qv_vorlin_imp.h"
#include "engine/qzv_test_file.h"
#include "engine/share_model.h"
#include "support/temp_dir.h"
#include "vorlin/qv_vorlin.h"

namespace engine_test {

using Zelvane::Vorlin::CellPoint;
using Zelvane::Vorlin::IPointCloudCursor;
using Zelvane::Vorlin::IPointCloudFilter;
using Zelvane::Vorlin::IPointCloudQuery;
using Zelvane::Vorlin::IPointSetData;
using Zelvane::Vorlin::QvVorlin;

// A grid of random counts (some cells empty) and LOD values (some 0).
inline qzv_test::TestFile RandomGrid(int version, int nx, int ny, int nz, uint32_t seed,
                                     uint32_t maxCount = 120) {
  qzv_test::TestFile f;
  f.version = version;
  f.nx = nx;
  f.ny = ny;
  f.nz = nz;
  f.boundsMin[0] = 1000.0;
  f.boundsMin[1] = -2000.0;
  f.boundsMin[2] = 30.0;
  f.cellSize = 4.0;
  if (version == 5) {
    const int n[3] = {nx, ny, nz};
    for (int a = 0; a < 3; ++a) {
      double edge = f.boundsMin[a];
      for (int i = 0; i < n[a]; ++i) f.edges[a].push_back(edge += 1.0 + i);
    }
  }
  std::mt19937 random(seed);
  std::vector<uint32_t> counts(size_t(f.CellCount()));
  std::vector<float> lods(counts.size());
  for (size_t i = 0; i < counts.size(); ++i) {
    counts[i] = random() % 5 == 0 ? 0 : random() % (maxCount + 1);
    lods[i] = counts[i] == 0 ? 0.0f : (random() % 7 == 0 ? 0.0f : float(random() % 1000) / 37.0f);
  }
  qzv_test::Populate(
      f, [&](int x, int y, int z) { return counts[size_t(f.FileIndex(x, y, z))]; },
      [&](int x, int y, int z) { return lods[size_t(f.FileIndex(x, y, z))]; });
  return f;
}

class EngineTest : public ::testing::Test {
 protected:
  void TearDown() override { QvVorlin::destroy(engine); }

  // Writes f and opens it with the budget, waiting for the preload to finish.
  void Open(const qzv_test::TestFile& f, int budget, bool waitForPreload = true) {
    file = f;
    path = dir.wfile("cloud" + std::to_string(++fileNumber) + ".qzv");
    ASSERT_TRUE(qzv_test::Write(dir.file("cloud" + std::to_string(fileNumber) + ".qzv"), f));
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

  std::vector<CellPoint> Fetch(IPointCloudQuery* query, uint32_t bufferSize) {
    std::vector<CellPoint> buffer(bufferSize + 1);
    const uint32_t n = engine->getPoints(query, buffer.data(), bufferSize);
    buffer.resize(n);
    return buffer;
  }

  void ExpectRecords(const std::vector<CellPoint>& got, const std::vector<share_model::Read>& reads) {
    const std::vector<CellPoint> want = share_model::Records(file, reads);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_TRUE(qzv_test::SameRecord(got[i], want[i]))
          << "record " << i << ": got cell " << qzv_test::TagCell(got[i]) << " #"
          << qzv_test::TagRecord(got[i]) << ", want cell " << qzv_test::TagCell(want[i]) << " #"
          << qzv_test::TagRecord(want[i]);
    }
  }

  vorlin_test::TempDir dir;
  QvVorlin* engine = nullptr;
  qzv_test::TestFile file;
  std::wstring path;
  int fileNumber = 0;
};

// Releases a handle at the end of a scope.
template <typename T>
struct Released {
  T* handle;
  ~Released() {
    if (handle) handle->release();
  }
};

}  // namespace engine_test

#endif
