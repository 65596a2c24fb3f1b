#include "import/grid_cell_writer.h"

#include <stdint.h>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace {

constexpr size_t kStageBytes = size_t(CellWriter::kStageRecords) * kRecordBytes;
static_assert(kStageBytes % 16 == 0, "stages keep the buffer's records 16-byte aligned");

// A full stage to its place in the buffer, past the cache where the processor
// allows: the buffer is read once more, by the spill write, long after.
void MoveStage(uint8_t* to, const uint8_t* stage) {
#if defined(__SSE2__)
  if ((reinterpret_cast<uintptr_t>(to) & 15) == 0) {
    for (size_t i = 0; i < kStageBytes; i += 16) {
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + i),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(stage + i)));
    }
    return;
  }
#endif
  memcpy(to, stage, kStageBytes);
}

}  // namespace

bool CellWriter::WriteBuffer() {
#if defined(__SSE2__)
  _mm_sfence();  // the stages' streaming stores land before the buffer is read
#endif
  size_t bytes = size_t(m_buffered) * kRecordBytes;
  bool ok = m_spill.Write(Records(), bytes);
  m_buffered = 0;
  return ok;
}

bool CellWriter::AppendAndSpill(const CellPoint& record) {
  if (!m_buffer) {
    m_buffer.reset(new uint8_t[size_t(kStageRecords + m_capacity) * kRecordBytes]);
    m_staged = 0;
    m_buffered = 0;
  }
  // The padding byte is stored as 0 whatever the record holds.
  uint8_t* slot = m_buffer.get() + size_t(m_staged) * kRecordBytes;
  memcpy(slot, &record, kRecordBytes);
  slot[kRecordBytes - 1] = 0;
  ++count;
  ++m_staged;
  if (m_staged < kStageRecords) return true;
  MoveStage(Records() + size_t(m_buffered) * kRecordBytes, m_buffer.get());
  m_buffered += kStageRecords;
  m_staged = 0;
  if (m_buffered < m_capacity) return true;
  if (!CreateSpillFile()) return false;
  return WriteBuffer();
}

bool CellWriter::Flush() {
  bool ok = true;
  if (m_staged > 0) {
    // The capacity is whole stages, so a partial one always fits.
    memcpy(Records() + size_t(m_buffered) * kRecordBytes, m_buffer.get(),
           size_t(m_staged) * kRecordBytes);
    m_buffered += m_staged;
    m_staged = 0;
  }
  if (m_buffered > 0) {
    // A cell whose records cannot reach a spill file would silently lose
    // them; report it instead so the import fails visibly.
    ok = CreateSpillFile() && WriteBuffer();
  }
  if (ok) m_buffer.reset();
  return ok;
}
