#include "vorlin/las_file_writer.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "format/little_endian.h"
#include "platform/file.h"
#include "readers/las/las_header.h"
#include "readers/laz/chunk_table.h"
#include "readers/laz/laz_codec.h"
#include "readers/laz/laz_parameters.h"

namespace Zelvane {
namespace Vorlin {

namespace {

namespace las = vorlin::las;
namespace fmt = vorlin::format;
using vorlin::platform::File;

constexpr size_t kFlushBytes = 1 << 20;

void PutText(uint8_t* p, size_t size, const std::string& text) {
  memset(p, 0, size);
  memcpy(p, text.data(), std::min(size, text.size()));
}

// A header of the layout's fields, for callers that bring no header bytes.
std::vector<uint8_t> MakeHeader(const LasSourceInfo& layout) {
  int minor = layout.versionMinor;
  if (layout.pointFormat >= 6) minor = std::max(minor, 4);
  const size_t size =
      minor >= 4 ? las::kHeaderSize14 : minor == 3 ? las::kHeaderSize13 : las::kHeaderSize10;
  std::vector<uint8_t> h(size, 0);
  memcpy(h.data(), "LASF", 4);
  h[las::kVersionMajorAt] = 1;
  h[las::kVersionMajorAt + 1] = uint8_t(minor);
  PutText(h.data() + 26, 32, "vorlin");
  PutText(h.data() + 58, 32, "vorlin");
  fmt::PutU16(h.data() + las::kHeaderSizeAt, uint16_t(size));
  for (int a = 0; a < 3; ++a) {
    fmt::PutF64(h.data() + las::kScaleAt + 8 * a, layout.scale[a]);
    fmt::PutF64(h.data() + las::kOffsetAt + 8 * a, layout.offset[a]);
  }
  return h;
}

std::vector<uint8_t> VlrBytes(const LasVlr& vlr) {
  const size_t headerSize = vlr.extended ? las::kEvlrHeaderSize : las::kVlrHeaderSize;
  std::vector<uint8_t> out(headerSize, 0);
  PutText(out.data() + 2, 16, vlr.userId);
  fmt::PutU16(out.data() + 18, vlr.recordId);
  if (vlr.extended) {
    fmt::PutU64(out.data() + 20, vlr.data.size());
    PutText(out.data() + 28, 32, vlr.description);
  } else {
    fmt::PutU16(out.data() + 20, uint16_t(vlr.data.size()));
    PutText(out.data() + 22, 32, vlr.description);
  }
  out.insert(out.end(), vlr.data.begin(), vlr.data.end());
  return out;
}

}  // namespace

struct LasFileWriter::State {
  File file;
  std::wstring path, temporaryPath;
  std::string error;
  bool failed = false;
  LasWriteOptions options;
  std::vector<uint8_t> header;
  std::vector<LasVlr> evlrs;
  uint16_t recordLength = 0;
  int pointFormat = 0;
  uint64_t announced = 0;  // the layout's count, kept when the count matches
  double scale[3] = {1, 1, 1}, offset[3] = {0, 0, 0};
  bool boundsFromRecords = false;
  double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  uint64_t written = 0;
  uint64_t pointDataStart = 0;
  std::vector<uint8_t> pending;  // plain records, or one chunk's records
  // Compressed files only.
  std::unique_ptr<laz::ChunkEncoder> encoder;
  std::vector<laz::ChunkEntry> chunks;
  std::vector<uint8_t> coded;

