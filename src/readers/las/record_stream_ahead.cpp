// Decoding ahead: a worker thread runs the same Decode the consumer would,
// into a small ring of record batches, so decoding overlaps the caller's own
// work. The batch that ends the records carries the end or the damage, so
// the consumer meets it after the same records as without the thread.

#include <algorithm>
#include <cstring>

#include "readers/las/record_stream.h"

namespace vorlin {
namespace las {

void RecordStream::StartAhead() {
  m_batchRecords = std::max<size_t>(1, kAheadBatchBytes / m_recordLength);
  m_batches.resize(kAheadBatches);
  for (Batch& b : m_batches) b.bytes.resize(m_batchRecords * m_recordLength);
  m_head = m_filled = 0;
  m_stopping = false;
  m_stop.store(false, std::memory_order_relaxed);
  m_current = nullptr;
  m_currentAt = 0;
  // Without a thread the records are decoded on the caller's, as before.
  m_ahead = m_worker.Start([this] { DecodeAhead(); });
}

void RecordStream::StopAhead() {
  if (!m_ahead) return;
  m_stop.store(true, std::memory_order_relaxed);
  m_monitor.Enter();
  m_stopping = true;
  m_monitor.NotifyAll();
  m_monitor.Leave();
  m_worker.Join();
  m_ahead = false;
  m_current = nullptr;
  m_batches.clear();
  m_batches.shrink_to_fit();
}

void RecordStream::DecodeAhead() {
  for (;;) {
    m_monitor.Enter();
    while (!m_stopping && m_filled == m_batches.size()) m_monitor.Wait();
    const bool stopping = m_stopping;
    Batch* batch = &m_batches[(m_head + m_filled) % m_batches.size()];
    m_monitor.Leave();
    if (stopping) return;

    batch->count = 0;
    batch->end = Result::Record;
    uint8_t* out = batch->bytes.data();
    while (batch->count < m_batchRecords) {
      if (m_stop.load(std::memory_order_relaxed)) return;
      const Result result = Decode(out);
      if (result != Result::Record) {
        batch->end = result;
        if (result == Result::Damaged) batch->error = m_decodeError;
        break;
      }
      ++batch->count;
      out += m_recordLength;
    }
    const bool last = batch->end != Result::Record;
    m_monitor.Enter();
    ++m_filled;
    m_monitor.NotifyAll();
    m_monitor.Leave();
    if (last) return;
  }
}

RecordStream::Result RecordStream::NextAhead(uint8_t* record) {
  for (;;) {
    if (m_current) {
      if (m_currentAt < m_current->count) {
        std::memcpy(record, m_current->bytes.data() + m_currentAt * m_recordLength, m_recordLength);
        ++m_currentAt;
        return Result::Record;
      }
      // The last batch stays current: its end is the answer from now on.
      if (m_current->end != Result::Record) {
        if (m_current->end == Result::Damaged) m_error = m_current->error;
        return m_current->end;
      }
      m_monitor.Enter();
      m_head = (m_head + 1) % m_batches.size();
      --m_filled;
      m_monitor.NotifyAll();
      m_monitor.Leave();
      m_current = nullptr;
    }
    m_monitor.Enter();
    while (m_filled == 0) m_monitor.Wait();
    m_current = &m_batches[m_head];
    m_monitor.Leave();
    m_currentAt = 0;
  }
}

}  // namespace las
}  // namespace vorlin
