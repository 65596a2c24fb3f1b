#include "import/cell_ordering.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <limits>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "import/ordering_steps.h"
#include "platform/random.h"
#include "support/temp_dir.h"

using vorlin::OrderingSettings;

namespace {

// The unit cell; its expanded box is [-0.01, 1.01]^3.
const double kLo[3] = {0, 0, 0};
const double kHi[3] = {1, 1, 1};

CellPoint At(double x, double y, double z, uint32_t id) {
  CellPoint p{};
  p.x = float(x), p.y = float(y), p.z = float(z);
  p.color = id;
  return p;
}

// Centre of fine voxel i on an axis of the unit cell.
double Voxel(int i) { return -0.01 + (i + 0.5) * 1.02 / 256; }

float Order(std::vector<CellPoint>& records, unsigned seed,
            const OrderingSettings& settings = OrderingSettings()) {
  vorlin::platform::Srand(seed);
  LinearPointMemoryBuf stream(records.data());
  return vorlin::OrderCellRecords(settings, kLo, kHi, stream, uint32_t(records.size()));
}

std::vector<uint32_t> Ids(const std::vector<CellPoint>& records) {
  std::vector<uint32_t> ids;
  for (const CellPoint& p : records) ids.push_back(p.color);
  return ids;
}

bool IsPermutationOfIds(const std::vector<CellPoint>& records) {
  std::vector<uint32_t> ids = Ids(records);
  std::sort(ids.begin(), ids.end());
  for (size_t i = 0; i < ids.size(); ++i)
    if (ids[i] != i) return false;
  return true;
}

class CellOrderingTest : public ::testing::Test {
 protected:
  vorlin_test::TempDir m_dir;
  vorlin_test::ScopedTmpDir m_tmp{m_dir.path().string()};
};

}  // namespace

// Typical cells are pinned by the import determinism test; these are the
// edges of the coarsening.
TEST_F(CellOrderingTest, LevelOfDetailValue) {
  // One record: one voxel of 65536, doubled by the coarsening (growth 3).
  std::vector<CellPoint> one = {At(0.3, 0.6, 0.9, 0)};
  EXPECT_EQ(Order(one, 7), 2.0f / 65536);
  EXPECT_EQ(one[0].color, 0u);
  std::vector<CellPoint> none;
  EXPECT_EQ(Order(none, 7), 0.0f);

  // One record in every other voxel: 126^2 occupied at 256, but every voxel
  // at 128, so the value doubles ...
  std::vector<CellPoint> sparse;
  for (int j = 0; j < 126; ++j)
    for (int i = 0; i < 126; ++i)
      sparse.push_back(At(Voxel(2 * i + 2), Voxel(2 * j + 2), 0.5, uint32_t(sparse.size())));
  const float fine = 126.0f * 126 / 65536;
  std::vector<CellPoint> copy = sparse;
  EXPECT_EQ(Order(copy, 3), 2 * fine);
  // ... unless the same points come twice (too many per occupied voxel) or
  // the settings allow no coarser resolution.
  copy = sparse;
  for (CellPoint p : sparse) copy.push_back(At(p.x, p.y, p.z, uint32_t(copy.size())));
  EXPECT_EQ(Order(copy, 3), fine);
  auto settings = [](int32_t steps, int32_t divisor) {
    OrderingSettings s;
    s.coarseningSteps = steps, s.coarsenDivisor = divisor;
    return s;
  };
  for (const OrderingSettings& s : {settings(0, 2), settings(5, 1)}) {
    copy = sparse;
    EXPECT_EQ(Order(copy, 3, s), fine);
  }
  copy = sparse;  // uneven divisions down to nothing: safe
  EXPECT_GE(Order(copy, 3, settings(20, 3)), fine);
  EXPECT_TRUE(IsPermutationOfIds(copy));
}

