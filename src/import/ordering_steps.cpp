#include "import/ordering_steps.h"

#include <string.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "import/windowed_shuffle.h"
#include "platform/large_allocation.h"
#include "platform/random.h"

namespace vorlin {
namespace {

// Marks target voxels for source voxels, counting the newly set ones.
class Reducer {
 public:
  Reducer(int64_t sourceRes, BitArray& target, int64_t targetRes)
      : m_target(target), m_res(targetRes), m_factor(std::max<int64_t>(1, sourceRes / targetRes)) {}

  void Mark(int64_t x, int64_t y, int64_t z) {
    int64_t tx = std::min(x / m_factor, m_res - 1);
    int64_t ty = std::min(y / m_factor, m_res - 1);
    int64_t tz = std::min(z / m_factor, m_res - 1);
    int32_t bit = int32_t((tz * m_res + ty) * m_res + tx);
    if (!m_target.Test(bit)) {
      m_target.Set(bit);
      ++m_count;
    }
  }
  int64_t Count() const { return m_count; }

 private:
  BitArray& m_target;
  int64_t m_res;
  int64_t m_factor;
  int64_t m_count = 0;
};

bool SizesFit(const BitArray& target, int64_t sourceRes, int64_t targetRes) {
  return sourceRes > 0 && targetRes > 0 &&
         int64_t(target.Size()) >= targetRes * targetRes * targetRes;
}

// A paged list seen as records by index.
class PagedListRange : public RecordRange {
 public:
  explicit PagedListRange(PagedPointList& list) : m_list(list) {}
  bool Read(uint64_t first, CellPoint* destination, uint32_t count) override {
    m_list.SetPosition(int32_t(first % PagedPointList::kBlockRecords));
    return m_list.SelectBlock(int32_t(first / PagedPointList::kBlockRecords)) &&
           m_list.Read(destination, int64_t(count) * int64_t(sizeof(CellPoint)));
  }
  bool Write(uint64_t first, const CellPoint* source, uint32_t count) override {
    return m_list.Overwrite(int64_t(first), source, count);
  }

 private:
  PagedPointList& m_list;
};

bool AllZero(const uint8_t* bytes, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    memcpy(&word, bytes + i, 8);
    if (word) return false;
  }
  for (; i < n; ++i) {
    if (bytes[i]) return false;
  }
  return true;
}

}  // namespace

void ShuffleRecords(CellPoint* records, uint32_t n) {
  // The partners of the next run of steps are drawn and prefetched while the
  // current run swaps, so that a list far larger than the caches seldom
  // waits for memory; the swaps still happen in step order.
  constexpr uint32_t kRun = 64;
  uint32_t partners[2][kRun];
  const bool prefetch = n > 4096;
  auto draw = [&](uint32_t first, uint32_t* partner) {
    const uint32_t last = std::min(n, first + kRun);
    for (uint32_t i = first; i < last; ++i) {
      partner[i - first] = DrawShufflePartner(i);
      if (prefetch) __builtin_prefetch(&records[partner[i - first]], 1);
    }
  };
  if (n < 2) return;
  draw(1, partners[0]);
  for (uint32_t first = 1, run = 0; first < n; first += kRun, run ^= 1) {
    if (first + kRun < n) draw(first + kRun, partners[run ^ 1]);
    const uint32_t last = std::min(n, first + kRun);
    const uint32_t* partner = partners[run];
    for (uint32_t i = first; i < last; ++i) std::swap(records[i], records[partner[i - first]]);
  }
}

void ShuffleIndices(int32_t* indices, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    int32_t j = int32_t(platform::Rand() / 32767.0 * n);
    if (j >= n) j = n - 1;
    std::swap(indices[i], indices[j]);
  }
}

