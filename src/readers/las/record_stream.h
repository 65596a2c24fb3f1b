#ifndef VORLIN_READERS_LAS_RECORD_STREAM_H
#define VORLIN_READERS_LAS_RECORD_STREAM_H

// The uncompressed point records of a LAS or LAZ file, one after the other:
// read through a buffer from a plain file, or decoded chunk by chunk from a
// compressed one. Holds at most one chunk in memory; the one stream of an
// unchunked file is mapped and paged through. Compressed records may be
// decoded ahead on a background thread (SetDecodeAhead), which then holds
// one chunk and up to kAheadBatches batches of about kAheadBatchBytes.

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/mapped_range.h"
#include "platform/thread.h"
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

  // Compressed records decoded by a background thread ahead of Next, in
  // the same order, with the same end and the same damage at the same
  // record. Takes effect at the next Rewind (Open rewinds); Close and
  // Rewind stop the thread. Off by default.
  void SetDecodeAhead(bool on) { m_aheadWanted = on; }
  static constexpr size_t kAheadBatches = 3;
  static constexpr size_t kAheadBatchBytes = size_t(1) << 20;

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
  // The next record, on the thread that decodes.
  Result Decode(uint8_t* record);

  // Decoding ahead (record_stream_ahead.cpp).
  struct Batch {
    std::vector<uint8_t> bytes;
    size_t count = 0;
    Result end = Result::Record;  // what follows the batch's records
    std::string error;
  };
  void StartAhead();
  void StopAhead();
  void DecodeAhead();
  Result NextAhead(uint8_t* record);

  platform::File m_file;
  std::unique_ptr<BufferedRecordReader> m_records;
  uint64_t m_pointDataStart = 0;
  uint16_t m_recordLength = 0;
  uint64_t m_present = 0;
  uint64_t m_delivered = 0;
  bool m_damaged = false;
  std::string m_error;         // the consumer's
  std::string m_decodeError;   // the decoding thread's

  bool m_aheadWanted = false;
  bool m_ahead = false;
  platform::Thread m_worker;
  platform::Monitor m_monitor;
  // Guarded by m_monitor: a ring of batches, m_filled of them from m_head on
  // decoded and not yet handed back; m_stopping asks the worker to end.
  std::vector<Batch> m_batches;
  size_t m_head = 0;
  size_t m_filled = 0;
  bool m_stopping = false;
  std::atomic<bool> m_stop{false};  // read per record by the worker
  size_t m_batchRecords = 0;
  Batch* m_current = nullptr;  // consumer side
  size_t m_currentAt = 0;

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