// The seed's effect on the order is pinned by the import determinism test.
TEST_F(CellOrderingTest, PermutationWithOrWithoutSpillFiles) {
  // A bumpy surface with a corner of thousands of records per sub-cell
  // (many blocks each), plus points outside the box and non-numbers, which
  // are clamped into the border sub-cells rather than dropped.
  std::vector<CellPoint> input;
  vorlin::platform::Srand(1234);
  for (uint32_t i = 0; i < 60000; ++i) {
    double u = vorlin::platform::Rand() / 32767.0;
    double v = vorlin::platform::Rand() / 32767.0;
    if (i % 2 == 0) {
      u *= 0.03;
      v *= 0.25;
    }
    input.push_back(At(u, v, 0.5 + 0.3 * sin(6 * u) * cos(4 * v), i));
  }
  const float inf = std::numeric_limits<float>::infinity();
  for (CellPoint p : {At(-5, 0.5, 0.5, 0), At(0.5, 7, 1e30, 0), At(1.0101, -0.0101, 1, 0),
                      At(std::numeric_limits<float>::quiet_NaN(), -inf, inf, 0)}) {
    p.color = uint32_t(input.size());
    input.push_back(p);
  }

  std::vector<CellPoint> first = input;
  float lod = Order(first, 5);
  EXPECT_TRUE(IsPermutationOfIds(first));
  EXPECT_NE(Ids(first), Ids(input));
  EXPECT_EQ(m_dir.EntryCount(), 0u);  // no spill file left behind

  // Without a usable temporary folder the blocks stay in memory: same order.
  vorlin_test::ScopedTmpDir missing((m_dir.path() / "missing").string());
  std::vector<CellPoint> inMemory = input;
  EXPECT_EQ(Order(inMemory, 5), lod);
  EXPECT_EQ(Ids(inMemory), Ids(first));
}

// The last step of the shuffle swaps the last record with a uniform
// position, which beyond 32767 needs a second 15-bit draw.
TEST(OrderingSteps, RecordShuffleReachesPastThe15BitRange) {
  vorlin::platform::Srand(2024);
  std::vector<CellPoint> many(100000);
  int beyond = 0;
  for (int t = 0; t < 5; ++t) {
    for (uint32_t i = 0; i < many.size(); ++i) many[i] = At(0, 0, 0, i);
    vorlin::ShuffleRecords(many.data(), uint32_t(many.size()));
    ASSERT_TRUE(IsPermutationOfIds(many));
    for (uint32_t i = 32768; i < many.size(); ++i) beyond += many[i].color == 99999;
  }
  EXPECT_GE(beyond, 2);
}

TEST(OrderingSteps, DownsampleMatchesADirectReduction) {
  vorlin::platform::Srand(3);
  const int32_t cases[][2] = {{256, 128}, {64, 16}, {8, 4}, {6, 2}, {256, 85}};
  for (const auto& c : cases) {
    const int32_t from = c[0], to = c[1], factor = from / to;
    BitArray source;
    source.Resize(from * from * from);
    std::set<int32_t> setBits, expected;
    for (int k = 0; k < 3000; ++k) {
      int32_t x = k % 3 == 0 ? from - 1 : vorlin::platform::Rand() % from;  // row ends too
      int32_t y = vorlin::platform::Rand() % from;
      int32_t z = vorlin::platform::Rand() % from;
      source.Set((z * from + y) * from + x);
      setBits.insert((z * from + y) * from + x);
      auto reduce = [&](int32_t v) { return std::min(v / factor, to - 1); };
      expected.insert((reduce(z) * to + reduce(y)) * to + reduce(x));
    }
    BitArray target;
    target.Resize(to * to * to);
    EXPECT_EQ(vorlin::Downsample(source, from, target, to), int64_t(expected.size())) << from;
    EXPECT_EQ(target.Count(), int64_t(expected.size())) << from;
    for (int32_t bit : expected) ASSERT_TRUE(target.Test(bit)) << from;

    // From the list of set bits: the very same target.
    std::vector<int32_t> list(setBits.begin(), setBits.end());
    BitArray fromList;
    fromList.Resize(target.Size());
    EXPECT_EQ(vorlin::DownsampleBits(list.data(), list.size(), from, fromList, to), int64_t(expected.size()));
    EXPECT_EQ(memcmp(fromList.Bytes(), target.Bytes(), size_t(target.ByteCount())), 0);
  }
}
