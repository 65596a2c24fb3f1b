#ifndef VORLIN_PLATFORM_RANGE_READER_H
#define VORLIN_PLATFORM_RANGE_READER_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <vector>

#include "platform/file.h"
#include "platform/mapped_range.h"

namespace vorlin {
namespace platform {

// Copies many byte ranges of one open file into caller buffers, for queries
// that take a prefix of many cells.
//
// One read per range costs a system call and a page-cache lookup each; a
// fetch of a few hundred ranges spends more on that than on copying. So the
// reader copies from a read-only mapping of the file, whose pages stay mapped
// from one fetch to the next. Faulting a page in costs more than reading it,
// so a range is copied from the mapping only where an earlier fetch has
// been (the leading records of the same cells, asked for again); a first
// visit is read. Mapped pages count towards the process's
// resident size (they are the page cache's, and the system may still reclaim
// them), so the reader keeps them within a budget: it counts the 2 MiB-aligned
// windows of the mapping it has touched (a fault maps pages around the one it
// needs, or a whole large folio, but never beyond the window of one page
// table), drops every mapped page when a fetch would go past the budget, and
// reads a fetch larger than the whole budget with plain reads instead. Plain
// reads merge small neighbouring ranges into one read through a staging
// buffer; the skipped bytes cost less than a call.
//
// A failed or short read, or a range past the end of the file (also when the
// file shrank after it was mapped), fails the fetch; the caller's buffers
// then hold unspecified bytes. (Another process cutting the file short during
// a mapped copy is the one failure a mapping cannot report as an error, so
// files on network or user-space file systems, where a read can fail at any
// time, are never mapped: see OnLocalFileSystem.)
//
// Not thread-safe: one caller at a time, like the file it reads. Memory: up
// to the budget of mapped file pages, two window tables (one bit per 2 MiB
// of the file each), a copy of the largest fetch's ranges that were read, and
// once plain reads merge, a staging buffer of kStagingBytes.
class RangeReader {
 public:
  struct Range {
    uint64_t offset;
    size_t size;
    uint8_t* out;
  };

  static constexpr size_t kWindowBytes = size_t(2) << 20;
  static constexpr size_t kDefaultMappedBudget = size_t(512) << 20;
  static constexpr size_t kStagingBytes = size_t(256) << 10;
  // Ranges up to this size merge with a neighbour this close.
  static constexpr size_t kDefaultMergeLimit = size_t(8) << 10;

  // mappedBudget 0 never maps; mergeLimit 0 never merges.
  explicit RangeReader(size_t mappedBudget = kDefaultMappedBudget,
                       size_t mergeLimit = kDefaultMergeLimit);
  ~RangeReader();
  RangeReader(const RangeReader&) = delete;
  RangeReader& operator=(const RangeReader&) = delete;

  // Reads from file from now on; it must stay open until Close or the next
  // Open. Nothing is mapped until a fetch needs it.
  void Open(File& file);
  // Unmaps and frees everything; the reader reads nothing until Open.
  void Close();

  // Replaces the limits given at construction and unmaps; for tests.
  void SetLimits(size_t mappedBudget, size_t mergeLimit);

  // Copies every range; ranges must be sorted by offset and not overlap.
  // False when any range could not be read whole.
  [[nodiscard]] bool Fetch(const Range* ranges, size_t count);

  // Windows counted as mapped, and how often the mapping was dropped.
  size_t MappedWindows() const { return m_mappedWindows; }
  uint64_t Drops() const { return m_drops; }

 private:
  // Copies the ranges whose windows were seen before from the mapping, when
  // they fit the budget, and reads the others.
  bool FetchMixed(const Range* ranges, size_t count);
  bool FetchByReads(const Range* ranges, size_t count);
  bool Seen(const Range& r) const;
  static bool TestBit(const std::vector<uint64_t>& bits, uint64_t i) {
    return (bits[i >> 6] >> (i & 63)) & 1;
  }
  // True when the bit was clear.
  static bool SetBit(std::vector<uint64_t>& bits, uint64_t i) {
    const uint64_t mask = uint64_t(1) << (i & 63);
    const bool wasClear = !(bits[i >> 6] & mask);
    bits[i >> 6] |= mask;
    return wasClear;
  }
  // The windows, counted from the one holding the mapping's first byte, that
  // bytes [offset, offset + size) of the file lie in; size above 0.
  uint64_t FirstWindow(uint64_t offset) const { return (m_windowBase + offset) / kWindowBytes; }
  uint64_t LastWindow(uint64_t offset, size_t size) const {
    return (m_windowBase + offset + size - 1) / kWindowBytes;
  }

  File* m_file = nullptr;
  MappedRange m_map;
  bool m_mapTried = false;
  size_t m_mappedBudget;
  size_t m_mergeLimit;
  // One bit per window of the mapping: touched through the mapping since the
  // last drop, and visited by any fetch since Open.
  std::vector<uint64_t> m_mapped, m_seen;
  uint64_t m_windowBase = 0;  // the mapping's address within its window
  std::vector<Range> m_reads;
  size_t m_mappedWindows = 0;
  uint64_t m_drops = 0;
  std::unique_ptr<uint8_t[]> m_staging;
};

}  // namespace platform
}  // namespace vorlin

#endif
