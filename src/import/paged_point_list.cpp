#include "import/paged_point_list.h"

#include <string.h>

#include <algorithm>
#include <memory>

constexpr int32_t PagedPointList::kBlockRecords;

bool PagedPointList::SelectBlock(int32_t index, bool load) {
  if (index == m_current || index < 0 || index >= BlockCount()) return true;
  if (m_current >= 0) {
    PointBlock* previous = m_blocks[size_t(m_current)].get();
    previous->pinned = 0;
    m_manager->Unpinned(previous);
  }
  m_current = index;
  PointBlock* selected = m_blocks[size_t(index)].get();
  selected->pinned = 1;
  const bool ok = selected->IsResident() || m_manager->SwapIn(selected, load);
  m_manager->Trim();
  return ok;
}

bool PagedPointList::Append(const CellPoint& record) {
  if (m_position == kBlockRecords) {
    if (m_current + 1 == BlockCount()) {
      // Owned before the list grows, so that a failing growth frees it.
      std::unique_ptr<PointBlock> block(m_manager->AllocateBlock(kBlockRecords));
      m_blocks.push_back(std::move(block));
      m_position = 0;
      Select(BlockCount() - 1);
    } else {
      Select(m_current + 1);
      m_position = 0;
    }
  }
  PointBlock& block = *m_blocks[size_t(m_current)];
  block.dirty = 1;
  block.records[size_t(m_position)] = record;
  ++m_count;
  ++m_position;
  return !m_failed;
}

void PagedPointList::AdvanceIfFull() {
  if (m_position == kBlockRecords && m_current + 1 < BlockCount()) {
    Select(m_current + 1);
    m_position = 0;
  }
}

bool PagedPointList::Read(CellPoint* destination, int64_t bytes) {
  int64_t remaining = bytes / int64_t(sizeof(CellPoint));
  while (remaining > 0) {
    int64_t k = std::min<int64_t>(remaining, kBlockRecords - m_position);
    if (k <= 0 || m_current < 0) break;  // nothing left to read
    const PointBlock& block = *m_blocks[size_t(m_current)];
    memcpy(destination, &block.records[size_t(m_position)], size_t(k) * sizeof(CellPoint));
    destination += k;
    remaining -= k;
    m_position += int32_t(k);
    AdvanceIfFull();
  }
  return !m_failed;
}

bool PagedPointList::Overwrite(int64_t first, const CellPoint* source, int64_t count) {
  const int64_t end = std::min(first + count, m_count);
  for (int64_t at = std::max<int64_t>(first, 0); at < end;) {
    const int32_t b = int32_t(at / kBlockRecords);
    const int64_t blockFirst = int64_t(b) * kBlockRecords;
    const int64_t to = std::min(end, blockFirst + kBlockRecords);
    // A block written only in part keeps the rest of its file copy.
    const bool whole = at == blockFirst && to == blockFirst + kBlockRecords;
    if (!SelectBlock(b, !whole)) return false;
    PointBlock& block = *m_blocks[size_t(b)];
    memcpy(&block.records[size_t(at - blockFirst)], source + (at - first),
           size_t(to - at) * sizeof(CellPoint));
    block.dirty = 1;
    m_position = int32_t(to - blockFirst);
    at = to;
  }
  return !m_failed;
}
