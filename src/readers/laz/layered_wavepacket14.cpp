#include "readers/laz/layered_wavepacket14.h"

#include <cstring>

#include "format/little_endian.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

namespace {

using vorlin::format::GetU32;
using vorlin::format::GetU64;
using vorlin::format::PutU32;
using vorlin::format::PutU64;

// How the offset relates to the previous packet's: the same, right after it,
// a 32-bit difference, or coded in full.
enum OffsetKind : uint32_t { kSameOffset = 0, kNextOffset, kOffsetDiff, kFullOffset };

struct PacketContext {
  explicit PacketContext(bool compress)
      : index(new ArithmeticModel(256, compress)),
        offsetDiff(new IntegerCompressor(32)),
        packetSize(new IntegerCompressor(32)),
        returnPoint(new IntegerCompressor(32)),
        xyz(new IntegerCompressor(32, 3)) {
    for (auto& m : offsetKind) m.reset(new ArithmeticModel(4, compress));
  }
  void start(const uint8_t* from, bool forEncoding) {
    index->reset();
    for (auto& m : offsetKind) m->reset();
    for (IntegerCompressor* ic : {offsetDiff.get(), packetSize.get(), returnPoint.get(), xyz.get()}) {
      if (forEncoding)
        ic->initEncoder();
      else
        ic->initDecoder();
    }
    lastDiff = 0;
    lastKind = 0;
    std::memcpy(last, from, kWavepacketSize);
  }

  std::unique_ptr<ArithmeticModel> index, offsetKind[4];
  std::unique_ptr<IntegerCompressor> offsetDiff, packetSize, returnPoint, xyz;
  int32_t lastDiff = 0;
  uint32_t lastKind = 0;
  uint8_t last[kWavepacketSize] = {};
};

class PacketContexts {
 protected:
  PacketContexts(uint32_t version, bool compress) : m_version(version), m_encoding(compress) {
    for (auto& c : m_contexts) c.reset(new PacketContext(compress));
  }
  void startChunk(const uint8_t* first, uint32_t context) {
    for (bool& u : m_used) u = false;
    m_current = context & 3;
    m_contexts[m_current]->start(first, m_encoding);
    m_used[m_current] = true;
  }
  uint8_t* follow(uint32_t context) {
    uint32_t predictor =
        SwitchChannel(m_current, context & 3, m_used, m_version, [this](uint32_t to, uint32_t from) {
          m_contexts[to]->start(m_contexts[from]->last, m_encoding);
          m_used[to] = true;
        });
    return m_contexts[predictor]->last;
  }

  uint32_t m_version;
  bool m_encoding;
  std::unique_ptr<PacketContext> m_contexts[kChannelContexts];
  bool m_used[kChannelContexts] = {};
  uint32_t m_current = 0;
};

class Wavepacket14Decoder final : public LayeredItemDecoder, PacketContexts {
 public:
  explicit Wavepacket14Decoder(uint32_t version) : PacketContexts(version, false) {}

  uint32_t layerCount() const override { return 1; }

  void begin(const uint8_t* first, const LayerBytes* layers, uint32_t& context) override {
    m_active = layers[0].size > 0;
    if (m_active) m_decoder.init(layers[0].data, layers[0].size);
    startChunk(first, context);
  }

