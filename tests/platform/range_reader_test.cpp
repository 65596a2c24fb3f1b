#include "platform/range_reader.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "platform/fault_injection.h"
#include "support/temp_dir.h"

using namespace vorlin::platform;

namespace {

constexpr size_t kWindow = RangeReader::kWindowBytes;

struct Mode {
  const char* name;
  size_t budget;
  size_t mergeLimit;
};
// One read per range, merged reads, the mapping, and a mapping of two
// windows that has to drop its pages or fall back to reads.
const Mode kModes[] = {{"reads", 0, 0},
                       {"merged", 0, RangeReader::kDefaultMergeLimit},
                       {"mapped", RangeReader::kDefaultMappedBudget, 0},
                       {"small map", 2 * kWindow, RangeReader::kDefaultMergeLimit}};

struct Fixture {
  vorlin_test::TempDir dir;
  std::string path = dir.file("ranges.bin");
  std::vector<uint8_t> bytes;
  File file;

  explicit Fixture(size_t size) : bytes(size) {
    std::mt19937 random(7);
    for (size_t i = 0; i < size; i += 4) {
      const uint32_t word = random();
      memcpy(&bytes[i], &word, std::min<size_t>(4, size - i));
    }
    vorlin_test::WriteBytes(path, bytes);
    file = File::Open(vorlin_test::Wide(path).c_str(), kAccessRead, kShareRead,
                      Disposition::kOpenExisting);
  }
};

// Sorted ranges with gaps of every kind: none, below and above the merge
// limit, and past a window; sizes from 0 to above the merge limit. out is
// sized for them, with room between the outputs to show stray writes.
std::vector<RangeReader::Range> RandomRanges(std::mt19937& random, uint64_t fileSize,
                                             std::vector<uint8_t>& out) {
  std::vector<RangeReader::Range> ranges;
  const size_t gaps[] = {0, 20, 380, 8 << 10, (8 << 10) + 1, 70 << 10, 3 << 20};
  const size_t sizes[] = {0, 1, 20, 4000, 8 << 10, (8 << 10) + 1, 100 << 10};
  uint64_t at = random() % 5000;
  size_t placed = 0;
  for (;;) {
    const size_t size = sizes[random() % 7];
    if (at + size > fileSize) break;
    ranges.push_back({at, size, reinterpret_cast<uint8_t*>(placed)});
    placed += size + 3;
    at += size + gaps[random() % 7];
  }
  out.assign(placed, 0xA5);
  for (auto& r : ranges) r.out = out.data() + reinterpret_cast<size_t>(r.out);
  return ranges;
}

}  // namespace

// Whatever path a fetch takes, it delivers the bytes of each range and
// writes nothing between the ranges' outputs; the mapping stays within its
// budget from one fetch to the next. Each fetch runs twice: the first visit
// of a window is read, the second copied from the mapping.
TEST(RangeReader, EveryModeDeliversTheRangesAndNothingElse) {
  Fixture f(7 * kWindow);
  ASSERT_TRUE(f.file.IsValid());
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    RangeReader reader(mode.budget, mode.mergeLimit);
    reader.Open(f.file);
    std::mt19937 random(11);
    for (int round = 0; round < 8; ++round) {
      std::vector<uint8_t> out;
      const auto ranges = RandomRanges(random, f.bytes.size(), out);
      std::vector<uint8_t> expected(out.size(), 0xA5);
      for (const auto& r : ranges)
        std::copy_n(f.bytes.begin() + long(r.offset), r.size, expected.begin() + (r.out - out.data()));
      for (int visit = 0; visit < 2; ++visit) {
        std::fill(out.begin(), out.end(), 0xA5);
        ASSERT_TRUE(reader.Fetch(ranges.data(), ranges.size()));
        ASSERT_TRUE(out == expected) << "round " << round << " visit " << visit;
        EXPECT_LE(reader.MappedWindows(), mode.budget / kWindow);
      }
    }
    // Small fetches fit two windows, so the small mapping took some and
    // dropped them when the next did not fit.
    std::vector<uint8_t> out(100);
    for (uint64_t at : {uint64_t(0), 3 * kWindow, 6 * kWindow, 3 * kWindow}) {
      const RangeReader::Range range{at + 10, out.size(), out.data()};
      for (int visit = 0; visit < 2; ++visit) {
        std::fill(out.begin(), out.end(), 0);
        ASSERT_TRUE(reader.Fetch(&range, 1));
        EXPECT_TRUE(std::equal(out.begin(), out.end(), f.bytes.begin() + long(at + 10)));
      }
    }
    // Where the temporary folder is not on a local disk nothing is mapped.
    const bool maps = mode.budget > 0 && OnLocalFileSystem(f.file);
    EXPECT_EQ(reader.MappedWindows() > 0, maps);
    EXPECT_EQ(reader.Drops() > 0, maps && mode.budget == 2 * kWindow);
  }
}

