#ifndef VORLIN_READERS_LAZ_POINTWISE_ITEM_H
#define VORLIN_READERS_LAZ_POINTWISE_ITEM_H

// Per-item coders of the point-wise LAZ compressor (point formats 0-5). A
// chunk stores its first record raw; every coder starts from that record and
// then codes each later record against the state the previous one left.

#include <cstdint>
#include <memory>

#include "readers/laz/arithmetic_decoder.h"
#include "readers/laz/arithmetic_encoder.h"
#include "readers/laz/arithmetic_model.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

class PointwiseItemDecoder {
 public:
  virtual ~PointwiseItemDecoder() = default;
  // Resets the models and takes the chunk's raw first record of this item.
  virtual void init(const uint8_t* first) = 0;
  // Decodes the next record of this item into item.
  virtual void decode(ArithmeticDecoder& dec, uint8_t* item) = 0;
};

class PointwiseItemEncoder {
 public:
  virtual ~PointwiseItemEncoder() = default;
  virtual void init(const uint8_t* first) = 0;
  virtual void encode(ArithmeticEncoder& enc, const uint8_t* item) = 0;
};

// Null for a version without a coder. size is the item's byte count (only
// the extra-bytes item has a variable one).
std::unique_ptr<PointwiseItemDecoder> MakePoint10Decoder(uint16_t version);
std::unique_ptr<PointwiseItemEncoder> MakePoint10Encoder(uint16_t version);
std::unique_ptr<PointwiseItemDecoder> MakeGpsTime11Decoder(uint16_t version);
std::unique_ptr<PointwiseItemEncoder> MakeGpsTime11Encoder(uint16_t version);
std::unique_ptr<PointwiseItemDecoder> MakeRgb12Decoder(uint16_t version);
std::unique_ptr<PointwiseItemEncoder> MakeRgb12Encoder(uint16_t version);
std::unique_ptr<PointwiseItemDecoder> MakeByteDecoder(uint16_t version, uint16_t size);
std::unique_ptr<PointwiseItemEncoder> MakeByteEncoder(uint16_t version, uint16_t size);
std::unique_ptr<PointwiseItemDecoder> MakeWavepacket13Decoder(uint16_t version);
std::unique_ptr<PointwiseItemEncoder> MakeWavepacket13Encoder(uint16_t version);

// Byte arithmetic modulo 256, as the format's byte predictions use it.
inline uint8_t FoldByte(int32_t v) { return uint8_t(uint32_t(v)); }
inline int32_t ClampByte(int32_t v) { return v <= 0 ? 0 : (v >= 255 ? 255 : v); }

// A model per previous byte value, made the first time that value is seen
// and reset the first time it is used in a chunk (an unused model would
// have stayed untouched, so this is the same as resetting them all).
class ModelPerByteValue {
 public:
  explicit ModelPerByteValue(bool compress) : m_compress(compress) {}
  void newChunk() { ++m_chunk; }
  ArithmeticModel& operator[](uint8_t previous) {
    Slot& s = m_slots[previous];
    if (!s.model) s.model.reset(new ArithmeticModel(256, m_compress));
    else if (s.chunk != m_chunk) s.model->reset();
    s.chunk = m_chunk;
    return *s.model;
  }

 private:
  struct Slot {
    std::unique_ptr<ArithmeticModel> model;
    uint64_t chunk = 0;
  };
  Slot m_slots[256];
  uint64_t m_chunk = 1;
  bool m_compress;
};

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
