#include "readers/laz/layered_rgb14.h"

#include "format/little_endian.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

namespace {

using vorlin::format::GetU16;
using vorlin::format::PutU16;

// Colour is predicted byte by byte: red from the previous red, green and blue
// from the previous green and blue moved by red's change. Symbol bits 0-5 say
// which of the six bytes differ from the previous record, bit 6 that the
// colour is not grey (green and blue differ from red).
struct ColourContext {
  explicit ColourContext(bool compress)
      : bytesUsed(new ArithmeticModel(128, compress)),
        nirUsed(new ArithmeticModel(4, compress)) {
    for (auto& m : diff) m.reset(new ArithmeticModel(256, compress));
    for (auto& m : nirDiff) m.reset(new ArithmeticModel(256, compress));
  }
  void start(const uint16_t* from) {
    bytesUsed->reset();
    nirUsed->reset();
    for (auto& m : diff) m->reset();
    for (auto& m : nirDiff) m->reset();
    for (int i = 0; i < 4; ++i) last[i] = from[i];
  }
  std::unique_ptr<ArithmeticModel> bytesUsed, nirUsed;
  std::unique_ptr<ArithmeticModel> diff[6], nirDiff[2];
  uint16_t last[4] = {};
};

uint32_t Low(uint32_t v) { return v & 0xFF; }
uint32_t High(uint32_t v) { return v >> 8; }

// Shared by both directions: the four channel contexts and which of them
// predicts the next record.
class ColourContexts {
 protected:
  ColourContexts(bool nir, uint32_t version, bool compress) : m_nir(nir), m_version(version) {
    for (auto& c : m_contexts) c.reset(new ColourContext(compress));
  }

  void startChunk(const uint8_t* first, uint32_t context) {
    uint16_t values[4] = {GetU16(first), GetU16(first + 2), GetU16(first + 4),
                          m_nir ? GetU16(first + 6) : uint16_t(0)};
    for (bool& u : m_used) u = false;
    m_current = context & 3;
    m_contexts[m_current]->start(values);
    m_used[m_current] = true;
  }

  // Returns the values the next record is predicted from.
  uint16_t* follow(uint32_t context) {
    uint32_t predictor =
        SwitchChannel(m_current, context & 3, m_used, m_version, [this](uint32_t to, uint32_t from) {
          m_contexts[to]->start(m_contexts[from]->last);
          m_used[to] = true;
        });
    return m_contexts[predictor]->last;
  }

  bool m_nir;
  uint32_t m_version;
  std::unique_ptr<ColourContext> m_contexts[kChannelContexts];
  bool m_used[kChannelContexts] = {};
  uint32_t m_current = 0;
};

class Rgb14Decoder final : public LayeredItemDecoder, ColourContexts {
 public:
  Rgb14Decoder(bool nir, uint32_t version) : ColourContexts(nir, version, false) {}

  uint32_t layerCount() const override { return m_nir ? 2 : 1; }

  void begin(const uint8_t* first, const LayerBytes* layers, uint32_t& context) override {
    for (uint32_t i = 0; i < layerCount(); ++i) {
      m_active[i] = layers[i].size > 0;
      if (m_active[i]) m_decoders[i].init(layers[i].data, layers[i].size);
    }
    startChunk(first, context);
  }

  void decode(uint8_t* out, uint32_t& context) override {
    uint16_t* last = follow(context);
    ColourContext& c = *m_contexts[m_current];
    if (m_active[0]) decodeColour(c, last);
    PutU16(out, last[0]);
    PutU16(out + 2, last[1]);
    PutU16(out + 4, last[2]);
    if (!m_nir) return;
    if (m_active[1]) {
      ArithmeticDecoder& dec = m_decoders[1];
      uint32_t sym = dec.decodeSymbol(*c.nirUsed);
      uint32_t lo = Low(last[3]), hi = High(last[3]);
      if (sym & 1) lo = Low(dec.decodeSymbol(*c.nirDiff[0]) + lo);
      if (sym & 2) hi = Low(dec.decodeSymbol(*c.nirDiff[1]) + hi);
      last[3] = uint16_t(lo | (hi << 8));
    }
    PutU16(out + 6, last[3]);
  }

  bool overrun() const override {
    for (uint32_t i = 0; i < layerCount(); ++i) {
      if (m_active[i] && m_decoders[i].overrun()) return true;
    }
    return false;
  }

 private:
  void decodeColour(ColourContext& c, uint16_t* last) {
    ArithmeticDecoder& dec = m_decoders[0];
    uint32_t sym = dec.decodeSymbol(*c.bytesUsed);
    uint32_t rLo = Low(last[0]), rHi = High(last[0]);
    if (sym & 1) rLo = Low(dec.decodeSymbol(*c.diff[0]) + rLo);
    if (sym & 2) rHi = Low(dec.decodeSymbol(*c.diff[1]) + rHi);
    uint32_t gLo = rLo, gHi = rHi, bLo = rLo, bHi = rHi;
    if (sym & (1u << 6)) {
      int32_t diff = int32_t(rLo) - int32_t(Low(last[0]));
      gLo = Low(last[1]);
      if (sym & (1u << 2)) gLo = Low(dec.decodeSymbol(*c.diff[2]) + ClampByte(diff + int32_t(gLo)));
      bLo = Low(last[2]);
      if (sym & (1u << 4)) {
        diff = (diff + int32_t(gLo) - int32_t(Low(last[1]))) / 2;
        bLo = Low(dec.decodeSymbol(*c.diff[4]) + ClampByte(diff + int32_t(bLo)));
      }
      diff = int32_t(rHi) - int32_t(High(last[0]));
      gHi = High(last[1]);
      if (sym & (1u << 3)) gHi = Low(dec.decodeSymbol(*c.diff[3]) + ClampByte(diff + int32_t(gHi)));
      bHi = High(last[2]);
      if (sym & (1u << 5)) {
        diff = (diff + int32_t(gHi) - int32_t(High(last[1]))) / 2;
        bHi = Low(dec.decodeSymbol(*c.diff[5]) + ClampByte(diff + int32_t(bHi)));
      }
    }
    last[0] = uint16_t(rLo | (rHi << 8));
    last[1] = uint16_t(gLo | (gHi << 8));
    last[2] = uint16_t(bLo | (bHi << 8));
  }