// A range past the end fails the fetch, also when the file was cut short
// after the mapping was made (a mapped copy would fault there instead).
TEST(RangeReader, RangesPastTheEndFailInEveryMode) {
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    Fixture f(4 * kWindow);
    RangeReader reader(mode.budget, mode.mergeLimit);
    reader.Open(f.file);
    std::vector<uint8_t> out(3 * kWindow);
    const RangeReader::Range early{100, 50, out.data()};
    const RangeReader::Range pair[] = {{2 * kWindow, 40, out.data() + 64},
                                       {2 * kWindow + 100, kWindow, out.data() + 128}};
    const RangeReader::Range beyond[] = {early, {4 * kWindow - 10, 11, out.data() + 200}};
    EXPECT_FALSE(reader.Fetch(beyond, 2));
    ASSERT_TRUE(reader.Fetch(pair, 2));
    ASSERT_TRUE(reader.Fetch(pair, 2));  // now from the mapping, where there is one

    std::filesystem::resize_file(f.path, 2 * kWindow + 120);
    EXPECT_FALSE(reader.Fetch(pair, 2));
    EXPECT_FALSE(reader.Fetch(&pair[1], 1));
    EXPECT_TRUE(reader.Fetch(&early, 1));
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 50, f.bytes.begin() + 100));
  }
}

// Every read of a fetch failing or coming short in turn fails the fetch,
// merged or mapped (a first fetch has been everywhere, so the mapping is
// used where there is one); a fetch that saw no fault delivers everything.
TEST(RangeReader, EveryInjectedFaultFailsTheFetch) {
  Fixture f(1 << 20);
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    RangeReader reader(mode.budget, mode.mergeLimit);
    reader.Open(f.file);
    std::mt19937 random(3);
    std::vector<uint8_t> out;
    const auto ranges = RandomRanges(random, f.bytes.size(), out);
    ASSERT_TRUE(reader.Fetch(ranges.data(), ranges.size()));
    for (bool shortRead : {false, true}) {
      uint64_t n = 1;
      for (;; ++n) {
        ArmFault(kFaultRead, n, shortRead);
        const bool ok = reader.Fetch(ranges.data(), ranges.size());
        const bool triggered = FaultTriggered();
        DisarmFault();
        EXPECT_NE(ok, triggered) << n;
        if (!triggered) break;
      }
      EXPECT_GT(n, 1u);
    }
  }
}

// Files whose reads can fail at any time are never mapped: a pseudo file
// system stands in for a network one here.
TEST(RangeReader, MapsOnlyFilesOnLocalDisks) {
  File proc = File::Open(L"/proc/self/status", kAccessRead, kShareRead | kShareWrite,
                         Disposition::kOpenExisting);
  ASSERT_TRUE(proc.IsValid());
  EXPECT_FALSE(OnLocalFileSystem(proc));
}
