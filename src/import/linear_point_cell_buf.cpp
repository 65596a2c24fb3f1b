#include "import/linear_point_cell_buf.h"

#include <string.h>

#include "format/qzv_writer.h"

namespace {
constexpr uint32_t kRecordBytes = vorlin::format::kRecordSizeV4;
}

LinearPointCellBuf::~LinearPointCellBuf() { FlushWrites(); }

void LinearPointCellBuf::Rewind() {
  FlushWrites();
  m_readBytes = m_readAt = 0;
  if (m_cell.HasSpillFile() && !m_failed && !m_cell.spillFile().Seek(0)) m_failed = true;
}

void LinearPointCellBuf::FlushWrites() {
  if (m_writes == 0) return;
  const size_t bytes = size_t(m_writes) * kRecordBytes;
  m_writes = 0;
  if (Failed()) return;
  if (m_target) {
    if (!m_target->Write(m_batch.get(), bytes)) m_targetFailed = true;
  } else if (!m_cell.spillFile().Write(m_batch.get(), bytes)) {
    m_failed = true;
  }
}

void LinearPointCellBuf::DropReadAhead() {
  if (m_readAt < m_readBytes && !m_failed &&
      !m_cell.spillFile().SeekRelative(-int64_t(m_readBytes - m_readAt)))
    m_failed = true;
  m_readBytes = m_readAt = 0;
}

void LinearPointCellBuf::WritePoint(const CellPoint& point) {
  if (!m_cell.HasSpillFile()) return;
  if (!m_batch) m_batch.reset(new uint8_t[kBatchRecords * kRecordBytes]);
  DropReadAhead();
  vorlin::format::PackCellPoint(point, m_batch.get() + size_t(m_writes) * kRecordBytes);
  if (++m_writes == kBatchRecords) FlushWrites();
}

void LinearPointCellBuf::ReadPoint(CellPoint& point) {
  if (!m_cell.HasSpillFile()) return;
  if (!m_batch) m_batch.reset(new uint8_t[kBatchRecords * kRecordBytes]);
  FlushWrites();
  if (m_readBytes - m_readAt < kRecordBytes && !m_failed) {
    // Keep a partial record's bytes and read the batch after them.
    uint32_t kept = m_readBytes - m_readAt;
    memmove(m_batch.get(), m_batch.get() + m_readAt, kept);
    m_readBytes = kept;
    m_readAt = 0;
    while (m_readBytes < kRecordBytes) {
      int64_t got = m_cell.spillFile().Read(m_batch.get() + m_readBytes,
                                            kBatchRecords * kRecordBytes - m_readBytes);
      if (got <= 0) break;
      m_readBytes += uint32_t(got);
    }
  }
  uint8_t bytes[kRecordBytes] = {};
  uint32_t available = m_readBytes - m_readAt;
  if (available >= kRecordBytes) {
    memcpy(bytes, m_batch.get() + m_readAt, kRecordBytes);
    m_readAt += kRecordBytes;
  } else {
    // The ordering reads only records it wrote or the binning stored, so a
    // missing record means the file lost it.
    m_failed = true;
    m_readAt = m_readBytes;
  }
  point = vorlin::format::UnpackCellPoint(bytes);
}
