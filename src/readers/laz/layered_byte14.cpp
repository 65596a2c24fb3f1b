#include "readers/laz/layered_byte14.h"

#include <cstring>

namespace Zelvane {
namespace Vorlin {
namespace laz {

namespace {

// Models and previous bytes of every channel, shared by both directions.
// A record may carry tens of thousands of extra bytes; their models are made
// only for the layers a chunk actually codes.
class ByteContexts {
 protected:
  ByteContexts(uint32_t count, uint32_t version, bool compress)
      : m_count(count), m_version(version), m_compress(compress) {
    for (uint32_t c = 0; c < kChannelContexts; ++c) {
      m_last[c].assign(count, 0);
      m_models[c].resize(count);
    }
  }

  void start(uint32_t context, const uint8_t* from) {
    ++m_generation[context];
    if (m_count) std::memcpy(m_last[context].data(), from, m_count);
    m_used[context] = true;
  }

  ArithmeticModel& model(uint32_t i) {
    return m_models[m_current][i].use(m_generation[m_current], 256, m_compress);
  }

  void startChunk(const uint8_t* first, uint32_t context) {
    for (bool& u : m_used) u = false;
    m_current = context & 3;
    start(m_current, first);
  }

  uint8_t* follow(uint32_t context) {
    uint32_t predictor =
        SwitchChannel(m_current, context & 3, m_used, m_version,
                      [this](uint32_t to, uint32_t from) { start(to, m_last[from].data()); });
    return m_last[predictor].data();
  }

  uint32_t m_count;
  uint32_t m_version;
  bool m_compress;
  std::vector<uint8_t> m_last[kChannelContexts];
  std::vector<LazyModel> m_models[kChannelContexts];
  uint32_t m_generation[kChannelContexts] = {};
  bool m_used[kChannelContexts] = {};
  uint32_t m_current = 0;
};

class Byte14Decoder final : public LayeredItemDecoder, ByteContexts {
 public:
  Byte14Decoder(uint32_t count, uint32_t version)
      : ByteContexts(count, version, false), m_decoders(count), m_active(count, 0) {}

  uint32_t layerCount() const override { return m_count; }

  void begin(const uint8_t* first, const LayerBytes* layers, uint32_t& context) override {
    for (uint32_t i = 0; i < m_count; ++i) {
      m_active[i] = layers[i].size > 0;
      if (m_active[i]) m_decoders[i].init(layers[i].data, layers[i].size);
    }
    startChunk(first, context);
  }

  void decode(uint8_t* out, uint32_t& context) override {
    uint8_t* last = follow(context);
    for (uint32_t i = 0; i < m_count; ++i) {
      if (m_active[i]) last[i] = AddFolded(last[i], m_decoders[i].decodeSymbol(model(i)));
      out[i] = last[i];
    }
  }

  bool overrun() const override {
    for (uint32_t i = 0; i < m_count; ++i) {
      if (m_active[i] && m_decoders[i].overrun()) return true;
    }
    return false;
  }

 private:
  std::vector<ArithmeticDecoder> m_decoders;
  std::vector<uint8_t> m_active;
};

class Byte14Encoder final : public LayeredItemEncoder, ByteContexts {
 public:
  Byte14Encoder(uint32_t count, uint32_t version)
      : ByteContexts(count, version, true), m_encoders(count), m_bytes(count), m_changed(count, 0) {}

  uint32_t layerCount() const override { return m_count; }

  void begin(const uint8_t* first, uint32_t& context) override {
    for (uint32_t i = 0; i < m_count; ++i) {
      m_bytes[i].clear();
      m_encoders[i].init(&m_bytes[i]);
      m_changed[i] = 0;
    }
    startChunk(first, context);
  }

  void encode(const uint8_t* in, uint32_t& context) override {
    uint8_t* last = follow(context);
    for (uint32_t i = 0; i < m_count; ++i) {
      m_encoders[i].encodeSymbol(model(i), uint8_t(in[i] - last[i]));
      if (in[i] != last[i]) {
        m_changed[i] = 1;
        last[i] = in[i];
      }
    }
  }

  void finish() override {
    for (auto& e : m_encoders) e.done();
  }

  const std::vector<uint8_t>& layer(uint32_t i) const override {
    return m_changed[i] ? m_bytes[i] : m_empty;
  }

 private:
  std::vector<ArithmeticEncoder> m_encoders;
  std::vector<std::vector<uint8_t>> m_bytes;
  std::vector<uint8_t> m_changed;
  std::vector<uint8_t> m_empty;
};

}  // namespace

std::unique_ptr<LayeredItemDecoder> MakeByte14Decoder(uint32_t count, uint32_t version) {
  return std::unique_ptr<LayeredItemDecoder>(new Byte14Decoder(count, version));
}

std::unique_ptr<LayeredItemEncoder> MakeByte14Encoder(uint32_t count, uint32_t version) {
  return std::unique_ptr<LayeredItemEncoder>(new Byte14Encoder(count, version));
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
