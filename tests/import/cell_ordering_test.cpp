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

using vorlin::OrderCellRecords;
using vorlin::OrderingSettings;

namespace {

// The unit cell [0, 1]^3; its expanded box is [-0.01, 1.01]^3.
const double kLo[3] = {0, 0, 0};
const double kHi[3] = {1, 1, 1};
const double kFineEdge = 1.02 / 256;

CellPoint At(double x, double y, double z, uint32_t id) {
  CellPoint p{};
  p.x = float(x);
  p.y = float(y);
  p.z = float(z);
  p.color = id;
  return p;
}

// Centre of fine voxel i on an axis of the unit cell.
double VoxelCentre(int i) { return -0.01 + (i + 0.5) * kFineEdge; }

int SubCellOf(const CellPoint& p) {
  auto axis = [](float v) { return std::min(15, std::max(0, int((v + 0.01) / (1.02 / 16)))); };
  return (axis(p.z) * 16 + axis(p.y)) * 16 + axis(p.x);
}

float Order(std::vector<CellPoint>& records, unsigned seed,
            const OrderingSettings& settings = OrderingSettings()) {
  vorlin::platform::Srand(seed);
  LinearPointMemoryBuf stream(records.data());
  return OrderCellRecords(settings, kLo, kHi, stream, uint32_t(records.size()));
}

std::vector<uint32_t> Ids(const std::vector<CellPoint>& records) {
  std::vector<uint32_t> ids;
  for (const CellPoint& p : records) ids.push_back(p.color);
  return ids;
}

void ExpectPermutationOfIds(const std::vector<CellPoint>& records) {
  std::vector<uint32_t> ids = Ids(records);
  std::sort(ids.begin(), ids.end());
  for (size_t i = 0; i < ids.size(); ++i) ASSERT_EQ(ids[i], i);
}

// A plane z = 0.5 sampled on an n x n lattice, in row order.
std::vector<CellPoint> Plane(int n) {
  std::vector<CellPoint> records;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      records.push_back(At((i + 0.5) / n, (j + 0.5) / n, 0.5, uint32_t(records.size())));
    }
  }
  return records;
}

class CellOrderingTest : public ::testing::Test {
 protected:
  // The ordering's spill files go to a private folder.
  vorlin_test::TempDir m_dir;
  vorlin_test::ScopedTmpDir m_tmp{m_dir.path().string()};
};

}  // namespace

TEST_F(CellOrderingTest, SingleRecord) {
  std::vector<CellPoint> records = {At(0.3, 0.6, 0.9, 0)};
  // One occupied voxel of 65536; coarsening doubles it (growth 3, one record).
  EXPECT_EQ(Order(records, 7), 2.0f / 65536);
  EXPECT_EQ(records[0].x, 0.3f);
  EXPECT_EQ(records[0].color, 0u);

  std::vector<CellPoint> none;
  EXPECT_EQ(Order(none, 7), 0.0f);
}

TEST_F(CellOrderingTest, DensePlaneCoversAlmostTheWholeCell) {
  std::vector<CellPoint> records = Plane(600);
  float lod = Order(records, 11);
  // About 252 x 252 fine voxels; the 1% margins stay empty and the step to
  // 128 is refused (far more records than occupied voxels, no growth).
  EXPECT_GT(lod, 250.0f * 250 / 65536);
  EXPECT_LT(lod, 253.0f * 253 / 65536);
  ExpectPermutationOfIds(records);
}

TEST_F(CellOrderingTest, SparsePlaneIsRaisedByCoarsening) {
  // One record in every other fine voxel: 126 x 126 occupied of 256 x 256,
  // but every voxel at 128 is occupied, so the value may double.
  std::vector<CellPoint> records;
  for (int j = 0; j < 126; ++j) {
    for (int i = 0; i < 126; ++i) {
      records.push_back(At(VoxelCentre(2 * i + 2), VoxelCentre(2 * j + 2), 0.5,
                           uint32_t(records.size())));
    }
  }
  const float fine = 126.0f * 126 / 65536;
  EXPECT_EQ(Order(records, 3), 2 * fine);
  ExpectPermutationOfIds(records);

  // The same points twice over are too many per occupied voxel.
  size_t n = records.size();
  for (size_t i = 0; i < n; ++i) {
    records.push_back(records[i]);
    records.back().color = uint32_t(n + i);
  }
  auto byId = [](const CellPoint& a, const CellPoint& b) { return a.color < b.color; };
  std::sort(records.begin(), records.end(), byId);
  EXPECT_EQ(Order(records, 3), fine);

  // Without coarsening steps, or with a divisor that cannot coarsen, the
  // fine value stands.
  std::sort(records.begin(), records.end(), byId);
  records.resize(n);
  OrderingSettings none;
  none.coarseningSteps = 0;
  EXPECT_EQ(Order(records, 3, none), fine);
  OrderingSettings stuck;
  stuck.coarsenDivisor = 1;
  stuck.coarseningSteps = 5;
  EXPECT_EQ(Order(records, 3, stuck), fine);
  OrderingSettings many;
  many.coarseningSteps = 20;
  many.coarsenDivisor = 3;
  EXPECT_GE(Order(records, 3, many), fine);
  ExpectPermutationOfIds(records);
}

