#include "import/occupancy_grid.h"

#include <string.h>

#include <memory>

#include "platform/temp_file.h"

OccupancyGrid::~OccupancyGrid() {
  // Lists first: they own the blocks the grid manages. The spill file closes
  // with its handle; a failed close of a temporary file loses nothing.
  m_lists.reset();
}

void OccupancyGrid::Init(int32_t d0, int32_t d1, int32_t d2) {
  m_lists.reset();
  m_d0 = d0 > 0 ? d0 : 0;
  m_d1 = d1 > 0 ? d1 : 0;
  m_d2 = d2 > 0 ? d2 : 0;
  m_lists.reset(new PagedPointList[size_t(m_d0) * size_t(m_d1) * size_t(m_d2)]);
  for (int32_t i = 0; i < ListCount(); ++i) m_lists[size_t(i)].SetManager(this);
}

bool OccupancyGrid::MakeSpillFile() {
  if (m_spill.IsValid()) return true;
  m_spill = vorlin::platform::CreateTemporaryFile();
  m_spillEnd = 0;
  m_filePosition = -1;
  // Offset 0 never holds a block, so a block offset of 0 can mean "never written".
  const char marker = '*';
  if (!m_spill.IsValid() || !WriteAt(0, &marker, 1)) return false;
  m_spillEnd = 1;
  return true;
}

PointBlock* OccupancyGrid::AllocateBlock(int32_t capacity) {
  std::unique_ptr<PointBlock> block(new PointBlock);
  block->records.reset(new CellPoint[size_t(capacity)]);
  block->capacity = capacity;
  m_residentBytes += size_t(capacity) * sizeof(CellPoint);
  return block.release();
}

void OccupancyGrid::Unpinned(PointBlock* block) {
  if (block->queued || !block->IsResident()) return;
  block->queued = 1;
  m_evictable.push_back(block);
}

void OccupancyGrid::Trim() {
  while (m_residentBytes > m_residentBudget && !m_evictable.empty() && !m_failed) {
    PointBlock* block = m_evictable.front();
    m_evictable.pop_front();
    block->queued = 0;
    // Selected again since it was listed: it is listed anew when released.
    if (block->pinned || !block->IsResident()) continue;
    if (!Evict(block)) return;
  }
}

bool OccupancyGrid::Evict(PointBlock* block) {
  if (!MakeSpillFile()) {
    m_failed = true;
    return false;
  }
  size_t bytes = size_t(block->capacity) * sizeof(CellPoint);
  if (block->fileOffset == 0) {
    block->fileOffset = m_spillEnd;
    m_spillEnd += int64_t(bytes);
    block->dirty = 1;
  }
  if (block->dirty && !WriteAt(block->fileOffset, block->records.get(), bytes)) {
    m_failed = true;
    return false;
  }
  block->records.reset();
  block->dirty = 0;
  m_residentBytes -= bytes;
  return true;
}

bool OccupancyGrid::SwapIn(PointBlock* block, bool load) {
  size_t bytes = size_t(block->capacity) * sizeof(CellPoint);
  block->records.reset(new CellPoint[size_t(block->capacity)]);
  block->dirty = load ? 0 : 1;
  m_residentBytes += bytes;
  if (!load) return true;
  if (!m_failed &&
      m_spill.ReadExactAt(block->records.get(), bytes, uint64_t(block->fileOffset)))
    return true;
  m_failed = true;
  memset(block->records.get(), 0, bytes);
  return false;
}

bool OccupancyGrid::WriteAt(int64_t offset, const void* data, size_t bytes) {
  // Blocks are mostly written one after the other at the spill end; skip
  // the seek when the file is already there.
  if (offset != m_filePosition && !m_spill.Seek(offset)) {
    m_filePosition = -1;
    return false;
  }
  bool written = m_spill.Write(data, bytes);
  m_filePosition = written ? offset + int64_t(bytes) : -1;
  return written;
}