  void decode(uint8_t* out, uint32_t& context) override {
    uint8_t* last = follow(context);
    PacketContext& c = *m_contexts[m_current];
    if (m_active) {
      ArithmeticDecoder& dec = m_decoder;
      uint8_t next[kWavepacketSize];
      next[0] = uint8_t(dec.decodeSymbol(*c.index));
      uint64_t lastOffset = GetU64(last + 1);
      uint32_t lastSize = GetU32(last + 9);
      c.lastKind = dec.decodeSymbol(*c.offsetKind[c.lastKind & 3]);
      uint64_t offset;
      if (c.lastKind == kSameOffset) {
        offset = lastOffset;
      } else if (c.lastKind == kNextOffset) {
        offset = lastOffset + lastSize;
      } else if (c.lastKind == kOffsetDiff) {
        c.lastDiff = c.offsetDiff->decompress(dec, c.lastDiff);
        offset = lastOffset + uint64_t(int64_t(c.lastDiff));
      } else {
        offset = dec.readInt64();
      }
      PutU64(next + 1, offset);
      PutU32(next + 9, uint32_t(c.packetSize->decompress(dec, int32_t(lastSize))));
      PutU32(next + 13, uint32_t(c.returnPoint->decompress(dec, int32_t(GetU32(last + 13)))));
      for (uint32_t i = 0; i < 3; ++i) {
        uint32_t at = 17 + 4 * i;
        PutU32(next + at, uint32_t(c.xyz->decompress(dec, int32_t(GetU32(last + at)), i)));
      }
      std::memcpy(last, next, kWavepacketSize);
    }
    std::memcpy(out, last, kWavepacketSize);
  }

  bool overrun() const override { return m_active && m_decoder.overrun(); }

 private:
  ArithmeticDecoder m_decoder;
  bool m_active = false;
};

class Wavepacket14Encoder final : public LayeredItemEncoder, PacketContexts {
 public:
  explicit Wavepacket14Encoder(uint32_t version) : PacketContexts(version, true) {}

  uint32_t layerCount() const override { return 1; }

  void begin(const uint8_t* first, uint32_t& context) override {
    m_bytes.clear();
    m_encoder.init(&m_bytes);
    m_changed = false;
    startChunk(first, context);
  }

  void encode(const uint8_t* in, uint32_t& context) override {
    uint8_t* last = follow(context);
    PacketContext& c = *m_contexts[m_current];
    if (std::memcmp(in, last, kWavepacketSize) != 0) m_changed = true;
    ArithmeticEncoder& enc = m_encoder;
    enc.encodeSymbol(*c.index, in[0]);
    uint64_t lastOffset = GetU64(last + 1), offset = GetU64(in + 1);
    uint32_t lastSize = GetU32(last + 9);
    int64_t wide = int64_t(offset - lastOffset);
    int32_t diff = int32_t(wide);
    uint32_t kind;
    if (offset == lastOffset)
      kind = kSameOffset;
    else if (offset == lastOffset + lastSize)
      kind = kNextOffset;
    else if (wide == int64_t(diff))
      kind = kOffsetDiff;
    else
      kind = kFullOffset;
    enc.encodeSymbol(*c.offsetKind[c.lastKind & 3], kind);
    c.lastKind = kind;
    if (kind == kOffsetDiff) {
      c.offsetDiff->compress(enc, c.lastDiff, diff);
      c.lastDiff = diff;
    } else if (kind == kFullOffset) {
      enc.writeInt64(offset);
    }
    c.packetSize->compress(enc, int32_t(lastSize), int32_t(GetU32(in + 9)));
    c.returnPoint->compress(enc, int32_t(GetU32(last + 13)), int32_t(GetU32(in + 13)));
    for (uint32_t i = 0; i < 3; ++i) {
      uint32_t at = 17 + 4 * i;
      c.xyz->compress(enc, int32_t(GetU32(last + at)), int32_t(GetU32(in + at)), i);
    }
    std::memcpy(last, in, kWavepacketSize);
  }

  void finish() override { m_encoder.done(); }

  const std::vector<uint8_t>& layer(uint32_t) const override { return m_changed ? m_bytes : m_empty; }

 private:
  ArithmeticEncoder m_encoder;
  std::vector<uint8_t> m_bytes;
  std::vector<uint8_t> m_empty;
  bool m_changed = false;
};

}  // namespace

std::unique_ptr<LayeredItemDecoder> MakeWavepacket14Decoder(uint32_t version) {
  return std::unique_ptr<LayeredItemDecoder>(new Wavepacket14Decoder(version));
}

std::unique_ptr<LayeredItemEncoder> MakeWavepacket14Encoder(uint32_t version) {
  return std::unique_ptr<LayeredItemEncoder>(new Wavepacket14Encoder(version));
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
