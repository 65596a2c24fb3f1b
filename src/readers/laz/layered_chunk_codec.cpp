// The layered chunk: the first record raw, the chunk's record count, the
// byte count of every layer of every item, then the layers in that order.

#include <cstring>

#include "format/little_endian.h"
#include "readers/laz/layered_byte14.h"
#include "readers/laz/layered_point14.h"
#include "readers/laz/layered_rgb14.h"
#include "readers/laz/layered_wavepacket14.h"
#include "readers/laz/laz_codec.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

namespace {

using vorlin::format::GetU32;
using vorlin::format::PutU32;

// Whether an item may appear in a layered record, at that place.
bool ItemFits(const Item& item, size_t index) {
  if (item.version != 3 && item.version != 4) return false;
  switch (ItemType(item.type)) {
    case ItemType::Point14:
      return index == 0 && item.size == kPoint14Size;
    case ItemType::Rgb14:
      return index > 0 && item.size == 6;
    case ItemType::RgbNir14:
      return index > 0 && item.size == 8;
    case ItemType::Wavepacket14:
      return index > 0 && item.size == kWavepacketSize;
    case ItemType::Byte14:
      return index > 0 && item.size > 0;
    default:
      return false;
  }
}

bool ItemsFit(const std::vector<Item>& items) {
  if (items.empty()) return false;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!ItemFits(items[i], i)) return false;
  }
  return true;
}

std::unique_ptr<LayeredItemDecoder> MakeItemDecoder(const Item& item) {
  switch (ItemType(item.type)) {
    case ItemType::Point14:
      return MakePoint14Decoder(item.version);
    case ItemType::Rgb14:
      return MakeRgb14Decoder(false, item.version);
    case ItemType::RgbNir14:
      return MakeRgb14Decoder(true, item.version);
    case ItemType::Wavepacket14:
      return MakeWavepacket14Decoder(item.version);
    default:
      return MakeByte14Decoder(item.size, item.version);
  }
}

std::unique_ptr<LayeredItemEncoder> MakeItemEncoder(const Item& item) {
  switch (ItemType(item.type)) {
    case ItemType::Point14:
      return MakePoint14Encoder(item.version);
    case ItemType::Rgb14:
      return MakeRgb14Encoder(false, item.version);
    case ItemType::RgbNir14:
      return MakeRgb14Encoder(true, item.version);
    case ItemType::Wavepacket14:
      return MakeWavepacket14Encoder(item.version);
    default:
      return MakeByte14Encoder(item.size, item.version);
  }
}

class LayeredChunkDecoder final : public ChunkDecoder {
 public:
  explicit LayeredChunkDecoder(const std::vector<Item>& items) {
    size_t layers = 0;
    for (const Item& item : items) {
      m_offsets.push_back(m_recordSize);
      m_recordSize += item.size;
      m_items.push_back(MakeItemDecoder(item));
      layers += m_items.back()->layerCount();
    }
    m_layers.resize(layers);
  }

  bool begin(const uint8_t* data, size_t size, uint32_t pointCount) override {
    m_produced = 0;
    m_total = 0;
    m_failed = true;
    if (pointCount == 0) {
      m_failed = false;
      return true;
    }
    const size_t header = m_recordSize + 4 + 4 * m_layers.size();
    if (data == nullptr || size < header) return false;
    if (GetU32(data + m_recordSize) != pointCount) return false;
    size_t at = header;
    for (size_t i = 0; i < m_layers.size(); ++i) {
      uint32_t bytes = GetU32(data + m_recordSize + 4 + 4 * i);
      if (bytes > size - at) return false;
      m_layers[i].data = data + at;
      m_layers[i].size = bytes;
      at += bytes;
    }
    m_first = data;
    uint32_t context = 0;
    const LayerBytes* layers = m_layers.data();
    for (size_t i = 0; i < m_items.size(); ++i) {
      m_items[i]->begin(data + m_offsets[i], layers, context);
      layers += m_items[i]->layerCount();
    }
    m_total = pointCount;
    m_failed = false;
    return true;
  }

  bool next(uint8_t* record) override {
    if (m_failed || m_produced >= m_total) return false;
    if (m_produced == 0) {
      std::memcpy(record, m_first, m_recordSize);
    } else {
      // The point item names the scanner channel for the items after it.
      uint32_t context = 0;
      for (size_t i = 0; i < m_items.size(); ++i) m_items[i]->decode(record + m_offsets[i], context);
      for (const auto& item : m_items) {
        if (item->overrun()) {
          m_failed = true;
          return false;
        }
      }
    }
    ++m_produced;
    return true;
  }

 private:
  std::vector<std::unique_ptr<LayeredItemDecoder>> m_items;
  std::vector<size_t> m_offsets;
  size_t m_recordSize = 0;
  std::vector<LayerBytes> m_layers;
  const uint8_t* m_first = nullptr;
  uint32_t m_total = 0, m_produced = 0;
  bool m_failed = true;
};

class LayeredChunkEncoder final : public ChunkEncoder {
 public:
  explicit LayeredChunkEncoder(const std::vector<Item>& items) {
    for (const Item& item : items) {
      m_offsets.push_back(m_recordSize);
      m_recordSize += item.size;
      m_items.push_back(MakeItemEncoder(item));
    }
  }

  void begin() override { m_count = 0; }

  void add(const uint8_t* record) override {
    uint32_t context = 0;
    if (m_count == 0) {
      m_first.assign(record, record + m_recordSize);
      for (size_t i = 0; i < m_items.size(); ++i) m_items[i]->begin(record + m_offsets[i], context);
    } else {
      for (size_t i = 0; i < m_items.size(); ++i) m_items[i]->encode(record + m_offsets[i], context);
    }
    ++m_count;
  }

  void finish(std::vector<uint8_t>& out) override {
    if (m_count == 0) return;
    for (auto& item : m_items) item->finish();
    out.insert(out.end(), m_first.begin(), m_first.end());
    uint8_t word[4];
    PutU32(word, m_count);
    out.insert(out.end(), word, word + 4);
    for (const auto& item : m_items) {
      for (uint32_t i = 0; i < item->layerCount(); ++i) {
        PutU32(word, uint32_t(item->layer(i).size()));
        out.insert(out.end(), word, word + 4);
      }
    }
    for (const auto& item : m_items) {
      for (uint32_t i = 0; i < item->layerCount(); ++i) {
        const std::vector<uint8_t>& bytes = item->layer(i);
        out.insert(out.end(), bytes.begin(), bytes.end());
      }
    }
    m_count = 0;
  }

 private:
  std::vector<std::unique_ptr<LayeredItemEncoder>> m_items;
  std::vector<size_t> m_offsets;
  size_t m_recordSize = 0;
  std::vector<uint8_t> m_first;
  uint32_t m_count = 0;
};

}  // namespace

std::unique_ptr<ChunkDecoder> MakeLayeredDecoder(const std::vector<Item>& items) {
  if (!ItemsFit(items)) return nullptr;
  return std::unique_ptr<ChunkDecoder>(new LayeredChunkDecoder(items));
}

std::unique_ptr<ChunkEncoder> MakeLayeredEncoder(const std::vector<Item>& items) {
  if (!ItemsFit(items)) return nullptr;
  return std::unique_ptr<ChunkEncoder>(new LayeredChunkEncoder(items));
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
