#ifndef VORLIN_IMPORT_LINEAR_POINT_CELL_BUF_H
#define VORLIN_IMPORT_LINEAR_POINT_CELL_BUF_H

#include <stdint.h>

#include <memory>

#include "import/grid_cell_writer.h"
#include "import/linear_point_buf.h"

// A stream over one cell's spill file, one stored record per read or write at
// the stream's position (the file is read and written in batches). Does
// nothing when the cell has no spill file. The first failed or short read,
// write or seek is remembered (Failed) and the stream does no file call
// after it; a read then yields a zeroed record. Pending writes reach the
// file on Rewind, which is where a caller checks Failed.
class LinearPointCellBuf : public LinearPointBuf {
 public:
  explicit LinearPointCellBuf(CellWriter& cell) : m_cell(cell) {}
  // Reads the cell's spill file and writes to target at its position
  // instead, so ordered records go straight to the output.
  LinearPointCellBuf(CellWriter& cell, vorlin::platform::File& target)
      : m_cell(cell), m_target(&target) {}
  ~LinearPointCellBuf() override;
  LinearPointCellBuf(const LinearPointCellBuf&) = delete;
  LinearPointCellBuf& operator=(const LinearPointCellBuf&) = delete;

  void Rewind() override;
  void WritePoint(const CellPoint& point) override;
  void ReadPoint(CellPoint& point) override;
  bool Failed() const override { return m_failed || m_targetFailed; }
  // Whether it was a write to the separate target that failed.
  bool TargetFailed() const { return m_targetFailed; }

 private:
  static constexpr uint32_t kBatchRecords = 4096;

  void FlushWrites();
  // Puts the file position back where the stream is, dropping read-ahead.
  void DropReadAhead();

  CellWriter& m_cell;
  vorlin::platform::File* m_target = nullptr;
  std::unique_ptr<uint8_t[]> m_batch;
  uint32_t m_writes = 0;     // records waiting in the batch to be written
  uint32_t m_readBytes = 0;  // bytes read ahead into the batch
  uint32_t m_readAt = 0;     // next unread byte of the batch
  bool m_failed = false;
  bool m_targetFailed = false;
};

#endif