TEST_F(CellOrderingTest, OneSubCellComesOutInItsShuffledOrder) {
  // 1500 records spread over three blocks, all in sub-cell (2, 3, 4).
  std::vector<CellPoint> records;
  for (uint32_t i = 0; i < 1500; ++i) {
    double jitter = (i % 37) * 0.001;
    records.push_back(At(0.13 + jitter, 0.2 + jitter * 0.5, 0.26 + jitter * 0.25, i));
  }
  std::vector<CellPoint> expected = records;
  vorlin::platform::Srand(99);
  vorlin::ShuffleRecords(expected.data(), uint32_t(expected.size()));

  Order(records, 99);
  EXPECT_EQ(Ids(records), Ids(expected));
}

TEST_F(CellOrderingTest, PermutationAndDeterminism) {
  // A bumpy surface sampled very unevenly (sub-cells spanning many blocks),
  // plus points outside the box and NaNs,
  // which are clamped into the border sub-cells rather than dropped.
  std::vector<CellPoint> input;
  vorlin::platform::Srand(1234);
  for (uint32_t i = 0; i < 60000; ++i) {
    double u = vorlin::platform::Rand() / 32767.0;
    double v = vorlin::platform::Rand() / 32767.0;
    if (i % 2 == 0) {  // a corner of thousands of records per sub-cell
      u *= 0.03;
      v *= 0.25;
    }
    input.push_back(At(u, v, 0.5 + 0.3 * sin(6 * u) * cos(4 * v), i));
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  uint32_t id = uint32_t(input.size());
  input.push_back(At(-5, 0.5, 0.5, id++));
  input.push_back(At(0.5, 7, 0.5, id++));
  input.push_back(At(0.5, 0.5, 1e30, id++));
  input.push_back(At(1.0101, -0.0101, 1.0, id++));
  CellPoint odd = At(0, 0, 0, id++);
  odd.x = nan;
  odd.y = -inf;
  odd.z = inf;
  input.push_back(odd);

  std::vector<CellPoint> first = input;
  float lod = Order(first, 5);
  ExpectPermutationOfIds(first);
  EXPECT_GT(lod, 0.0f);
  EXPECT_NE(Ids(first), Ids(input));

  std::vector<CellPoint> again = input;
  EXPECT_EQ(Order(again, 5), lod);
  EXPECT_EQ(Ids(again), Ids(first));

  std::vector<CellPoint> other = input;
  EXPECT_EQ(Order(other, 6), lod);
  EXPECT_NE(Ids(other), Ids(first));

  // Nothing is left behind in the temporary folder.
  EXPECT_EQ(m_dir.EntryCount(), 0u);

  // Without a usable temporary folder the blocks stay in memory; the order
  // is the same.
  vorlin_test::ScopedTmpDir missing((m_dir.path() / "missing").string());
  std::vector<CellPoint> inMemory = input;
  EXPECT_EQ(Order(inMemory, 5), lod);
  EXPECT_EQ(Ids(inMemory), Ids(first));
}

TEST_F(CellOrderingTest, EveryPrefixIsSpreadOverTheSurface) {
  // A plane whose left quarter holds 90% of the points, in row order.
  std::vector<CellPoint> records;
  vorlin::platform::Srand(77);
  for (uint32_t i = 0; i < 200000; ++i) {
    double u = vorlin::platform::Rand() / 32768.0;
    double v = vorlin::platform::Rand() / 32768.0;
    double x = i % 10 == 0 ? 0.25 + 0.75 * u : 0.25 * u;
    records.push_back(At(x, v, 0.5, i));
  }
  std::sort(records.begin(), records.end(),
            [](const CellPoint& a, const CellPoint& b) { return a.x < b.x; });
  std::set<int> occupied;
  for (const CellPoint& p : records) occupied.insert(SubCellOf(p));

  Order(records, 8);
  ExpectPermutationOfIds(records);

  // 2% of the records already touch almost every occupied sub-cell ...
  const size_t prefix = records.size() / 50;
  std::set<int> seen;
  size_t sparse = 0;
  for (size_t i = 0; i < prefix; ++i) {
    seen.insert(SubCellOf(records[i]));
    if (records[i].x > 0.26f) ++sparse;
  }
  EXPECT_GE(double(seen.size()), 0.95 * double(occupied.size()));
  // ... and share out by occupied surface, not by point count: the sparse
  // three quarters hold 10% of the points but far more of the prefix.
  EXPECT_GT(double(sparse) / double(prefix), 0.3);
}

TEST_F(CellOrderingTest, SubCellShareFollowsOccupiedSurface) {
  // Sub-cell A: all 16 x 16 voxels of a plane (weight 1); sub-cell B: 8 x 8
  // of them (weight 0.25, yielding on 80 of every 256 visits). Both hold 1280
  // records, so neither runs dry early.
  std::vector<CellPoint> records;
  auto add = [&](int firstVoxelX, int side, int perVoxel) {
    for (int j = 0; j < side; ++j) {
      for (int i = 0; i < side; ++i) {
        for (int k = 0; k < perVoxel; ++k) {
          records.push_back(At(VoxelCentre(firstVoxelX + i), VoxelCentre(16 + j),
                               VoxelCentre(16), uint32_t(records.size())));
        }
      }
    }
  };
  add(16, 16, 5);   // sub-cell (1, 1, 1)
  add(64, 8, 20);   // sub-cell (4, 1, 1)
  for (unsigned seed : {1u, 2u, 3u}) {
    std::vector<CellPoint> ordered = records;
    Order(ordered, seed);
    const size_t prefix = 336;  // about two rounds of 256 visits
    size_t fromB = 0;
    for (size_t i = 0; i < prefix; ++i) fromB += ordered[i].x > 0.2f;
    double share = double(fromB) / prefix;
    EXPECT_GT(share, 0.18) << seed;  // 40 of 168 records per round
    EXPECT_LT(share, 0.30) << seed;
  }
}

TEST(OrderingShuffles, ProducePermutations) {
  vorlin::platform::Srand(42);
  for (uint32_t n : {0u, 1u, 2u, 1000u, 70000u}) {
    std::vector<CellPoint> records(n);
    for (uint32_t i = 0; i < n; ++i) records[i] = At(0, 0, 0, i);
    vorlin::ShuffleRecords(records.data(), n);
    ExpectPermutationOfIds(records);
    if (n >= 1000) {
      EXPECT_NE(records.back().color, n - 1);
    }

    std::vector<int32_t> indices(n);
    for (uint32_t i = 0; i < n; ++i) indices[i] = int32_t(i);
    vorlin::ShuffleIndices(indices.data(), int32_t(n));
    std::sort(indices.begin(), indices.end());
    for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(indices[i], int32_t(i));
  }
}

TEST(OrderingShuffles, RecordShuffleIsUniform) {
  // Every arrangement of three records about equally often.
  vorlin::platform::Srand(2024);
  std::vector<int> seen(27, 0);
  const int trials = 60000;
  for (int t = 0; t < trials; ++t) {
    CellPoint r[3] = {At(0, 0, 0, 0), At(0, 0, 0, 1), At(0, 0, 0, 2)};
    vorlin::ShuffleRecords(r, 3);
    ++seen[size_t(r[0].color * 9 + r[1].color * 3 + r[2].color)];
  }
  int arrangements = 0;
  for (int count : seen) {
    if (count == 0) continue;
    ++arrangements;
    EXPECT_NEAR(count, trials / 6, trials / 60);
  }
  EXPECT_EQ(arrangements, 6);

  // Where the last of 100,000 records lands needs more than one 15-bit draw.
  std::vector<CellPoint> many(100000);
  int beyond = 0;
  for (int t = 0; t < 20; ++t) {
    for (uint32_t i = 0; i < many.size(); ++i) many[i] = At(0, 0, 0, i);
    vorlin::ShuffleRecords(many.data(), uint32_t(many.size()));
    for (uint32_t i = 0; i < many.size(); ++i) {
      if (many[i].color == 0) beyond += i >= 32768;
    }
  }
  EXPECT_GE(beyond, 8);
}

TEST(OrderingDownsample, MatchesADirectReduction) {
  struct Case {
    int32_t from, to;
  };
  vorlin::platform::Srand(3);
  for (Case c : {Case{256, 128}, Case{64, 16}, Case{8, 4}, Case{6, 2}, Case{256, 85}}) {
    SCOPED_TRACE(c.from);
    BitArray source;
    source.Resize(c.from * c.from * c.from);
    std::set<int32_t> expected;
    std::set<int32_t> sourceBits;
    int32_t factor = c.from / c.to;
    for (int k = 0; k < 3000; ++k) {
      int32_t x = vorlin::platform::Rand() % c.from;
      int32_t y = vorlin::platform::Rand() % c.from;
      int32_t z = vorlin::platform::Rand() % c.from;
      if (k % 3 == 0) x = c.from - 1;  // the row's last bits
      source.Set((z * c.from + y) * c.from + x);
      sourceBits.insert((z * c.from + y) * c.from + x);
      auto reduce = [&](int32_t v) { return std::min(v / factor, c.to - 1); };
      expected.insert((reduce(z) * c.to + reduce(y)) * c.to + reduce(x));
    }
    BitArray target;
    target.Resize(c.to * c.to * c.to);
    EXPECT_EQ(vorlin::Downsample(source, c.from, target, c.to), int64_t(expected.size()));
    EXPECT_EQ(target.Count(), int64_t(expected.size()));
    for (int32_t bit : expected) ASSERT_TRUE(target.Test(bit));

    // From the list of set bits: the very same target.
    std::vector<int32_t> list(sourceBits.begin(), sourceBits.end());
    BitArray fromList;
    fromList.Resize(target.Size());
    EXPECT_EQ(vorlin::DownsampleBits(list.data(), list.size(), c.from, fromList, c.to),
              int64_t(expected.size()));
    ASSERT_EQ(memcmp(fromList.Bytes(), target.Bytes(), size_t(target.ByteCount())), 0);
  }
}