  ArithmeticDecoder m_decoders[2];
  bool m_active[2] = {};
};

class Rgb14Encoder final : public LayeredItemEncoder, ColourContexts {
 public:
  Rgb14Encoder(bool nir, uint32_t version) : ColourContexts(nir, version, true) {}

  uint32_t layerCount() const override { return m_nir ? 2 : 1; }

  void begin(const uint8_t* first, uint32_t& context) override {
    for (uint32_t i = 0; i < layerCount(); ++i) {
      m_bytes[i].clear();
      m_encoders[i].init(&m_bytes[i]);
      m_changed[i] = false;
    }
    startChunk(first, context);
  }

  void encode(const uint8_t* in, uint32_t& context) override {
    uint16_t* last = follow(context);
    ColourContext& c = *m_contexts[m_current];
    uint16_t v[4] = {GetU16(in), GetU16(in + 2), GetU16(in + 4), m_nir ? GetU16(in + 6) : uint16_t(0)};
    encodeColour(c, last, v);
    last[0] = v[0];
    last[1] = v[1];
    last[2] = v[2];
    if (!m_nir) return;
    ArithmeticEncoder& enc = m_encoders[1];
    uint32_t sym = (Low(last[3]) != Low(v[3]) ? 1u : 0u) | (High(last[3]) != High(v[3]) ? 2u : 0u);
    enc.encodeSymbol(*c.nirUsed, sym);
    if (sym & 1) enc.encodeSymbol(*c.nirDiff[0], Low(v[3] - last[3]));
    if (sym & 2) enc.encodeSymbol(*c.nirDiff[1], Low(High(v[3]) - High(last[3])));
    if (sym) m_changed[1] = true;
    last[3] = v[3];
  }

  void finish() override {
    for (uint32_t i = 0; i < layerCount(); ++i) m_encoders[i].done();
  }

  const std::vector<uint8_t>& layer(uint32_t i) const override {
    return m_changed[i] ? m_bytes[i] : m_empty;
  }

 private:
  void encodeColour(ColourContext& c, const uint16_t* last, const uint16_t* v) {
    ArithmeticEncoder& enc = m_encoders[0];
    uint32_t sym = 0;
    for (uint32_t i = 0; i < 3; ++i) {
      if (Low(last[i]) != Low(v[i])) sym |= 1u << (2 * i);
      if (High(last[i]) != High(v[i])) sym |= 2u << (2 * i);
    }
    bool grey = Low(v[0]) == Low(v[1]) && Low(v[0]) == Low(v[2]) && High(v[0]) == High(v[1]) &&
                High(v[0]) == High(v[2]);
    if (!grey) sym |= 1u << 6;
    enc.encodeSymbol(*c.bytesUsed, sym);
    int32_t diffLo = 0, diffHi = 0;
    if (sym & 1) {
      diffLo = int32_t(Low(v[0])) - int32_t(Low(last[0]));
      enc.encodeSymbol(*c.diff[0], Low(uint32_t(diffLo)));
    }
    if (sym & 2) {
      diffHi = int32_t(High(v[0])) - int32_t(High(last[0]));
      enc.encodeSymbol(*c.diff[1], Low(uint32_t(diffHi)));
    }
    if (sym & (1u << 6)) {
      if (sym & (1u << 2)) {
        int32_t corr = int32_t(Low(v[1])) - int32_t(ClampByte(diffLo + int32_t(Low(last[1]))));
        enc.encodeSymbol(*c.diff[2], Low(uint32_t(corr)));
      }
      if (sym & (1u << 4)) {
        diffLo = (diffLo + int32_t(Low(v[1])) - int32_t(Low(last[1]))) / 2;
        int32_t corr = int32_t(Low(v[2])) - int32_t(ClampByte(diffLo + int32_t(Low(last[2]))));
        enc.encodeSymbol(*c.diff[4], Low(uint32_t(corr)));
      }
      if (sym & (1u << 3)) {
        int32_t corr = int32_t(High(v[1])) - int32_t(ClampByte(diffHi + int32_t(High(last[1]))));
        enc.encodeSymbol(*c.diff[3], Low(uint32_t(corr)));
      }
      if (sym & (1u << 5)) {
        diffHi = (diffHi + int32_t(High(v[1])) - int32_t(High(last[1]))) / 2;
        int32_t corr = int32_t(High(v[2])) - int32_t(ClampByte(diffHi + int32_t(High(last[2]))));
        enc.encodeSymbol(*c.diff[5], Low(uint32_t(corr)));
      }
    }
    if (sym) m_changed[0] = true;
  }

  ArithmeticEncoder m_encoders[2];
  std::vector<uint8_t> m_bytes[2];
  bool m_changed[2] = {};
  std::vector<uint8_t> m_empty;
};

}  // namespace

std::unique_ptr<LayeredItemDecoder> MakeRgb14Decoder(bool nir, uint32_t version) {
  return std::unique_ptr<LayeredItemDecoder>(new Rgb14Decoder(nir, version));
}

std::unique_ptr<LayeredItemEncoder> MakeRgb14Encoder(bool nir, uint32_t version) {
  return std::unique_ptr<LayeredItemEncoder>(new Rgb14Encoder(nir, version));
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
