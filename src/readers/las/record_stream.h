#ifndef VORLIN_READERS_LAS_RECORD_STREAM_H
#define VORLIN_READERS_LAS_RECORD_STREAM_H

// The uncompressed point records of a LAS or LAZ file, one after the other:
// read through a buffer from a plain file, or decoded chunk by chunk from a
// compressed one. Holds at most one chunk in memory; the one stream of an
// unchunked file is mapped and paged through.

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/mapped_range.h"
#include "readers/buffered_record_reader.h"
#include "readers/laz/laz_codec.h"
#include "vorlin/las_source.h"

namespace vorlin {
namespace las {

class RecordStream {
 public:
  enum class Result { Record, End, Damaged };

  RecordStream();
  ~RecordStream();
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;

  // Opens path and describes it in info (present count included). False,
  // with a reason in error(), when the file cannot be read as LAS or LAZ.
  bool Open(const wchar_t* path, Zelvane::Vorlin::LasSourceInfo& info);
  void Close();
  bool IsOpen() const { return m_file.IsValid(); }

  // Back to the first record; false while closed.
  bool Rewind();
  // The next record (recordLength bytes) into record. Damaged stays the
  // answer until the next Rewind.
  Result Next(uint8_t* record);

  const std::string& error() const { return m_error; }

 private:
  struct Chunk {
    uint64_t offset;      // absolute file offset of its bytes
    uint64_t byteCount;
    uint32_t pointCount;  // records the chunk holds
  };

  bool OpenCompressed(Zelvane::Vorlin::LasSourceInfo& info, uint64_t fileSize);
  bool ReadChunkTable(const Zelvane::Vorlin::LasSourceInfo& info, uint64_t fileSize,
                      uint32_t chunkSize, uint64_t& capacity);
  bool LoadChunk(size_t index);
  Result Fail(const std::string& why);

  platform::File m_file;
  std::unique_ptr<BufferedRecordReader> m_records;
  uint64_t m_pointDataStart = 0;
  uint16_t m_recordLength = 0;
  uint64_t m_present = 0;
  uint64_t m_delivered = 0;
  bool m_damaged = false;
  std::string m_error;

  // Compressed files only.
  std::unique_ptr<Zelvane::Vorlin::laz::ChunkDecoder> m_decoder;
  std::vector<Chunk> m_chunks;
  std::vector<uint8_t> m_chunkBytes;
  // The unchunked compressor's one stream is mapped rather than read, so
  // that it is not held in memory whole.
  bool m_unchunked = false;
  platform::MappedRange m_stream;
  size_t m_nextChunk = 0;
  uint64_t m_leftInChunk = 0;
};

}  // namespace las
}  // namespace vorlin

#endif
