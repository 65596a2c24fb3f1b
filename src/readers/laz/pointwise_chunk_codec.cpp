// The point-wise compressor's chunk: the first record raw (all items, in
// order), then one arithmetic stream interleaving the items of every later
// record.

#include <cstring>
#include <vector>

#include "readers/laz/laz_codec.h"
#include "readers/laz/pointwise_item.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {
namespace {

// Checks an item list and builds one coder per item; false when any item
// is unknown or has the wrong size.
template <typename Coder, typename Make>
bool BuildCoders(const std::vector<Item>& items, Make make,
                 std::vector<std::unique_ptr<Coder>>& coders, std::vector<size_t>& offsets,
                 size_t& recordSize) {
  if (items.empty()) return false;
  recordSize = 0;
  for (const Item& item : items) {
    std::unique_ptr<Coder> coder = make(item);
    if (!coder) return false;
    coders.push_back(std::move(coder));
    offsets.push_back(recordSize);
    recordSize += item.size;
  }
  return true;
}

uint16_t FixedSize(ItemType type) {
  switch (type) {
    case ItemType::Point10: return 20;
    case ItemType::GpsTime11: return 8;
    case ItemType::Rgb12: return 6;
    case ItemType::Wavepacket13: return 29;
    default: return 0;
  }
}

std::unique_ptr<PointwiseItemDecoder> MakeItemDecoder(const Item& item) {
  const ItemType type = ItemType(item.type);
  if (type != ItemType::Byte && item.size != FixedSize(type)) return nullptr;
  switch (type) {
    case ItemType::Point10: return MakePoint10Decoder(item.version);
    case ItemType::GpsTime11: return MakeGpsTime11Decoder(item.version);
    case ItemType::Rgb12: return MakeRgb12Decoder(item.version);
    case ItemType::Wavepacket13: return MakeWavepacket13Decoder(item.version);
    case ItemType::Byte: return MakeByteDecoder(item.version, item.size);
    default: return nullptr;
  }
}

std::unique_ptr<PointwiseItemEncoder> MakeItemEncoder(const Item& item) {
  const ItemType type = ItemType(item.type);
  if (type != ItemType::Byte && item.size != FixedSize(type)) return nullptr;
  switch (type) {
    case ItemType::Point10: return MakePoint10Encoder(item.version);
    case ItemType::GpsTime11: return MakeGpsTime11Encoder(item.version);
    case ItemType::Rgb12: return MakeRgb12Encoder(item.version);
    case ItemType::Wavepacket13: return MakeWavepacket13Encoder(item.version);
    case ItemType::Byte: return MakeByteEncoder(item.version, item.size);
    default: return nullptr;
  }
}

class PointwiseChunkDecoder final : public ChunkDecoder {
 public:
  bool build(const std::vector<Item>& items) {
    return BuildCoders(items, MakeItemDecoder, m_items, m_offsets, m_recordSize);
  }

  bool begin(const uint8_t* data, size_t size, uint32_t pointCount) override {
    m_count = pointCount;
    m_index = 0;
    m_failed = false;
    if (pointCount == 0) return true;
    if (data == nullptr || size < m_recordSize) {
      m_failed = true;
      return false;
    }
    m_first = data;
    for (size_t i = 0; i < m_items.size(); ++i) m_items[i]->init(data + m_offsets[i]);
    // A one-record chunk may end right after the raw record; the decoder's
    // flag only matters once a record is actually decoded.
    m_dec.init(data + m_recordSize, size - m_recordSize);
    return true;
  }

  bool next(uint8_t* record) override {
    if (m_failed || m_index >= m_count) {
      m_failed = true;
      return false;
    }
    if (m_index++ == 0) {
      std::memcpy(record, m_first, m_recordSize);
      return true;
    }
    for (size_t i = 0; i < m_items.size(); ++i) m_items[i]->decode(m_dec, record + m_offsets[i]);
    if (m_dec.overrun()) m_failed = true;
    return !m_failed;
  }

 private:
  std::vector<std::unique_ptr<PointwiseItemDecoder>> m_items;
  std::vector<size_t> m_offsets;
  size_t m_recordSize = 0;
  ArithmeticDecoder m_dec;
  const uint8_t* m_first = nullptr;
  uint32_t m_count = 0, m_index = 0;
  bool m_failed = true;
};

class PointwiseChunkEncoder final : public ChunkEncoder {
 public:
  bool build(const std::vector<Item>& items) {
    return BuildCoders(items, MakeItemEncoder, m_items, m_offsets, m_recordSize);
  }

  void begin() override {
    m_bytes.clear();
    m_count = 0;
  }

  void add(const uint8_t* record) override {
    if (m_count++ == 0) {
      m_bytes.insert(m_bytes.end(), record, record + m_recordSize);
      for (size_t i = 0; i < m_items.size(); ++i) m_items[i]->init(record + m_offsets[i]);
      m_enc.init(&m_bytes);
      return;
    }
    for (size_t i = 0; i < m_items.size(); ++i) m_items[i]->encode(m_enc, record + m_offsets[i]);
  }

  void finish(std::vector<uint8_t>& out) override {
    if (m_count > 0) {
      m_enc.done();
      out.insert(out.end(), m_bytes.begin(), m_bytes.end());
    }
    begin();
  }

 private:
  std::vector<std::unique_ptr<PointwiseItemEncoder>> m_items;
  std::vector<size_t> m_offsets;
  size_t m_recordSize = 0;
  ArithmeticEncoder m_enc;
  std::vector<uint8_t> m_bytes;
  uint64_t m_count = 0;
};

}  // namespace

std::unique_ptr<ChunkDecoder> MakePointwiseDecoder(const std::vector<Item>& items) {
  auto decoder = std::make_unique<PointwiseChunkDecoder>();
  if (!decoder->build(items)) return nullptr;
  return decoder;
}

std::unique_ptr<ChunkEncoder> MakePointwiseEncoder(const std::vector<Item>& items) {
  auto encoder = std::make_unique<PointwiseChunkEncoder>();
  if (!encoder->build(items)) return nullptr;
  return encoder;
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
