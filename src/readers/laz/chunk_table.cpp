#include "readers/laz/chunk_table.h"

#include "format/little_endian.h"
#include "readers/laz/arithmetic_decoder.h"
#include "readers/laz/arithmetic_encoder.h"
#include "readers/laz/integer_compressor.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

namespace {

constexpr uint32_t kPointCountContext = 0;
constexpr uint32_t kByteCountContext = 1;

}  // namespace

bool DecodeChunkTable(const uint8_t* data, size_t size, uint32_t count, bool withPointCounts,
                      std::vector<ChunkEntry>& entries) {
  entries.clear();
  if (count == 0) return true;
  ArithmeticDecoder decoder;
  decoder.init(data, size);
  IntegerCompressor numbers(32, 2);
  numbers.initDecoder();
  ChunkEntry previous;
  entries.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    ChunkEntry entry;
    if (withPointCounts)
      entry.pointCount =
          uint32_t(numbers.decompress(decoder, int32_t(previous.pointCount), kPointCountContext));
    entry.byteCount =
        uint32_t(numbers.decompress(decoder, int32_t(previous.byteCount), kByteCountContext));
    if (decoder.overrun()) return false;
    entries.push_back(entry);
    previous = entry;
  }
  return true;
}

void EncodeChunkTable(const std::vector<ChunkEntry>& entries, bool withPointCounts,
                      std::vector<uint8_t>& out) {
  uint8_t header[kChunkTableHeaderSize];
  vorlin::format::PutU32(header, 0);
  vorlin::format::PutU32(header + 4, uint32_t(entries.size()));
  out.insert(out.end(), header, header + sizeof header);
  if (entries.empty()) return;
  ArithmeticEncoder encoder;
  encoder.init(&out);
  IntegerCompressor numbers(32, 2);
  numbers.initEncoder();
  ChunkEntry previous;
  for (const ChunkEntry& entry : entries) {
    if (withPointCounts)
      numbers.compress(encoder, int32_t(previous.pointCount), int32_t(entry.pointCount),
                       kPointCountContext);
    numbers.compress(encoder, int32_t(previous.byteCount), int32_t(entry.byteCount),
                     kByteCountContext);
    previous = entry;
  }
  encoder.done();
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
