#include "import/grid_cell_writer.h"

#include <string.h>

#include "format/qzv_writer.h"
#include "platform/temp_file.h"

using Zelvane::Vorlin::CellPoint;

namespace {
constexpr size_t kRecordBytes = vorlin::format::kRecordSizeV4;
}  // namespace

// The stored record is the in-memory one on this little-endian target, so a
// record is buffered with one copy.
static_assert(kRecordBytes == sizeof(CellPoint), "stored and memory records differ in size");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records are stored little-endian");

bool CellWriter::CreateSpillFile() {
  if (m_spill.IsValid()) return true;
  m_spill = vorlin::platform::CreateTemporaryFile();
  return m_spill.IsValid();
}

bool CellWriter::WriteBuffer() {
  size_t bytes = size_t(m_buffered) * kRecordBytes;
  bool ok = m_spill.Write(m_buffer.get(), bytes);
  m_buffered = 0;
  return ok;
}

bool CellWriter::AppendAndSpill(const CellPoint& record) {
  if (!m_buffer) m_buffer.reset(new uint8_t[size_t(m_capacity) * kRecordBytes]);
  // The padding byte is stored as 0 whatever the record holds.
  uint8_t* slot = m_buffer.get() + size_t(m_buffered) * kRecordBytes;
  memcpy(slot, &record, kRecordBytes);
  slot[kRecordBytes - 1] = 0;
  ++count;
  ++m_buffered;
  if (m_buffered < m_capacity) return true;
  if (!CreateSpillFile()) return false;
  return WriteBuffer();
}

bool CellWriter::Flush() {
  bool ok = true;
  if (m_buffered > 0) {
    // A cell whose records cannot reach a spill file would silently lose
    // them; report it instead so the import fails visibly.
    ok = CreateSpillFile() && WriteBuffer();
  }
  if (ok) m_buffer.reset();
  return ok;
}
