#include "import/windowed_shuffle.h"

#include <stdint.h>

#include <vector>

#include <gtest/gtest.h>

#include "import/ordering_steps.h"
#include "platform/fault_injection.h"
#include "platform/random.h"
#include "support/temp_dir.h"

namespace {

namespace platform = vorlin::platform;

std::vector<CellPoint> Numbered(uint32_t n) {
  std::vector<CellPoint> records(n);
  for (uint32_t i = 0; i < n; ++i) {
    records[i].x = float(i);
    records[i].color = i;
  }
  return records;
}

std::vector<uint32_t> Ids(const std::vector<CellPoint>& records) {
  std::vector<uint32_t> ids;
  for (const CellPoint& p : records) ids.push_back(p.color);
  return ids;
}

// Records in a vector; the call numbered failAt (1-based) fails, and any
// call after a failure is counted as a fault of the caller.
class VectorRange : public vorlin::RecordRange {
 public:
  explicit VectorRange(std::vector<CellPoint>& records, uint64_t failAt = 0)
      : m_records(records), m_failAt(failAt) {}
  bool Read(uint64_t first, CellPoint* destination, uint32_t count) override {
    if (!Call(first, count)) return false;
    std::copy(m_records.begin() + long(first), m_records.begin() + long(first + count), destination);
    return true;
  }
  bool Write(uint64_t first, const CellPoint* source, uint32_t count) override {
    if (!Call(first, count)) return false;
    std::copy(source, source + count, m_records.begin() + long(first));
    return true;
  }
  uint64_t calls = 0;
  uint64_t callsAfterFailure = 0;
  bool outOfRange = false;

 private:
  bool Call(uint64_t first, uint32_t count) {
    if (m_failed) ++callsAfterFailure;
    if (first + count > m_records.size()) outOfRange = true;
    if (++calls == m_failAt) m_failed = true;
    return !m_failed && !outOfRange;
  }
  std::vector<CellPoint>& m_records;
  uint64_t m_failAt;
  bool m_failed = false;
};

class WindowedShuffleTest : public ::testing::Test {
 protected:
  vorlin_test::TempDir m_dir;
  vorlin_test::ScopedTmpDir m_tmp{m_dir.path().string()};
};

// Same records in the same places as the in-memory shuffle, and the
// generator left in the same state, for windows from one record to more
// than the run, sizes that are and are not multiples of the window, and
// runs too short to shuffle.
TEST_F(WindowedShuffleTest, MatchesTheShuffleInMemory) {
  for (uint32_t n : {0u, 1u, 2u, 3u, 10u, 64u, 257u, 1000u, 4099u}) {
    for (uint32_t window : {1u, 2u, 3u, 7u, 64u, 500u, 1000u, 5000u}) {
      const unsigned seed = n * 31 + window;
      std::vector<CellPoint> expected = Numbered(n);
      platform::Srand(seed);
      vorlin::ShuffleRecords(expected.data(), n);
      const int nextExpected = platform::Rand();

      std::vector<CellPoint> records = Numbered(n);
      VectorRange range(records);
      platform::Srand(seed);
      ASSERT_TRUE(vorlin::ShuffleRecordsWindowed(range, n, window)) << n << " " << window;
      EXPECT_EQ(platform::Rand(), nextExpected) << n << " " << window;
      EXPECT_FALSE(range.outOfRange) << n << " " << window;
      ASSERT_EQ(Ids(records), Ids(expected)) << n << " " << window;
    }
  }
  EXPECT_EQ(vorlin_test::Entries(m_dir.path().string()), 0u) << "temporary file left behind";
}

// Windows whose steps reach deep into the earlier records, over a run
// longer than the largest chunk of earlier records read at once.
TEST_F(WindowedShuffleTest, MatchesAcrossManyChunks) {
  const uint32_t n = 600000;
  std::vector<CellPoint> expected = Numbered(n);
  platform::Srand(7);
  vorlin::ShuffleRecords(expected.data(), n);
  std::vector<CellPoint> records = Numbered(n);
  VectorRange range(records);
  platform::Srand(7);
  ASSERT_TRUE(vorlin::ShuffleRecordsWindowed(range, n, 150001));
  EXPECT_TRUE(Ids(records) == Ids(expected));
}

// A failing read or write of the records, or of the temporary file, outright
// or short, ends the shuffle with false, and no call follows the failure.
TEST_F(WindowedShuffleTest, EveryFailureIsReported) {
  const uint32_t n = 300;
  const uint32_t window = 40;
  std::vector<CellPoint> scratch = Numbered(n);
  VectorRange counting(scratch);
  platform::ArmFault(platform::kFaultRead | platform::kFaultWrite | platform::kFaultSeek |
                         platform::kFaultTempFile,
                     UINT64_MAX);
  ASSERT_TRUE(vorlin::ShuffleRecordsWindowed(counting, n, window));
  const uint64_t fileCalls = platform::FaultCallsSeen();
  platform::DisarmFault();
  ASSERT_GT(fileCalls, 10u);

  for (uint64_t k = 1; k <= counting.calls; ++k) {
    std::vector<CellPoint> records = Numbered(n);
    VectorRange range(records, k);
    EXPECT_FALSE(vorlin::ShuffleRecordsWindowed(range, n, window)) << k;
    EXPECT_EQ(range.callsAfterFailure, 0u) << k;
  }
  for (bool shortened : {false, true}) {
    for (uint64_t k = 1; k <= fileCalls; ++k) {
      std::vector<CellPoint> records = Numbered(n);
      VectorRange range(records);
      platform::ArmFault(platform::kFaultRead | platform::kFaultWrite | platform::kFaultSeek |
                             platform::kFaultTempFile,
                         k, shortened);
      const bool ok = vorlin::ShuffleRecordsWindowed(range, n, window);
      const uint64_t seen = platform::FaultCallsSeen();
      platform::DisarmFault();
      EXPECT_FALSE(ok) << k << " " << shortened;
      // A short write counts its own half write as one more call.
      EXPECT_LE(seen, shortened ? k + 1 : k) << "file calls after the failure at " << k;
    }
  }
  EXPECT_EQ(vorlin_test::Entries(m_dir.path().string()), 0u);
}

}  // namespace
