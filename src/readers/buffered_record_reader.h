#ifndef VORLIN_READERS_BUFFERED_RECORD_READER_H
#define VORLIN_READERS_BUFFERED_RECORD_READER_H

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "platform/file.h"

namespace vorlin {

// Pulls fixed-size records from a file, refilling one buffer of many records
// at a time so that a pass costs one read call per refill and no allocation
// per record. The file is borrowed; its position is where the next refill
// starts reading.
class BufferedRecordReader {
 public:
  static constexpr int32_t kRecordsPerRefill = 1000;

  explicit BufferedRecordReader(platform::File* file,
                                int32_t recordsPerRefill = kRecordsPerRefill);
  BufferedRecordReader(const BufferedRecordReader&) = delete;
  BufferedRecordReader& operator=(const BufferedRecordReader&) = delete;

  // Copies the next record of size bytes to destination. False at the end
  // of the data or on a read error, and for a trailing record that the file
  // cuts short: no byte that was not read is ever delivered.
  bool Read(void* destination, size_t size);

  // Up to wanted whole records of size bytes, in place in the buffer and
  // valid until the next call; *got tells how many (0 at the end of the data
  // or on a read error). Saves a copy per record where records are decoded
  // in bulk; mixes freely with Read.
  const uint8_t* ReadMany(size_t size, size_t wanted, size_t* got);

  // Discards what the buffer holds, so the next Read refills from the file's
  // current position. Call after repositioning the file.
  void Empty();

 private:
  // Reads until the buffer is full or the file has no more to give.
  void Fill();

  platform::File* m_file;
  std::unique_ptr<uint8_t[]> m_buffer;
  size_t m_capacity = 0;
  size_t m_recordSize = 0;
  int32_t m_bytesInBuffer = 0;
  uint64_t m_readPosition = 0;
  int32_t m_recordsPerRefill;
};

// Opens a source file for reading (others may read it too, not write it)
// and gives it a buffered record reader; false when it cannot be opened.
bool OpenRecordFile(const wchar_t* name, platform::File& file,
                    std::unique_ptr<BufferedRecordReader>& records,
                    int32_t recordsPerRefill = BufferedRecordReader::kRecordsPerRefill);
// Releases the reader and closes the file.
void CloseRecordFile(platform::File& file, std::unique_ptr<BufferedRecordReader>& records);

}  // namespace vorlin

#endif
