#include <math.h>

#include "engine/engine_test_support.h"

namespace {

using namespace engine_test;

// With point clipping a batch returns what it took from the cells; the
// records the filters rejected follow the accepted ones as NaN fillers.
TEST_F(EngineTest, ClippedBatchesMarkRejectedRecords) {
  Open(RandomGrid(4, 2, 2, 2, 91, 40), 0);
  TestFilter half = TestFilter([](const double*) { return 0; },
                               [](float x, float, float) { return x < 0.0f; });
  Released<IPointCloudQuery> query{engine->createQuery(&half, true)};
  const uint32_t total = uint32_t(file.TotalPoints());
  for (bool cursorMode : {false, true}) {
    std::vector<CellPoint> buffer(total);
    uint32_t consumed;
    if (cursorMode) {
      IPointCloudCursor* cursor = nullptr;
      consumed = engine->createCursor(query.handle, buffer.data(), total, &cursor);
      cursor->release();
    } else {
      IPointSetData* set = nullptr;
      consumed = engine->createPointSet(query.handle, buffer.data(), total, total, &set);
      set->release();
    }
    ASSERT_GT(consumed, 0u);
    uint32_t accepted = 0;
    while (accepted < consumed && !isnan(buffer[accepted].x)) {
      EXPECT_LT(buffer[accepted].x, 0.0f);
      ++accepted;
    }
    EXPECT_GT(accepted, 0u);
    EXPECT_LT(accepted, consumed);
    for (uint32_t i = accepted; i < consumed; ++i) {
      ASSERT_TRUE(isnan(buffer[i].x) && isnan(buffer[i].y) && isnan(buffer[i].z));
    }
  }
}

}  // namespace
