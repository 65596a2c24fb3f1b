#include "readers/buffered_record_reader.h"

#include <string.h>

namespace vorlin {

BufferedRecordReader::BufferedRecordReader(platform::File* file, int32_t recordsPerRefill)
    : m_file(file), m_recordsPerRefill(recordsPerRefill > 0 ? recordsPerRefill : 1) {}

void BufferedRecordReader::Empty() {
  m_readPosition = 0;
  m_bytesInBuffer = 0;
}

void BufferedRecordReader::Fill() {
  // A read may return less than asked for without being at the end; keep
  // going so a refill only comes up short at the end of the file.
  while (size_t(m_bytesInBuffer) < m_capacity) {
    int64_t got = m_file->Read(m_buffer.get() + m_bytesInBuffer,
                               m_capacity - size_t(m_bytesInBuffer));
    if (got <= 0) return;
    m_bytesInBuffer += int32_t(got);
  }
}

bool BufferedRecordReader::Read(void* destination, size_t size) {
  if (size == 0 || m_file == nullptr || !m_file->IsValid()) return false;
  if (!m_buffer || size != m_recordSize) {
    // Records per refill is small and a record at most a few dozen bytes in
    // our formats; refuse sizes whose buffer would not fit the byte count.
    if (size > size_t(INT32_MAX) / size_t(m_recordsPerRefill)) return false;
    size_t capacity = size * size_t(m_recordsPerRefill);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity]);
    size_t kept = 0;
    if (m_buffer && m_readPosition < uint64_t(m_bytesInBuffer)) {
      kept = size_t(m_bytesInBuffer) - size_t(m_readPosition);
      if (kept > capacity) kept = capacity;
      memcpy(buffer.get(), m_buffer.get() + m_readPosition, kept);
    }
    m_buffer = std::move(buffer);
    m_capacity = capacity;
    m_recordSize = size;
    m_bytesInBuffer = int32_t(kept);
    m_readPosition = 0;
  }

  size_t available = m_readPosition < uint64_t(m_bytesInBuffer)
                         ? size_t(m_bytesInBuffer) - size_t(m_readPosition)
                         : 0;
  if (available < size) {
    // Move a leftover fragment to the front and complete it from the file;
    // if the file ends first, the fragment is not a record.
    if (available > 0) memmove(m_buffer.get(), m_buffer.get() + m_readPosition, available);
    m_bytesInBuffer = int32_t(available);
    m_readPosition = 0;
    Fill();
    if (size_t(m_bytesInBuffer) < size) return false;
  }

  memcpy(destination, m_buffer.get() + m_readPosition, size);
  m_readPosition += size;
  return true;
}

const uint8_t* BufferedRecordReader::ReadMany(size_t size, size_t wanted, size_t* got) {
  *got = 0;
  if (wanted == 0) return nullptr;
  // Read sets up the buffer for this record size and refills it; the record
  // it takes is handed back as the first of the run.
  uint8_t first[64];
  if (size > sizeof(first)) return nullptr;
  if (!Read(first, size)) return nullptr;
  const size_t start = size_t(m_readPosition) - size;
  const size_t available = (size_t(m_bytesInBuffer) - start) / size;
  const size_t n = available < wanted ? available : wanted;
  m_readPosition = start + n * size;
  *got = n;
  return m_buffer.get() + start;
}

bool OpenRecordFile(const wchar_t* name, platform::File& file,
                    std::unique_ptr<BufferedRecordReader>& records, int32_t recordsPerRefill) {
  if (name == nullptr) return false;
  file = platform::File::Open(name, platform::kAccessRead, platform::kShareRead,
                              platform::Disposition::kOpenExisting);
  if (!file.IsValid()) return false;
  records.reset(new BufferedRecordReader(&file, recordsPerRefill));
  return true;
}

void CloseRecordFile(platform::File& file, std::unique_ptr<BufferedRecordReader>& records) {
  records.reset();
  // Opened for reading only: a failed close loses nothing.
  if (file.IsValid()) (void)file.Close();
  file = platform::File();
}

}  // namespace vorlin
