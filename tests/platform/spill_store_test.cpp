#include "platform/spill_store.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/temp_file.h"
#include "support/temp_dir.h"

using namespace vorlin::platform;

namespace {

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + i * 7 + (i >> 9));
  return bytes;
}

// Sets the memory budget of the spill extents for one scope.
class ScopedSpillBudget {
 public:
  explicit ScopedSpillBudget(uint64_t bytes) : m_saved(SpillMemoryBudget()) {
    SetSpillMemoryBudget(bytes);
  }
  ~ScopedSpillBudget() { SetSpillMemoryBudget(m_saved); }

 private:
  uint64_t m_saved;
};

}  // namespace

// Every extent in the file, the first megabyte's worth in memory and the
// rest in the file, or everything in memory: the bytes are the same.
class SpillStoreBudget : public ::testing::TestWithParam<uint64_t> {};

INSTANTIATE_TEST_SUITE_P(Budgets, SpillStoreBudget,
                         ::testing::Values(uint64_t(0), uint64_t(1) << 20,
                                           kDefaultSpillMemoryBudget));

TEST_P(SpillStoreBudget, InterleavedFilesKeepTheirBytesAcrossExtents) {
  ScopedSpillBudget budget(GetParam());
  vorlin_test::TempDir dir;
  vorlin_test::ScopedTmpDir tmp(dir.path().string());
  File a = CreateTemporaryFile();
  File b = CreateTemporaryFile();
  ASSERT_TRUE(a.IsValid() && b.IsValid());
  // Writes of odd sizes that straddle many extent boundaries, interleaved.
  const std::vector<uint8_t> da = Pattern(5 * 1024 * 1024 + 333, 1);
  const std::vector<uint8_t> db = Pattern(3 * 1024 * 1024 + 77, 9);
  size_t ia = 0, ib = 0;
  while (ia < da.size() || ib < db.size()) {
    size_t na = std::min<size_t>(5120, da.size() - ia);
    size_t nb = std::min<size_t>(7001, db.size() - ib);
    ASSERT_TRUE(na == 0 || a.Write(da.data() + ia, na));
    ASSERT_TRUE(nb == 0 || b.Write(db.data() + ib, nb));
    ia += na;
    ib += nb;
  }
  EXPECT_EQ(a.Size(), int64_t(da.size()));
  EXPECT_EQ(b.Size(), int64_t(db.size()));
  EXPECT_EQ(dir.EntryCount(), 0u);

  std::vector<uint8_t> back(da.size());
  ASSERT_TRUE(a.Seek(0));
  EXPECT_EQ(a.Read(back.data(), back.size() + 100), int64_t(da.size()));
  EXPECT_EQ(back, da);
  EXPECT_EQ(a.Read(back.data(), 10), 0);  // at the end

  std::vector<uint8_t> piece(100000);
  ASSERT_TRUE(b.ReadExactAt(piece.data(), piece.size(), 2000000));
  EXPECT_TRUE(std::equal(piece.begin(), piece.end(), db.begin() + 2000000));
  EXPECT_FALSE(b.ReadExactAt(piece.data(), piece.size(), db.size() - 10));

  // Overwrite in the middle, as the ordering's block file does.
  ASSERT_TRUE(b.Seek(10));
  ASSERT_TRUE(b.Write("XYZ", 3));
  EXPECT_TRUE(b.SeekRelative(-3));
  char three[3];
  EXPECT_TRUE(b.ReadExact(three, 3));
  EXPECT_EQ(std::string(three, 3), "XYZ");
  EXPECT_EQ(b.Size(), int64_t(db.size()));

  // A write past the end leaves a gap that reads as zeros in memory, even in
  // an extent reused from a closed file.
  EXPECT_LE(SpillMemoryHeld(), GetParam());
  File c = CreateTemporaryFile();
  ASSERT_TRUE(c.IsValid() && c.Seek(3000) && c.Write("Q", 1));
  if (GetParam() != 0) {
    std::vector<uint8_t> gap(3000, 1);
    ASSERT_TRUE(c.ReadExactAt(gap.data(), gap.size(), 0));
    EXPECT_EQ(gap, std::vector<uint8_t>(3000, 0));
  }
}

TEST(SpillStore, MemoryExtentsAreReusedAndReleasedWithTheLastFile) {
  ScopedSpillBudget budget(uint64_t(64) << 10);
  vorlin_test::TempDir dir;
  vorlin_test::ScopedTmpDir tmp(dir.path().string());
  const std::vector<uint8_t> bytes = Pattern(200000, 3);
  {
    File keep = CreateTemporaryFile();
    ASSERT_TRUE(keep.IsValid() && keep.Write("k", 1));
    for (int round = 0; round < 3; ++round) {
      File f = CreateTemporaryFile();
      ASSERT_TRUE(f.IsValid() && f.Write(bytes.data(), bytes.size()));
      std::vector<uint8_t> back(bytes.size());
      ASSERT_TRUE(f.ReadExactAt(back.data(), back.size(), 0));
      EXPECT_EQ(back, bytes);
      // Within the budget, however many files came and went.
      EXPECT_LE(SpillMemoryHeld(), uint64_t(64) << 10);
    }
  }
  EXPECT_EQ(SpillMemoryHeld(), 0u);
}

TEST(SpillStore, ManyFilesShareOneDescriptorAndReuseSpace) {
  vorlin_test::TempDir dir;
  vorlin_test::ScopedTmpDir tmp(dir.path().string());
  const size_t before = vorlin_test::OpenDescriptors();
  std::vector<File> files;
  for (int i = 0; i < 3000; ++i) {
    files.push_back(CreateTemporaryFile());
    ASSERT_TRUE(files.back().IsValid());
    uint32_t value = uint32_t(i);
    ASSERT_TRUE(files.back().Write(&value, sizeof value));
  }
  EXPECT_LE(vorlin_test::OpenDescriptors(), before + 1);
  for (int i = 0; i < 3000; ++i) {
    uint32_t value = 0;
    ASSERT_TRUE(files[size_t(i)].ReadExactAt(&value, sizeof value, 0));
    ASSERT_EQ(value, uint32_t(i));
  }
  files.clear();
  EXPECT_EQ(vorlin_test::OpenDescriptors(), before);  // the backing file closes with its last user
}

TEST(TemporaryFile, LivesInTmpdirAndVanishesOnClose) {
  vorlin_test::TempDir dir;
  {
    vorlin_test::ScopedTmpDir unset("");
    EXPECT_EQ(TemporaryDirectory(), "/tmp");
  }
  vorlin_test::ScopedTmpDir tmp(dir.path().string());
  EXPECT_EQ(TemporaryDirectory(), dir.path().string());
  File a = CreateTemporaryFile();
  ASSERT_TRUE(a.IsValid() && a.Write("hello", 5));
  EXPECT_EQ(dir.EntryCount(), 0u);  // unlinked at creation
  EXPECT_TRUE(a.Close());
  vorlin_test::ScopedTmpDir missing(dir.file("does-not-exist"));
  EXPECT_FALSE(CreateTemporaryFile().IsValid());
}