  bool Fail(const std::string& why) {
    if (!failed) error = why;
    failed = true;
    return false;
  }
  bool Write(const std::vector<uint8_t>& bytes) {
    if (bytes.empty() || file.Write(bytes.data(), bytes.size())) return true;
    return Fail("cannot write the file (disk full?)");
  }
  bool FlushChunk();
  bool Finish();
};

bool LasFileWriter::State::FlushChunk() {
  const size_t count = pending.size() / recordLength;
  if (count == 0) return true;
  encoder->begin();
  for (size_t i = 0; i < count; ++i) encoder->add(pending.data() + i * recordLength);
  coded.clear();
  encoder->finish(coded);
  if (coded.size() > UINT32_MAX) return Fail("a chunk grew beyond 4 GB");
  chunks.push_back(laz::ChunkEntry{uint32_t(count), uint32_t(coded.size())});
  pending.clear();
  return Write(coded);
}

bool LasFileWriter::State::Finish() {
  if (encoder) {
    if (!FlushChunk()) return false;
    const int64_t tableAt = file.Tell();
    std::vector<uint8_t> table;
    laz::EncodeChunkTable(chunks, false, table);
    uint8_t field[8];
    fmt::PutU64(field, uint64_t(tableAt));
    if (tableAt < 0 || !Write(table) || !file.Seek(int64_t(pointDataStart)) ||
        !file.Write(field, 8) || !file.Seek(tableAt + int64_t(table.size())))
      return Fail("cannot write the chunk table");
  } else if (!Write(pending)) {
    return false;
  }
  pending.clear();

  uint8_t* h = header.data();
  const bool v14 = header.size() >= las::kHeaderSize14 && (header[las::kVersionMajorAt] > 1 ||
                                                            header[las::kVersionMajorAt + 1] >= 4);
  if (v14 && !evlrs.empty()) {
    const int64_t at = file.Tell();
    if (at < 0) return Fail("cannot write the extended VLRs");
    fmt::PutU64(h + las::kEvlrStartAt, uint64_t(at));
    fmt::PutU32(h + las::kEvlrCountAt, uint32_t(evlrs.size()));
    for (const LasVlr& vlr : evlrs)
      if (!Write(VlrBytes(vlr))) return false;
  } else if (v14) {
    fmt::PutU64(h + las::kEvlrStartAt, 0);
    fmt::PutU32(h + las::kEvlrCountAt, 0);
  }
  if (written != announced) {
    const bool legacyFits = pointFormat <= 5 && written <= UINT32_MAX;
    fmt::PutU32(h + las::kLegacyCountAt, legacyFits ? uint32_t(written) : 0);
    if (v14) fmt::PutU64(h + las::kCountAt, written);
  }
  if (boundsFromRecords) {
    for (int a = 0; a < 3; ++a) {
      fmt::PutF64(h + las::kMaxXAt + 16 * a, written ? hi[a] : 0.0);
      fmt::PutF64(h + las::kMaxXAt + 16 * a + 8, written ? lo[a] : 0.0);
    }
  }
  if (!file.Seek(0) || !file.Write(header.data(), header.size()))
    return Fail("cannot write the header");
  if (!file.Close()) return Fail("cannot close the file");
  if (!vorlin::platform::RenameFileOver(temporaryPath.c_str(), path.c_str()))
    return Fail("cannot move the finished file into place");
  return true;
}

LasFileWriter::LasFileWriter() : m_state(new State) {}
LasFileWriter::~LasFileWriter() { Abandon(); }

bool LasFileWriter::Open(const wchar_t* path, const LasSourceInfo& layout,
                         const LasWriteOptions& options) {
  Abandon();
  m_state.reset(new State);
  State& s = *m_state;
  if (path == nullptr || *path == 0) return s.Fail("no output name");
  const int format = layout.pointFormat;
  if (format < 0 || format > las::kMaxPointFormat) return s.Fail("point format not in 0 to 10");
  if (layout.recordLength < las::MinimumRecordLength(format))
    return s.Fail("record length below the point format's minimum");
  if (options.compress && options.chunkSize == 0) return s.Fail("chunk size 0");
  s.options = options;
  s.recordLength = layout.recordLength;
  s.pointFormat = format;
  s.announced = layout.announcedCount;
  const bool carried = layout.headerBytes.size() >= las::kHeaderSize10;
  s.header = carried ? layout.headerBytes : MakeHeader(layout);
  s.boundsFromRecords = options.boundsFromRecords || !carried;
  if (!carried) s.announced = ~uint64_t(0);  // counts are always written
  for (int a = 0; a < 3; ++a) {
    s.scale[a] = fmt::GetF64(s.header.data() + las::kScaleAt + 8 * a);
    s.offset[a] = fmt::GetF64(s.header.data() + las::kOffsetAt + 8 * a);
  }

  laz::Parameters parameters;
  if (options.compress) {
    parameters = laz::ParametersForFormat(format, layout.recordLength, options.chunkSize);
    s.encoder = parameters.compressor == 3 ? laz::MakeLayeredEncoder(parameters.items)
                                           : laz::MakePointwiseEncoder(parameters.items);
    if (parameters.items.empty() || !s.encoder)
      return s.Fail("point format " + std::to_string(format) + " cannot be compressed");
  }

  std::vector<uint8_t> vlrBytes;
  uint32_t vlrCount = 0;
  for (const LasVlr& vlr : layout.vlrs) {
    if (laz::IsCompressionRecord(vlr) || vlr.dataOmitted) continue;
    if (vlr.extended) {
      s.evlrs.push_back(vlr);
      continue;
    }
    if (vlr.data.size() > UINT16_MAX) return s.Fail("a VLR is longer than 65535 bytes");
    const std::vector<uint8_t> bytes = VlrBytes(vlr);
    vlrBytes.insert(vlrBytes.end(), bytes.begin(), bytes.end());
    ++vlrCount;
  }
  if (options.compress) {
    LasVlr record;
    record.userId = laz::kCompressionUserId;
    record.recordId = laz::kCompressionRecordId;
    record.description = "vorlin LAZ";
    record.data = laz::SerializeParameters(parameters);
    const std::vector<uint8_t> bytes = VlrBytes(record);
    vlrBytes.insert(vlrBytes.end(), bytes.begin(), bytes.end());
    ++vlrCount;
  }
  s.pointDataStart = s.header.size() + vlrBytes.size();
  if (s.pointDataStart > UINT32_MAX) return s.Fail("header and VLRs exceed 4 GB");
  uint8_t* h = s.header.data();
  fmt::PutU32(h + las::kOffsetToPointDataAt, uint32_t(s.pointDataStart));
  fmt::PutU32(h + las::kVlrCountAt, vlrCount);
  h[las::kPointFormatAt] = uint8_t(format | (options.compress ? 0x80 : 0));
  fmt::PutU16(h + las::kRecordLengthAt, layout.recordLength);
  // Waveform data are not carried over.
  if (s.header.size() >= las::kHeaderSize13 &&
      (h[las::kVersionMajorAt] > 1 || h[las::kVersionMajorAt + 1] >= 3))
    fmt::PutU64(h + las::kWaveformStartAt, 0);

  s.path = path;
  s.temporaryPath = s.path + L".partial";
  s.file = File::Open(s.temporaryPath.c_str(), vorlin::platform::kAccessRead |
                                                   vorlin::platform::kAccessWrite,
                      vorlin::platform::kShareNone, vorlin::platform::Disposition::kCreateAlways);
  if (!s.file.IsValid()) return s.Fail("cannot create the output file");
  std::vector<uint8_t> start = s.header;
  start.insert(start.end(), vlrBytes.begin(), vlrBytes.end());
  if (options.compress) start.resize(start.size() + 8, 0xFF);  // chunk table offset, set last
  if (!s.Write(start)) {
    Abandon();
    return false;
  }
  return true;
}

bool LasFileWriter::WriteRecords(const uint8_t* records, size_t count) {
  State& s = *m_state;
  if (s.failed) return false;
  if (!s.file.IsValid()) return s.Fail("the writer is not open");
  if (count > 0 && records == nullptr) return s.Fail("no records");
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* r = records + i * s.recordLength;
    if (s.boundsFromRecords) {
      for (int a = 0; a < 3; ++a) {
        const double v = fmt::GetI32(r + 4 * a) * s.scale[a] + s.offset[a];
        if (s.written == 0 || v < s.lo[a]) s.lo[a] = v;
        if (s.written == 0 || v > s.hi[a]) s.hi[a] = v;
      }
    }
    s.pending.insert(s.pending.end(), r, r + s.recordLength);
    ++s.written;
    if (s.encoder) {
      if (s.pending.size() / s.recordLength >= s.options.chunkSize && !s.FlushChunk()) break;
    } else if (s.pending.size() >= kFlushBytes) {
      if (!s.Write(s.pending)) break;
      s.pending.clear();
    }
  }
  if (s.failed) {
    Abandon();
    return false;
  }
  return true;
}

bool LasFileWriter::Close() {
  State& s = *m_state;
  if (s.failed) return false;
  if (!s.file.IsValid()) return s.Fail("the writer is not open");
  if (s.Finish()) {
    s.temporaryPath.clear();
    return true;
  }
  Abandon();
  return false;
}

void LasFileWriter::Abandon() {
  State& s = *m_state;
  // Already failing: a close or delete that fails too changes nothing the
  // caller can act on.
  if (s.file.IsValid()) (void)s.file.Close();
  if (!s.temporaryPath.empty()) (void)vorlin::platform::DeleteFileAt(s.temporaryPath.c_str());
  s.temporaryPath.clear();
  s.pending.clear();
}

uint64_t LasFileWriter::recordsWritten() const { return m_state->written; }
const std::string& LasFileWriter::lastError() const { return m_state->error; }

}  // namespace Vorlin
}  // namespace Zelvane
