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
  m_windows.clear();
  m_windows.shrink_to_fit();
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
      if (size > 0 && uint64_t(size) <= SIZE_MAX && m_map.Map(*m_file, 0, size_t(size))) {
        m_windowBase = reinterpret_cast<uintptr_t>(m_map.data()) % kWindowBytes;
        m_windows.assign((LastWindow(0, size_t(size)) + 64) / 64, 0);
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
    if (inside && m_file->Size() >= int64_t(end) && ClaimWindows(ranges, count))
      return FetchMapped(ranges, count);
  }
  return FetchByReads(ranges, count);
}

bool RangeReader::ClaimWindows(const Range* ranges, size_t count) {
  const size_t budget = std::max<size_t>(1, m_mappedBudget / kWindowBytes);
  size_t all = 0, fresh = 0;
  uint64_t next = 0;  // first window not yet counted; the ranges are sorted
  for (size_t i = 0; i < count; ++i) {
    const Range& r = ranges[i];
    if (r.size == 0) continue;
    const uint64_t lastWindow = LastWindow(r.offset, r.size);
    for (uint64_t w = std::max(FirstWindow(r.offset), next); w <= lastWindow; ++w) {
      ++all;
      fresh += !TestWindow(w);
    }
    next = std::max(next, lastWindow + 1);
    if (all > budget) return false;
  }
  if (m_mappedWindows + fresh > budget) {
    if (!m_map.DropPages()) return false;
    std::fill(m_windows.begin(), m_windows.end(), 0);
    m_mappedWindows = 0;
    ++m_drops;
  }
  next = 0;
  for (size_t i = 0; i < count; ++i) {
    const Range& r = ranges[i];
    if (r.size == 0) continue;
    const uint64_t lastWindow = LastWindow(r.offset, r.size);
    for (uint64_t w = std::max(FirstWindow(r.offset), next); w <= lastWindow; ++w) {
      if (TestWindow(w)) continue;
      m_windows[w >> 6] |= uint64_t(1) << (w & 63);
      ++m_mappedWindows;
    }
    next = std::max(next, lastWindow + 1);
  }
  return true;
}

bool RangeReader::FetchMapped(const Range* ranges, size_t count) {
  const uint8_t* base = m_map.data();
  for (size_t i = 0; i < count; ++i) {
    const Range& r = ranges[i];
    // Each range stands for one read, so that injected faults reach it.
    bool shortRead = false;
    if (detail::FaultHere(kFaultRead, &shortRead)) {
      if (shortRead) memcpy(r.out, base + r.offset, r.size / 2);
      return false;
    }
    memcpy(r.out, base + r.offset, r.size);
  }
  return true;
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
