#include "readers/las/record_stream.h"

#include <algorithm>

#include "format/little_endian.h"
#include "readers/las/las_header.h"
#include "readers/laz/chunk_table.h"
#include "readers/laz/laz_parameters.h"

namespace vorlin {
namespace las {

namespace {

using Zelvane::Vorlin::LasCompression;
using Zelvane::Vorlin::LasSourceInfo;
namespace laz = Zelvane::Vorlin::laz;

constexpr int32_t kRecordsPerRefill = 8192;
// No real coder packs more points than this into one byte; a count beyond it
// is a lie that would only make the decoder spin on garbage.
constexpr uint64_t kMaxPointsPerByte = 4096;
// More bytes than one chunk table entry can take (two 32-bit numbers, each a
// symbol and up to 32 bits), and what a decoder may read past the end.
constexpr size_t kMaxEntryBytes = 20;
constexpr size_t kDecoderSlack = 8;
constexpr uint64_t kLargestReadChunk = uint64_t(1) << 30;

}  // namespace

RecordStream::RecordStream() = default;
RecordStream::~RecordStream() { Close(); }

void RecordStream::Close() {
  StopAhead();
  CloseRecordFile(m_file, m_records);
  m_direct.decoder.reset();
  m_direct.bytes.clear();
  m_direct.bytes.shrink_to_fit();
  m_direct.stream.Unmap();
  m_items.clear();
  m_compressor = 0;
  m_chunks.clear();
  m_unchunked = false;
  m_present = m_delivered = 0;
  m_damaged = false;
}

bool RecordStream::Open(const wchar_t* path, LasSourceInfo& info) {
  Close();
  m_error.clear();
  info = LasSourceInfo();
  if (!OpenRecordFile(path, m_file, m_records, kRecordsPerRefill)) {
    m_error = "cannot open the file";
    return false;
  }
  const int64_t size = m_file.Size();
  bool compressedFormat = false;
  bool ok = size >= 0;
  if (!ok) m_error = "cannot learn the file's size";
  ok = ok && ReadDescription(m_file, uint64_t(size), info, compressedFormat, m_error);
  if (ok) {
    m_pointDataStart = info.offsetToPointData;
    m_recordLength = info.recordLength;
    if (compressedFormat) {
      ok = OpenCompressed(info, uint64_t(size));
    } else {
      const uint64_t limit = PointDataLimit(info, uint64_t(size));
      const uint64_t whole = limit > m_pointDataStart ? (limit - m_pointDataStart) / m_recordLength : 0;
      info.presentCount = std::min(info.announcedCount, whole);
      info.truncated = info.presentCount < info.announcedCount;
    }
  }
  if (!ok) {
    Close();
    info = LasSourceInfo();
    return false;
  }
  m_present = info.presentCount;
  return Rewind();
}

bool RecordStream::OpenCompressed(LasSourceInfo& info, uint64_t fileSize) {
  const Zelvane::Vorlin::LasVlr* record = laz::FindCompressionRecord(info.vlrs);
  if (!record) {
    m_error = "compressed point format without a LAZ compression record";
    return false;
  }
  laz::Parameters parameters;
  if (!laz::ParseParameters(record->data, parameters, m_error)) return false;
  if (parameters.recordLength() != info.recordLength) {
    m_error = "the LAZ items describe " + std::to_string(parameters.recordLength()) +
              "-byte records, the header " + std::to_string(info.recordLength);
    return false;
  }
  info.compression = LasCompression(parameters.compressor);
  m_compressor = parameters.compressor;
  m_items = parameters.items;
  m_direct.decoder = MakeDecoder();
  if (!m_direct.decoder) {
    m_error = "a LAZ item type, size or version this reader does not know";
    return false;
  }
  if (parameters.compressor == 1) {
    // One stream from the point data to the extended VLRs or the end.
    const uint64_t limit = PointDataLimit(info, fileSize);
    const uint64_t bytes = limit - m_pointDataStart;
    if (info.announcedCount > 0 &&
        (bytes == 0 || info.announcedCount / kMaxPointsPerByte >= bytes)) {
      m_error = "the point count does not fit the compressed data";
      return false;
    }
    m_chunks.push_back(Chunk{m_pointDataStart, bytes, uint32_t(info.announcedCount), 0});
    m_unchunked = true;
    if (info.announcedCount > UINT32_MAX) {
      m_error = "too many points for one compressed stream";
      return false;
    }
    info.presentCount = info.announcedCount;
    return true;
  }
  info.chunkSize = parameters.chunkSize;
  uint64_t capacity = 0;
  if (!ReadChunkTable(info, fileSize, parameters.chunkSize, capacity)) return false;
  if (capacity < info.announcedCount) {
    m_error = "the header announces " + std::to_string(info.announcedCount) +
              " points, the chunk table holds " + std::to_string(capacity);
    return false;
  }
  info.presentCount = info.announcedCount;
  return true;
}

bool RecordStream::ReadChunkTable(const LasSourceInfo& info, uint64_t fileSize,
                                  uint32_t chunkSize, uint64_t& capacity) {
  const uint64_t chunksStart = m_pointDataStart + 8;
  uint8_t field[8];
  if (chunksStart > fileSize || !m_file.ReadExactAt(field, 8, m_pointDataStart)) {
    m_error = "the chunk table offset is missing";
    return false;
  }
  int64_t tableAt = int64_t(format::GetU64(field));
  // A writer that could not seek back leaves -1 here and the offset at the end.
  if (tableAt < int64_t(chunksStart) && fileSize >= chunksStart + 8 &&
      m_file.ReadExactAt(field, 8, fileSize - 8))
    tableAt = int64_t(format::GetU64(field));
  if (tableAt < int64_t(chunksStart) ||
      uint64_t(tableAt) + laz::kChunkTableHeaderSize > fileSize) {
    m_error = "the chunk table is missing (file cut short or never finished)";
    return false;
  }
  uint8_t header[laz::kChunkTableHeaderSize];
  if (!m_file.ReadExactAt(header, sizeof header, uint64_t(tableAt))) {
    m_error = "cannot read the chunk table";
    return false;
  }
  const uint32_t version = format::GetU32(header);
  const uint32_t count = format::GetU32(header + 4);
  const uint64_t chunkBytes = uint64_t(tableAt) - chunksStart;
  // Every chunk starts with one record stored raw.
  if (version != 0 || count > chunkBytes / info.recordLength) {
    m_error = "the chunk table is damaged";
    return false;
  }
  const uint64_t codedAt = uint64_t(tableAt) + laz::kChunkTableHeaderSize;
  const size_t coded =
      size_t(std::min<uint64_t>(fileSize - codedAt, uint64_t(count) * kMaxEntryBytes + 16));
  std::vector<uint8_t> bytes(coded + kDecoderSlack, 0);
  std::vector<laz::ChunkEntry> entries;
  const bool variable = chunkSize == laz::kVariableChunkSize;
  if ((coded > 0 && !m_file.ReadExactAt(bytes.data(), coded, codedAt)) ||
      !laz::DecodeChunkTable(bytes.data(), bytes.size(), count, variable, entries)) {
    m_error = "the chunk table is damaged";
    return false;
  }
  uint64_t at = chunksStart, points = 0;
  for (const laz::ChunkEntry& e : entries) {
    const uint32_t pointCount = variable ? e.pointCount : chunkSize;
    if (e.byteCount == 0 || e.byteCount > uint64_t(tableAt) - at || pointCount == 0) {
      m_error = "the chunk table's sizes do not fit the file";
      return false;
    }
    if (points < info.announcedCount) {
      const uint64_t wanted = std::min<uint64_t>(pointCount, info.announcedCount - points);
      if (wanted > uint64_t(e.byteCount) * kMaxPointsPerByte) {
        m_error = "a chunk announces more points than its bytes can hold";
        return false;
      }
      // A fixed-size table does not know the last chunk's count; the header does.
      m_chunks.push_back(Chunk{at, e.byteCount, variable ? pointCount : uint32_t(wanted), points});
    }
    at += e.byteCount;
    points += pointCount;
  }
  capacity = points;
  return true;
}

bool RecordStream::Rewind() {
  StopAhead();
  if (!m_file.IsValid()) return false;
  m_delivered = 0;
  m_damaged = false;
  m_nextChunk = 0;
  m_leftInChunk = 0;
  if (m_direct.decoder) {
    if (m_aheadWanted) StartAhead();
    return true;
  }
  if (!m_file.Seek(int64_t(m_pointDataStart))) return false;
  m_records->Empty();
  return true;
}

RecordStream::Result RecordStream::Fail(const std::string& why) {
  m_damaged = true;
  m_decodeError = why;
  return Result::Damaged;
}

std::unique_ptr<laz::ChunkDecoder> RecordStream::MakeDecoder() const {
  return m_compressor == 3 ? laz::MakeLayeredDecoder(m_items) : laz::MakePointwiseDecoder(m_items);
}

uint64_t RecordStream::RecordsOfChunk(size_t index) const {
  const Chunk& chunk = m_chunks[index];
  return chunk.first >= m_present ? 0 : std::min<uint64_t>(chunk.pointCount, m_present - chunk.first);
}

bool RecordStream::LoadChunk(ChunkLoader& loader, size_t index) {
  const Chunk& chunk = m_chunks[index];
  platform::MappedRange& stream = loader.stream;
  if (m_unchunked && (stream.data() || stream.Map(m_file, chunk.offset, chunk.byteCount))) {
    stream.AdviseSequential();
    return loader.decoder->begin(stream.data(), stream.size(), chunk.pointCount);
  }
  // Without a mapping, an unchunked stream is read whole, within reason.
  if (chunk.byteCount > kLargestReadChunk) return false;
  loader.bytes.resize(size_t(chunk.byteCount));
  if (!m_file.ReadExactAt(loader.bytes.data(), loader.bytes.size(), chunk.offset)) return false;
  return loader.decoder->begin(loader.bytes.data(), loader.bytes.size(), chunk.pointCount);
}

RecordStream::Result RecordStream::Next(uint8_t* record) {
  if (m_ahead) return NextAhead(record);
  const Result result = Decode(record);
  if (result == Result::Damaged) m_error = m_decodeError;
  return result;
}

RecordStream::Result RecordStream::NextRun(size_t max, const uint8_t** run, size_t* got) {
  *run = nullptr;
  *got = 0;
  if (max == 0) return Result::End;
  // The read buffer takes records of up to 64 bytes in place.
  const bool inPlace = !m_direct.decoder && !m_ahead && m_records && !m_damaged &&
                       m_recordLength <= 64 && m_delivered < m_present;
  if (inPlace) {
    const uint64_t left = m_present - m_delivered;
    *run = m_records->ReadMany(m_recordLength, size_t(std::min<uint64_t>(max, left)), got);
    if (*got > 0) {
      m_delivered += *got;
      return Result::Record;
    }
  }
  // Decoded records, or the end of a plain file, one Next at a time.
  constexpr size_t kRunRecords = 256;
  const size_t wanted = std::min(max, kRunRecords);
  m_run.resize(wanted * size_t(m_recordLength));
  Result result = Result::Record;
  size_t n = 0;
  while (n < wanted && (result = Next(m_run.data() + n * m_recordLength)) == Result::Record) ++n;
  *run = m_run.data();
  *got = n;
  return n > 0 ? Result::Record : result;
}

RecordStream::Result RecordStream::Decode(uint8_t* record) {
  if (m_damaged) return Result::Damaged;
  if (!m_file.IsValid() || m_delivered >= m_present) return Result::End;
  if (!m_direct.decoder) {
    if (!m_records->Read(record, m_recordLength))
      return Fail("the file ended before its announced records");
    ++m_delivered;
    return Result::Record;
  }
  if (m_leftInChunk == 0) {
    if (m_nextChunk >= m_chunks.size()) return Fail("the chunks ended before the points");
    if (!LoadChunk(m_direct, m_nextChunk))
      return Fail("chunk " + std::to_string(m_nextChunk) + " is damaged");
    m_leftInChunk = m_chunks[m_nextChunk].pointCount;
    ++m_nextChunk;
  }
  if (!m_direct.decoder->next(record))
    return Fail("chunk " + std::to_string(m_nextChunk - 1) + " is damaged");
  --m_leftInChunk;
  ++m_delivered;
  return Result::Record;
}

}  // namespace las
}  // namespace vorlin