int64_t Downsample(const BitArray& source, int32_t sourceRes, BitArray& target,
                   int32_t targetRes) {
  const int64_t R = sourceRes;
  if (!SizesFit(target, R, targetRes) || int64_t(source.Size()) < R * R * R) return 0;
  Reducer reducer(R, target, targetRes);
  const uint8_t* bytes = source.Bytes();
  const bool byteRows = R % 8 == 0;
  for (int64_t z = 0; z < R; ++z) {
    for (int64_t y = 0; y < R; ++y) {
      int64_t rowBit = (z * R + y) * R;
      if (!byteRows) {
        // Rows shorter than a byte: no skipping, bit by bit.
        for (int64_t x = 0; x < R; ++x) {
          if (source.Test(int32_t(rowBit + x))) reducer.Mark(x, y, z);
        }
        continue;
      }
      const uint8_t* row = bytes + rowBit / 8;
      const int64_t rowBytes = R / 8;
      if (AllZero(row, size_t(rowBytes))) continue;
      for (int64_t b = 0; b < rowBytes;) {
        if (b % 4 == 0 && b + 4 <= rowBytes && AllZero(row + b, 4)) {
          b += 4;
          continue;
        }
        for (unsigned v = row[b]; v; v &= v - 1) reducer.Mark(b * 8 + __builtin_ctz(v), y, z);
        ++b;
      }
    }
  }
  return reducer.Count();
}

int64_t DownsampleBits(const int32_t* bits, size_t bitCount, int32_t sourceRes,
                       BitArray& target, int32_t targetRes) {
  const int64_t R = sourceRes;
  if (!SizesFit(target, R, targetRes)) return 0;
  Reducer reducer(R, target, targetRes);
  for (size_t i = 0; i < bitCount; ++i) {
    int64_t bit = bits[i];
    if (bit < 0 || bit >= R * R * R) continue;
    reducer.Mark(bit % R, (bit / R) % R, bit / (R * R));
  }
  return reducer.Count();
}

bool ShuffleLists(OccupancyGrid& grid, int64_t largestCount, size_t memoryBytes) {
  const int64_t fitting = std::max<int64_t>(1, int64_t(memoryBytes / sizeof(CellPoint)));
  const int64_t scratchRecords = std::min(std::max<int64_t>(largestCount, 0), fitting);
  // Handed back to the system when freed, so that the memory of one path
  // is there for the other.
  platform::LargeVector<CellPoint> scratch;
  for (int32_t s = 0; s < grid.ListCount(); ++s) {
    PagedPointList& list = grid.List(s);
    int64_t n = std::min<int64_t>(list.Count(), std::max<int64_t>(largestCount, 0));
    if (n <= 0) continue;
    if (n > scratchRecords) {
      // Only one of the two buffers is held at a time.
      platform::LargeVector<CellPoint>().swap(scratch);
      PagedListRange range(list);
      if (!ShuffleRecordsWindowed(range, uint32_t(n), ShuffleWindowRecords(memoryBytes)) ||
          grid.Failed())
        return false;
      continue;
    }
    if (scratch.empty()) scratch.resize(size_t(scratchRecords));
    int64_t bytes = n * int64_t(sizeof(CellPoint));
    list.SetPosition(0);
    if (!list.SelectBlock(0) || !list.Read(scratch.data(), bytes)) return false;
    ShuffleRecords(scratch.data(), uint32_t(n));
    if (!list.Rewrite(scratch.data()) || grid.Failed()) return false;
  }
  return true;
}

bool InterleaveLists(OccupancyGrid& grid, const float* weights, LinearPointBuf& out,
                     uint32_t count) {
  bool ok = true;
  DealRecords(
      grid.ListCount(), weights, count, [&](int32_t s) { return grid.List(s).Count(); },
      [&](int32_t s, uint64_t t) {
        PagedPointList& list = grid.List(s);
        CellPoint record;
        list.SetPosition(int32_t(t % PagedPointList::kBlockRecords));
        // After a failure the rest of the deal makes no file call.
        if (ok) {
          ok = list.SelectBlock(int32_t(t / PagedPointList::kBlockRecords)) &&
               list.Read(&record, int64_t(sizeof(CellPoint)));
        }
        if (ok) out.WritePoint(record);
      });
  return ok && !grid.Failed() && !out.Failed();
}

}  // namespace vorlin
