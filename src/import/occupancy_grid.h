#ifndef VORLIN_IMPORT_OCCUPANCY_GRID_H
#define VORLIN_IMPORT_OCCUPANCY_GRID_H

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <memory>

#include "import/paged_point_list.h"
#include "platform/file.h"

// A d0 x d1 x d2 grid of paged lists whose blocks share one temporary spill
// file, made when the first block must leave memory. Every list's current
// block stays in memory; the others leave, oldest release first, whenever
// the blocks in memory hold more than the resident budget, so memory is at
// most the budget plus one block per list. The file lives as long
// as the grid; closing it deletes it. The first failure to make, write or
// read the file is remembered (Failed): no file call follows it, the block
// that needed it stays resident or reads as zeros, and the caller ends the
// work.
class OccupancyGrid : public IBufferManager {
 public:
  OccupancyGrid() = default;
  ~OccupancyGrid() override;
  OccupancyGrid(const OccupancyGrid&) = delete;
  OccupancyGrid& operator=(const OccupancyGrid&) = delete;

  void Init(int32_t d0, int32_t d1, int32_t d2);

  PagedPointList& List(int32_t index) { return m_lists[size_t(index)]; }
  PagedPointList& List(int32_t i, int32_t j, int32_t k) { return List((k * m_d1 + j) * m_d0 + i); }
  int32_t ListCount() const { return m_d0 * m_d1 * m_d2; }

  PointBlock* AllocateBlock(int32_t capacity) override;
  bool SwapIn(PointBlock* block, bool load) override;
  void Unpinned(PointBlock* block) override;
  void Trim() override;

  bool Failed() const { return m_failed; }
  // Blocks stay in memory until they hold more than this many bytes; only
  // then do they go to the spill file. 0 (the default) keeps only the
  // current blocks.
  void SetResidentBudget(size_t bytes) { m_residentBudget = bytes; }

 private:
  bool WriteAt(int64_t offset, const void* data, size_t bytes);
  bool MakeSpillFile();
  // Writes the block out when the file lacks its records, then frees them.
  bool Evict(PointBlock* block);

  std::unique_ptr<PagedPointList[]> m_lists;
  std::deque<PointBlock*> m_evictable;  // unpinned blocks, oldest first; may hold stale entries
  int32_t m_d0 = 0;
  int32_t m_d1 = 0;
  int32_t m_d2 = 0;
  vorlin::platform::File m_spill;
  int64_t m_spillEnd = 0;
  int64_t m_filePosition = -1;  // where the next write lands; -1 unknown
  size_t m_residentBytes = 0;   // records of blocks in memory
  size_t m_residentBudget = 0;
  bool m_failed = false;
};

#endif
