#ifndef VORLIN_IMPORT_GRID_CELL_WRITER_H
#define VORLIN_IMPORT_GRID_CELL_WRITER_H

#include <stdint.h>
#include <string.h>

#include <memory>

#include "import/grid_cell.h"
#include "platform/file.h"
#include "vorlin/cell_point.h"

// The binning pass's store for one cell: a buffer of records in memory, the
// rest in a temporary spill file created when the buffer first fills. The
// inherited count is the number of records appended. Records are kept in
// their stored (little-endian) form, so the spill file can be copied to the
// output as is.
class CellWriter : public GridCell {
 public:
  static constexpr int32_t kBufferRecords = 256;
  static constexpr int32_t kMaxBufferRecords = 4096;
  // Appends land in a small stage (five cache lines) that moves to the
  // buffer whole: the stages of a thousand cells stay in cache, which the
  // buffers do not.
  static constexpr int32_t kStageRecords = 16;

  CellWriter() = default;
  // Records per buffer, kBufferRecords to kMaxBufferRecords (rounded down to
  // whole stages); set before the first append. Larger buffers mean fewer,
  // larger spill writes.
  void SetBufferRecords(int32_t records) {
    m_capacity = records - records % kStageRecords;
    if (m_capacity < kStageRecords) m_capacity = kStageRecords;
  }
  ~CellWriter() override = default;
  CellWriter(const CellWriter&) = delete;
  CellWriter& operator=(const CellWriter&) = delete;

  // False when the spill file cannot be created or a spill write is short.
  [[nodiscard]] bool Append(const Zelvane::Vorlin::CellPoint& record) {
    // Inline while the record only lands in the buffer; the stored record is
    // the in-memory one on this little-endian target, padding stored as 0.
    if (m_buffer && m_staged + 1 < kStageRecords) {
      uint8_t* slot = m_buffer.get() + size_t(m_staged) * sizeof(record);
      memcpy(slot, &record, sizeof(record));
      slot[sizeof(record) - 1] = 0;
      ++count;
      ++m_staged;
      return true;
    }
    return AppendAndSpill(record);
  }

  // Moves the buffered records to the spill file and frees the buffer. False
  // when records were buffered but could not all be written.
  [[nodiscard]] bool Flush();

  bool HasSpillFile() const { return m_spill.IsValid(); }
  vorlin::platform::File& spillFile() { return m_spill; }
  int32_t buffered() const { return m_buffered + m_staged; }
  bool HasBuffer() const { return m_buffer != nullptr; }

 private:
  bool AppendAndSpill(const Zelvane::Vorlin::CellPoint& record);
  bool CreateSpillFile();
  bool WriteBuffer();
  // Records of the buffer proper, after the stage.
  uint8_t* Records() { return m_buffer.get() + size_t(kStageRecords) * sizeof(Zelvane::Vorlin::CellPoint); }

  vorlin::platform::File m_spill;
  std::unique_ptr<uint8_t[]> m_buffer;  // the stage, then the buffer proper
  int32_t m_staged = 0;
  int32_t m_buffered = 0;
  int32_t m_capacity = kBufferRecords;
};

#endif
