#include "platform/range_reader.h"

#include <string.h>

#include <algorithm>
#include <new>

#include "platform/fault_injection.h"

namespace vorlin {
namespace platform {

RangeReader::RangeReader(size_t mappedBudget, size_t mergeLimit)
    : m_mappedBudget(mappedBudget), m_mergeLimit(mergeLimit) {}

RangeReader::~RangeReader() { Close(); }

void RangeReader::Open(File& file) {
  Close();
  m_file = &file;
}

void RangeReader::Close() {
  m_map.Unmap();
  m_mapTried = false;
  m_mapped = std::vector<uint64_t>();
  m_seen = std::vector<uint64_t>();
  m_reads = std::vector<Range>();
  m_mappedWindows = 0;
  m_staging.reset();
  m_file = nullptr;
}

void RangeReader::SetLimits(size_t mappedBudget, size_t mergeLimit) {
  File* file = m_file;
  Close();
  m_file = file;
  m_mappedBudget = mappedBudget;
  m_mergeLimit = mergeLimit;
}

bool RangeReader::Fetch(const Range* ranges, size_t count) {
  if (count == 0) return true;
  if (!m_file || !m_file->IsValid()) return false;
  if (m_mappedBudget > 0 && m_file->NativeHandle() >= 0) {
    if (!m_mapTried) {
      m_mapTried = true;
      const int64_t size = m_file->Size();
      if (size > 0 && uint64_t(size) <= SIZE_MAX && OnLocalFileSystem(*m_file) &&
          m_map.Map(*m_file, 0, size_t(size))) {
        m_windowBase = reinterpret_cast<uintptr_t>(m_map.data()) % kWindowBytes;
        m_mapped.assign((LastWindow(0, size_t(size)) + 64) / 64, 0);
        m_seen = m_mapped;
      }
    }
    uint64_t end = 0;
    bool inside = m_map.data() != nullptr;
    for (size_t i = 0; i < count && inside; ++i) {
      const Range& r = ranges[i];
      inside = r.offset <= m_map.size() && r.size <= m_map.size() - r.offset;
      end = std::max(end, r.offset + r.size);
    }
    // A file cut short since it was mapped would fault instead of failing.
    if (inside && m_file->Size() >= int64_t(end)) return FetchMixed(ranges, count);
  }
  return FetchByReads(ranges, count);
}

bool RangeReader::Seen(const Range& r) const {
  if (r.size == 0) return true;
  for (uint64_t w = FirstWindow(r.offset), last = LastWindow(r.offset, r.size); w <= last; ++w)
    if (!TestBit(m_seen, w)) return false;
  return true;
}

bool RangeReader::FetchMixed(const Range* ranges, size_t count) {
  // Windows of the ranges that earlier fetches touched, and how many of them
  // are not mapped yet; the ranges are sorted, so a window shared by
  // neighbours counts once.
  const size_t budget = std::max<size_t>(1, m_mappedBudget / kWindowBytes);
  size_t all = 0, fresh = 0;
  uint64_t next = 0;
  for (size_t i = 0; i < count && all <= budget; ++i) {
    const Range& r = ranges[i];
    if (r.size == 0 || !Seen(r)) continue;
    const uint64_t last = LastWindow(r.offset, r.size);
    for (uint64_t w = std::max(FirstWindow(r.offset), next); w <= last; ++w, ++all)
      fresh += !TestBit(m_mapped, w);
    next = std::max(next, last + 1);
  }
  bool map = all > 0 && all <= budget;
  if (map && m_mappedWindows + fresh > budget) {
    map = m_map.DropPages();
    if (map) {
      std::fill(m_mapped.begin(), m_mapped.end(), 0);
      m_mappedWindows = 0;
      ++m_drops;
    }
  }

  m_reads.clear();
  const uint8_t* base = m_map.data();
  for (size_t i = 0; i < count; ++i) {
    const Range& r = ranges[i];
    if (!map || !Seen(r)) {
      m_reads.push_back(r);
      continue;
    }
    if (r.size > 0) {
      for (uint64_t w = FirstWindow(r.offset), last = LastWindow(r.offset, r.size); w <= last; ++w)
        m_mappedWindows += SetBit(m_mapped, w);
    }
    // Each copy stands for one read, so that injected faults reach it.
    bool shortRead = false;
    if (detail::FaultHere(kFaultRead, &shortRead)) {
      if (shortRead) memcpy(r.out, base + r.offset, r.size / 2);
      return false;
    }
    memcpy(r.out, base + r.offset, r.size);
  }
  for (const Range& r : m_reads) {
    if (r.size == 0) continue;
    for (uint64_t w = FirstWindow(r.offset), last = LastWindow(r.offset, r.size); w <= last; ++w)
      SetBit(m_seen, w);
  }
  return FetchByReads(m_reads.data(), m_reads.size());
}

bool RangeReader::FetchByReads(const Range* ranges, size_t count) {
  for (size_t i = 0; i < count;) {
    const Range& first = ranges[i];
    if (first.size > UINT64_MAX - first.offset) return false;
    uint64_t end = first.offset + first.size;
    size_t j = i + 1;
    if (first.size <= m_mergeLimit) {
      for (; j < count; ++j) {
        const Range& r = ranges[j];
        if (r.size > m_mergeLimit || r.offset < end || r.offset - end > m_mergeLimit ||
            r.offset + r.size - first.offset > kStagingBytes)
          break;
        end = r.offset + r.size;
      }
    }
    if (j > i + 1 && !m_staging) m_staging.reset(new (std::nothrow) uint8_t[kStagingBytes]);
    if (j == i + 1 || !m_staging) {
      // Alone, or no memory to merge: each range is its own read.
      for (size_t k = i; k < j; ++k)
        if (!m_file->ReadExactAt(ranges[k].out, ranges[k].size, ranges[k].offset)) return false;
    } else {
      if (!m_file->ReadExactAt(m_staging.get(), size_t(end - first.offset), first.offset))
        return false;
      for (size_t k = i; k < j; ++k)
        memcpy(ranges[k].out, m_staging.get() + (ranges[k].offset - first.offset),
               ranges[k].size);
    }
    i = j;
  }
  return true;
}

}  // namespace platform
}  // namespace vorlin
