#ifndef VORLIN_READERS_LAS_RECORD_STREAM_H
#define VORLIN_READERS_LAS_RECORD_STREAM_H

// The uncompressed point records of a LAS or LAZ file, one after the other:
// read through a buffer from a plain file, or decoded chunk by chunk from a
// compressed one. Holds at most one chunk in memory; the one stream of an
// unchunked file is mapped and paged through. Compressed records may be
// decoded ahead on background threads (SetDecodeAhead).

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
  // Up to max of the next records, one after the other at *run and valid
  // until the next call: *got of them, above 0 exactly when the result is
  // Record. Plain files hand them over from the read buffer uncopied.
  Result NextRun(size_t max, const uint8_t** run, size_t* got);

  const std::string& error() const { return m_error; }

  // Compressed records decoded ahead of Next by background threads, each
  // taking every threads-th chunk, and handed over in file order: the same
  // records, the same end and the same damage at the same record. threads
  // 0 means one per core; at most kMaxAheadThreads. Takes effect at the
  // next Rewind (Open rewinds); Close and Rewind stop the threads. Off by
  // default. Each thread holds one compressed chunk, one decoder's models
  // and a ring of batches of about kAheadBatchBytes of records: enough for
  // the largest chunk and one batch more, at least kAheadBatches and at most
  // kMaxAheadBatches of them.
  void SetDecodeAhead(bool on, unsigned threads = 0) {
    m_aheadWanted = on;
    m_aheadThreads = threads;
  }
  static constexpr size_t kAheadBatches = 3;
  static constexpr size_t kMaxAheadBatches = 64;
  static constexpr size_t kAheadBatchBytes = size_t(1) << 18;
  static constexpr unsigned kMaxAheadThreads = 8;

 private:
  struct Chunk {
    uint64_t offset;      // absolute file offset of its bytes
    uint64_t byteCount;
    uint32_t pointCount;  // records the chunk holds
    uint64_t first;       // index of its first record in the file
  };
  // What decoding chunks needs besides the file: one per decoding thread.
  struct ChunkLoader {
    std::unique_ptr<Zelvane::Vorlin::laz::ChunkDecoder> decoder;
    std::vector<uint8_t> bytes;
    // The unchunked compressor's one stream is mapped rather than read, so
    // that it is not held in memory whole.
    platform::MappedRange stream;
  };

  bool OpenCompressed(Zelvane::Vorlin::LasSourceInfo& info, uint64_t fileSize);
  bool ReadChunkTable(const Zelvane::Vorlin::LasSourceInfo& info, uint64_t fileSize,
                      uint32_t chunkSize, uint64_t& capacity);
  std::unique_ptr<Zelvane::Vorlin::laz::ChunkDecoder> MakeDecoder() const;
  // Reads chunk index and starts loader's decoder on it; safe on any thread.
  bool LoadChunk(ChunkLoader& loader, size_t index);
  Result Fail(const std::string& why);
  // The next record, decoded on the caller's thread.
  Result Decode(uint8_t* record);
  // Records of chunk index within the present ones.
  uint64_t RecordsOfChunk(size_t index) const;

  // Decoding ahead (record_stream_ahead.cpp).
  struct Batch {
    std::vector<uint8_t> bytes;
    size_t count = 0;
    bool chunkEnd = false;  // the last batch of its chunk
    bool damaged = false;   // the chunk is damaged after the batch's records
    std::string error;
  };
  struct Worker {
    platform::Thread thread;
    ChunkLoader loader;
    // Guarded by m_monitor: a ring of batches, filled of them from head on
    // decoded and not yet handed back.
    std::vector<Batch> ring;
    size_t head = 0;
    size_t filled = 0;
  };
  void StartAhead();
  void StopAhead();
  void DecodeAhead(size_t index);
  Result NextAhead(uint8_t* record);

  platform::File m_file;
  std::unique_ptr<BufferedRecordReader> m_records;
  uint64_t m_pointDataStart = 0;
  uint16_t m_recordLength = 0;
  uint64_t m_present = 0;
  uint64_t m_delivered = 0;
  bool m_damaged = false;
  std::string m_error;         // the consumer's
  std::string m_decodeError;   // the direct decoding's

  bool m_aheadWanted = false;
  unsigned m_aheadThreads = 0;
  bool m_ahead = false;
  std::vector<std::unique_ptr<Worker>> m_workers;
  platform::Monitor m_monitor;
  bool m_stopping = false;          // guarded by m_monitor
  std::atomic<bool> m_stop{false};  // read per record by the workers
  size_t m_batchRecords = 0;
  // Consumer side: the chunk being handed over and its current batch.
  size_t m_aheadChunk = 0;
  Batch* m_current = nullptr;
  size_t m_currentAt = 0;

  // Compressed files only.
  int m_compressor = 0;
  std::vector<Zelvane::Vorlin::laz::Item> m_items;
  ChunkLoader m_direct;
  std::vector<uint8_t> m_run;  // NextRun's records where they are decoded
  std::vector<Chunk> m_chunks;
  bool m_unchunked = false;
  size_t m_nextChunk = 0;
  uint64_t m_leftInChunk = 0;
};

}  // namespace las
}  // namespace vorlin

#endif
