#ifndef VORLIN_READERS_LAZ_LAZ_CODEC_H
#define VORLIN_READERS_LAZ_LAZ_CODEC_H

// The seams of the LAZ codec: item descriptions from the compression record,
// and per-chunk decoders and encoders that the container drives. Point-wise
// items (formats 0-5) and layered items (formats 6-10) each provide one pair.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Zelvane {
namespace Vorlin {
namespace laz {

enum class ItemType : uint16_t {
  Byte = 0,
  Point10 = 6,
  GpsTime11 = 7,
  Rgb12 = 8,
  Wavepacket13 = 9,
  Point14 = 10,
  Rgb14 = 11,
  RgbNir14 = 12,
  Wavepacket14 = 13,
  Byte14 = 14,
};

// One entry of the compression record's item list. For Byte and Byte14,
// size is the number of extra bytes.
struct Item {
  uint16_t type;
  uint16_t size;
  uint16_t version;
};

// Decodes the records of one chunk. Not thread-safe; one per reader.
class ChunkDecoder {
 public:
  virtual ~ChunkDecoder() = default;
  // Starts a chunk from its compressed bytes, which stay valid and unchanged
  // until the next begin. pointCount is how many records the container
  // expects; a decoder that finds another count in the chunk itself fails.
  // False when the chunk is malformed.
  [[nodiscard]] virtual bool begin(const uint8_t* data, size_t size, uint32_t pointCount) = 0;
  // Writes the next record (the items' sizes added up) into record. False,
  // and false from then on until the next begin, once the chunk's data turn
  // out damaged or run out.
  [[nodiscard]] virtual bool next(uint8_t* record) = 0;
};

// Encodes the records of one chunk. Not thread-safe.
class ChunkEncoder {
 public:
  virtual ~ChunkEncoder() = default;
  virtual void begin() = 0;
  virtual void add(const uint8_t* record) = 0;
  // Appends the chunk's bytes to out; the next chunk starts with begin.
  virtual void finish(std::vector<uint8_t>& out) = 0;
};

// Null when an item's type, size or version is not one this codec knows.
std::unique_ptr<ChunkDecoder> MakePointwiseDecoder(const std::vector<Item>& items);
std::unique_ptr<ChunkEncoder> MakePointwiseEncoder(const std::vector<Item>& items);
std::unique_ptr<ChunkDecoder> MakeLayeredDecoder(const std::vector<Item>& items);
std::unique_ptr<ChunkEncoder> MakeLayeredEncoder(const std::vector<Item>& items);

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
