#ifndef VORLIN_IMPORT_PAGED_POINT_LIST_H
#define VORLIN_IMPORT_PAGED_POINT_LIST_H

#include <stdint.h>

#include <memory>
#include <vector>

#include "vorlin/cell_point.h"

using Zelvane::Vorlin::CellPoint;

// One page of a paged list. Spill offsets are 64-bit so that a single huge
// cell cannot overflow its spill file's offsets.
struct PointBlock {
  std::unique_ptr<CellPoint[]> records;  // null while swapped out
  int32_t capacity = 0;
  int64_t fileOffset = 0;  // 0: never written (offset 0 of the spill file holds no block)
  uint8_t dirty = 0;       // resident records differ from the file copy
  uint8_t pinned = 0;      // the current block of its list: must stay resident
  uint8_t queued = 0;      // listed for eviction by the manager

  bool IsResident() const { return records != nullptr; }
};

// Allocates blocks and decides which of them stay in memory.
class IBufferManager {
 public:
  virtual ~IBufferManager() = default;
  virtual PointBlock* AllocateBlock(int32_t capacity) = 0;
  // Brings a swapped-out block back, reading its records when load is set
  // (otherwise the caller overwrites them all); false when they could not be
  // read (they are then zero).
  [[nodiscard]] virtual bool SwapIn(PointBlock* block, bool load) = 0;
  // The block stopped being its list's current block and may leave memory.
  virtual void Unpinned(PointBlock* block) = 0;
  // Moves unpinned blocks out until memory is within budget.
  virtual void Trim() = 0;
};

// A list of records in fixed blocks; only the current block needs to stay in
// memory. Reading and writing walk from the current block and position,
// which the caller sets first.
class PagedPointList {
 public:
  static constexpr int32_t kBlockRecords = 512;

  PagedPointList() = default;
  PagedPointList(const PagedPointList&) = delete;
  PagedPointList& operator=(const PagedPointList&) = delete;

  void SetManager(IBufferManager* manager) { m_manager = manager; }

  // Each returns false once a block of the list failed to come back from
  // the store; the records moved are then not the list's.
  [[nodiscard]] bool Append(const CellPoint& record);
  // Copies bytes / 20 records from the list, starting at the current block
  // and position. The caller stays within the appended records.
  [[nodiscard]] bool Read(CellPoint* destination, int64_t bytes);
  // Replaces all records of the list with Count() records from source;
  // blocks that leave memory are not read back to be overwritten.
  [[nodiscard]] bool Rewrite(const CellPoint* source) { return Overwrite(0, source, m_count); }
  // Replaces records [first, first + count), which the list holds, with
  // those of source; only blocks written in part are read back first.
  [[nodiscard]] bool Overwrite(int64_t first, const CellPoint* source, int64_t count);
  // Makes block index current (resident); others may leave memory. False
  // when the block could not be read back (its records are then zero).
  [[nodiscard]] bool SelectBlock(int32_t index, bool load = true);

  void SetPosition(int32_t position) { m_position = position; }
  int32_t Position() const { return m_position; }
  int32_t CurrentBlock() const { return m_current; }
  int64_t Count() const { return m_count; }
  int32_t BlockCount() const { return int32_t(m_blocks.size()); }
  const PointBlock& Block(int32_t index) const { return *m_blocks[size_t(index)]; }

 private:
  // Moves to the next block when the current one is used up.
  void AdvanceIfFull();
  // Records a failed selection; Append, Read and Write report it.
  void Select(int32_t index) {
    if (!SelectBlock(index)) m_failed = true;
  }

  std::vector<std::unique_ptr<PointBlock>> m_blocks;
  IBufferManager* m_manager = nullptr;
  int32_t m_current = -1;
  int32_t m_position = kBlockRecords;
  int64_t m_count = 0;
  bool m_failed = false;
};

#endif
