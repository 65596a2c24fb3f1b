// Extra bytes after the standard fields: each byte position coded against
// the same position of the previous record.

#include <cstring>
#include <vector>

#include "readers/laz/integer_compressor.h"
#include "readers/laz/pointwise_item.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {
namespace {

// Version 1: the integer compressor, one context per byte position.
class ByteDecoderV1 final : public PointwiseItemDecoder {
 public:
  explicit ByteDecoderV1(uint16_t size) : m_ic(8, size), m_last(size) {}
  void init(const uint8_t* first) override {
    m_ic.initDecoder();
    std::memcpy(m_last.data(), first, m_last.size());
  }
  void decode(ArithmeticDecoder& dec, uint8_t* item) override {
    for (size_t i = 0; i < m_last.size(); ++i)
      m_last[i] = uint8_t(m_ic.decompress(dec, m_last[i], uint32_t(i)));
    std::memcpy(item, m_last.data(), m_last.size());
  }

 private:
  IntegerCompressor m_ic;
  std::vector<uint8_t> m_last;
};

// Version 2: the byte's change modelled directly, one model per position.
class ByteDecoderV2 final : public PointwiseItemDecoder {
 public:
  explicit ByteDecoderV2(uint16_t size) : m_last(size) {
    m_models.reserve(size);
    for (uint16_t i = 0; i < size; ++i) m_models.emplace_back(256, false);
  }
  void init(const uint8_t* first) override {
    for (ArithmeticModel& m : m_models) m.reset();
    std::memcpy(m_last.data(), first, m_last.size());
  }
  void decode(ArithmeticDecoder& dec, uint8_t* item) override {
    for (size_t i = 0; i < m_last.size(); ++i)
      m_last[i] = uint8_t(m_last[i] + dec.decodeSymbol(m_models[i]));
    std::memcpy(item, m_last.data(), m_last.size());
  }

 private:
  std::vector<ArithmeticModel> m_models;
  std::vector<uint8_t> m_last;
};

class ByteEncoderV2 final : public PointwiseItemEncoder {
 public:
  explicit ByteEncoderV2(uint16_t size) : m_last(size) {
    m_models.reserve(size);
    for (uint16_t i = 0; i < size; ++i) m_models.emplace_back(256, true);
  }
  void init(const uint8_t* first) override {
    for (ArithmeticModel& m : m_models) m.reset();
    std::memcpy(m_last.data(), first, m_last.size());
  }
  void encode(ArithmeticEncoder& enc, const uint8_t* item) override {
    for (size_t i = 0; i < m_last.size(); ++i)
      enc.encodeSymbol(m_models[i], FoldByte(int32_t(item[i]) - m_last[i]));
    std::memcpy(m_last.data(), item, m_last.size());
  }

 private:
  std::vector<ArithmeticModel> m_models;
  std::vector<uint8_t> m_last;
};

// Each position costs a few kilobytes of models; a record never carries
// this many extra bytes in practice, and a header claiming more is refused
// rather than allowed to reserve hundreds of megabytes.
constexpr uint16_t kMaxExtraBytes = 4096;

}  // namespace

std::unique_ptr<PointwiseItemDecoder> MakeByteDecoder(uint16_t version, uint16_t size) {
  if (size == 0 || size > kMaxExtraBytes) return nullptr;
  if (version == 1) return std::make_unique<ByteDecoderV1>(size);
  if (version == 2) return std::make_unique<ByteDecoderV2>(size);
  return nullptr;
}

std::unique_ptr<PointwiseItemEncoder> MakeByteEncoder(uint16_t version, uint16_t size) {
  if (size == 0 || size > kMaxExtraBytes) return nullptr;
  if (version == 2) return std::make_unique<ByteEncoderV2>(size);
  return nullptr;
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
