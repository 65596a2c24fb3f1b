// Waveform packet descriptor (29 bytes): descriptor index, byte offset of
// the waveform data, its size, the return point location and the x, y, z
// direction of the pulse. Only version 1 of this item exists.

#include "format/little_endian.h"
#include "readers/laz/integer_compressor.h"
#include "readers/laz/pointwise_item.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {
namespace {

using vorlin::format::GetU32;
using vorlin::format::GetU64;
using vorlin::format::PutU32;
using vorlin::format::PutU64;

// The 28 bytes after the index; the floats are coded through their bits.
struct Packet {
  uint64_t offset;
  uint32_t size;
  int32_t fields[4];  // return point, x, y, z
  void load(const uint8_t* p) {
    offset = GetU64(p);
    size = GetU32(p + 8);
    for (int i = 0; i < 4; ++i) fields[i] = int32_t(GetU32(p + 12 + 4 * i));
  }
  void store(uint8_t* p) const {
    PutU64(p, offset);
    PutU32(p + 8, size);
    for (int i = 0; i < 4; ++i) PutU32(p + 12 + 4 * i, uint32_t(fields[i]));
  }
};

// How the offset relates to the previous packet's; the last choice is the
// context of the next.
enum OffsetCase : uint32_t { kSameOffset = 0, kFollows = 1, kSmallJump = 2, kRawOffset = 3 };

struct WavepacketModels {
  explicit WavepacketModels(bool compress)
      : index(256, compress),
        offsetCase{ArithmeticModel(4, compress), ArithmeticModel(4, compress),
                   ArithmeticModel(4, compress), ArithmeticModel(4, compress)},
        offsetDiff(32), size(32), returnPoint(32), xyz(32, 3) {}
  void reset(bool compress) {
    index.reset();
    for (ArithmeticModel& m : offsetCase) m.reset();
    IntegerCompressor* ics[] = {&offsetDiff, &size, &returnPoint, &xyz};
    for (IntegerCompressor* ic : ics) compress ? ic->initEncoder() : ic->initDecoder();
    lastCase = 0;
    lastJump = 0;
  }
  ArithmeticModel index;
  ArithmeticModel offsetCase[4];
  IntegerCompressor offsetDiff, size, returnPoint, xyz;
  uint32_t lastCase = 0;
  int32_t lastJump = 0;
};

class Wavepacket13Decoder final : public PointwiseItemDecoder {
 public:
  Wavepacket13Decoder() : m(false) {}
  void init(const uint8_t* first) override {
    m.reset(false);
    m_last.load(first + 1);
  }
  void decode(ArithmeticDecoder& dec, uint8_t* item) override {
    item[0] = uint8_t(dec.decodeSymbol(m.index));
    Packet p;
    m.lastCase = dec.decodeSymbol(m.offsetCase[m.lastCase]);
    switch (m.lastCase) {
      case kSameOffset: p.offset = m_last.offset; break;
      case kFollows: p.offset = m_last.offset + m_last.size; break;
      case kSmallJump:
        m.lastJump = m.offsetDiff.decompress(dec, m.lastJump);
        p.offset = m_last.offset + uint64_t(int64_t(m.lastJump));
        break;
      default: p.offset = dec.readInt64(); break;
    }
    p.size = uint32_t(m.size.decompress(dec, int32_t(m_last.size)));
    p.fields[0] = m.returnPoint.decompress(dec, m_last.fields[0]);
    for (uint32_t i = 0; i < 3; ++i) p.fields[1 + i] = m.xyz.decompress(dec, m_last.fields[1 + i], i);
    m_last = p;
    p.store(item + 1);
  }

 private:
  WavepacketModels m;
  Packet m_last{};
};

class Wavepacket13Encoder final : public PointwiseItemEncoder {
 public:
  Wavepacket13Encoder() : m(true) {}
  void init(const uint8_t* first) override {
    m.reset(true);
    m_last.load(first + 1);
  }
  void encode(ArithmeticEncoder& enc, const uint8_t* item) override {
    enc.encodeSymbol(m.index, item[0]);
    Packet p;
    p.load(item + 1);
    const int64_t jump = int64_t(p.offset - m_last.offset);
    uint32_t offsetCase;
    if (jump != int64_t(int32_t(jump))) offsetCase = kRawOffset;
    else if (jump == 0) offsetCase = kSameOffset;
    else if (jump == int64_t(m_last.size)) offsetCase = kFollows;
    else offsetCase = kSmallJump;
    enc.encodeSymbol(m.offsetCase[m.lastCase], offsetCase);
    m.lastCase = offsetCase;
    if (offsetCase == kSmallJump) {
      m.offsetDiff.compress(enc, m.lastJump, int32_t(jump));
      m.lastJump = int32_t(jump);
    } else if (offsetCase == kRawOffset) {
      enc.writeInt64(p.offset);
    }
    m.size.compress(enc, int32_t(m_last.size), int32_t(p.size));
    m.returnPoint.compress(enc, m_last.fields[0], p.fields[0]);
    for (uint32_t i = 0; i < 3; ++i) m.xyz.compress(enc, m_last.fields[1 + i], p.fields[1 + i], i);
    m_last = p;
  }

 private:
  WavepacketModels m;
  Packet m_last{};
};

}  // namespace

std::unique_ptr<PointwiseItemDecoder> MakeWavepacket13Decoder(uint16_t version) {
  if (version == 1) return std::make_unique<Wavepacket13Decoder>();
  return nullptr;
}

std::unique_ptr<PointwiseItemEncoder> MakeWavepacket13Encoder(uint16_t version) {
  if (version == 1) return std::make_unique<Wavepacket13Encoder>();
  return nullptr;
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
