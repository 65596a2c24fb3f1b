// Decoding ahead: worker w of n decodes chunks w, w + n, w + 2n, ... into a
// small ring of record batches of its own, and the consumer takes the
// chunks' batches in file order, so several chunks decode at once while the
// caller works. A chunk's last batch says whether the chunk ended or broke,
// so the consumer meets damage after the same records as without threads.

#include <algorithm>
#include <cstring>
#include <thread>

#include "readers/las/record_stream.h"

namespace vorlin {
namespace las {

namespace {

unsigned AheadThreads(unsigned wanted, size_t chunks) {
  if (wanted == 0) wanted = std::thread::hardware_concurrency();
  wanted = std::min(std::max(wanted, 1u), RecordStream::kMaxAheadThreads);
  return unsigned(std::min<size_t>(wanted, std::max<size_t>(chunks, 1)));
}

}  // namespace

void RecordStream::StartAhead() {
  m_batchRecords = std::max<size_t>(1, kAheadBatchBytes / m_recordLength);
  m_stopping = false;
  m_stop.store(false, std::memory_order_relaxed);
  m_aheadChunk = 0;
  m_current = nullptr;
  m_currentAt = 0;
  // A worker whose chunk comes next should be able to hold all of it, or
  // it stalls while the consumer still reads the chunk before.
  uint64_t largest = 0;
  for (size_t c = 0; c < m_chunks.size(); ++c) largest = std::max(largest, RecordsOfChunk(c));
  const uint64_t chunkBatches = (largest + m_batchRecords - 1) / m_batchRecords;
  const size_t batches = size_t(
      std::min<uint64_t>(kMaxAheadBatches, std::max<uint64_t>(kAheadBatches, chunkBatches + 1)));
  const unsigned threads = AheadThreads(m_aheadThreads, m_chunks.size());
  for (unsigned w = 0; w < threads; ++w) {
    std::unique_ptr<Worker> worker(new Worker);
    worker->loader.decoder = MakeDecoder();
    worker->ring.resize(batches);
    for (Batch& b : worker->ring) b.bytes.resize(m_batchRecords * m_recordLength);
    m_workers.push_back(std::move(worker));
  }
  for (size_t w = 0; w < m_workers.size(); ++w) {
    if (!m_workers[w]->thread.Start([this, w] { DecodeAhead(w); })) {
      // Without every thread the records are decoded on the caller's.
      StopAhead();
      return;
    }
    m_ahead = true;
  }
}

void RecordStream::StopAhead() {
  m_stop.store(true, std::memory_order_relaxed);
  m_monitor.Enter();
  m_stopping = true;
  m_monitor.NotifyAll();
  m_monitor.Leave();
  for (std::unique_ptr<Worker>& worker : m_workers) worker->thread.Join();
  m_workers.clear();
  m_ahead = false;
  m_current = nullptr;
}

void RecordStream::DecodeAhead(size_t index) {
  Worker& self = *m_workers[index];
  const size_t stride = m_workers.size();
  for (size_t chunk = index; chunk < m_chunks.size(); chunk += stride) {
    uint64_t left = RecordsOfChunk(chunk);
    if (left == 0) return;
    bool damaged = !LoadChunk(self.loader, chunk);
    do {
      m_monitor.Enter();
      while (!m_stopping && self.filled == self.ring.size()) m_monitor.Wait();
      const bool stopping = m_stopping;
      Batch& batch = self.ring[(self.head + self.filled) % self.ring.size()];
      m_monitor.Leave();
      if (stopping) return;

      batch.count = 0;
      uint8_t* out = batch.bytes.data();
      while (!damaged && left > 0 && batch.count < m_batchRecords) {
        if (m_stop.load(std::memory_order_relaxed)) return;
        if (!self.loader.decoder->next(out)) {
          damaged = true;
          break;
        }
        ++batch.count;
        --left;
        out += m_recordLength;
      }
      batch.damaged = damaged;
      batch.chunkEnd = damaged || left == 0;
      if (damaged) batch.error = "chunk " + std::to_string(chunk) + " is damaged";
      m_monitor.Enter();
      ++self.filled;
      m_monitor.NotifyAll();
      m_monitor.Leave();
    } while (!damaged && left > 0);
    if (damaged) return;
  }
}

RecordStream::Result RecordStream::NextAhead(uint8_t* record) {
  for (;;) {
    if (m_damaged) return Result::Damaged;
    if (m_delivered >= m_present) return Result::End;
    if (m_current) {
      if (m_currentAt < m_current->count) {
        std::memcpy(record, m_current->bytes.data() + m_currentAt * m_recordLength, m_recordLength);
        ++m_currentAt;
        ++m_delivered;
        return Result::Record;
      }
      if (m_current->damaged) {
        m_damaged = true;
        m_error = m_current->error;
        return Result::Damaged;
      }
      Worker& from = *m_workers[m_aheadChunk % m_workers.size()];
      if (m_current->chunkEnd) ++m_aheadChunk;
      m_current = nullptr;
      m_monitor.Enter();
      from.head = (from.head + 1) % from.ring.size();
      --from.filled;
      m_monitor.NotifyAll();
      m_monitor.Leave();
    }
    if (m_aheadChunk >= m_chunks.size()) {
      m_damaged = true;
      m_error = "the chunks ended before the points";
      return Result::Damaged;
    }
    Worker& from = *m_workers[m_aheadChunk % m_workers.size()];
    m_monitor.Enter();
    while (from.filled == 0) m_monitor.Wait();
    m_current = &from.ring[from.head];
    m_monitor.Leave();
    m_currentAt = 0;
  }
}

}  // namespace las
}  // namespace vorlin
