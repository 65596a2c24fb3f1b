// Colour: red, green, blue as 16-bit values, coded byte by byte. Most
// sources scale 8-bit colour up, and grey points repeat one value thrice.

#include "format/little_endian.h"
#include "readers/laz/integer_compressor.h"
#include "readers/laz/pointwise_item.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {
namespace {

using vorlin::format::GetU16;
using vorlin::format::PutU16;

struct Rgb {
  uint16_t c[3];
  void load(const uint8_t* p) {
    for (int i = 0; i < 3; ++i) c[i] = GetU16(p + 2 * i);
  }
  void store(uint8_t* p) const {
    for (int i = 0; i < 3; ++i) PutU16(p + 2 * i, c[i]);
  }
  int32_t lo(int i) const { return c[i] & 0xFF; }
  int32_t hi(int i) const { return c[i] >> 8; }
};

// Version 1: a mask of the changed bytes, each changed byte predicted by
// its previous value.
class Rgb12DecoderV1 final : public PointwiseItemDecoder {
 public:
  Rgb12DecoderV1() : m_used(64), m_ic(8, 6) {}
  void init(const uint8_t* first) override {
    m_used.reset();
    m_ic.initDecoder();
    m_last.load(first);
  }
  void decode(ArithmeticDecoder& dec, uint8_t* item) override {
    const uint32_t used = dec.decodeSymbol(m_used);
    Rgb out;
    for (int i = 0; i < 3; ++i) {
      const uint32_t lo = (used >> (2 * i)) & 1
                              ? uint32_t(m_ic.decompress(dec, m_last.lo(i), 2 * i)) & 0xFF
                              : uint32_t(m_last.lo(i));
      const uint32_t hi = (used >> (2 * i + 1)) & 1
                              ? uint32_t(m_ic.decompress(dec, m_last.hi(i), 2 * i + 1)) & 0xFF
                              : uint32_t(m_last.hi(i));
      out.c[i] = uint16_t(lo | (hi << 8));
    }
    m_last = out;
    out.store(item);
  }

 private:
  ArithmeticModel m_used;
  IntegerCompressor m_ic;
  Rgb m_last{};
};

// Version 2: red's change predicts green's, and their mean blue's. Mask
// bit 6 says the channels differ at all; without it all three equal red.
struct Rgb12ModelsV2 {
  explicit Rgb12ModelsV2(bool compress)
      : used(128, compress),
        diff{ArithmeticModel(256, compress), ArithmeticModel(256, compress),
             ArithmeticModel(256, compress), ArithmeticModel(256, compress),
             ArithmeticModel(256, compress), ArithmeticModel(256, compress)} {}
  void reset() {
    used.reset();
    for (ArithmeticModel& m : diff) m.reset();
  }
  ArithmeticModel used;
  ArithmeticModel diff[6];  // red lo, red hi, green lo, green hi, blue lo, blue hi
};

class Rgb12DecoderV2 final : public PointwiseItemDecoder {
 public:
  Rgb12DecoderV2() : m_models(false) {}
  void init(const uint8_t* first) override {
    m_models.reset();
    m_last.load(first);
  }
  void decode(ArithmeticDecoder& dec, uint8_t* item) override {
    const uint32_t used = dec.decodeSymbol(m_models.used);
    const Rgb& last = m_last;
    int32_t lo[3], hi[3];
    lo[0] = used & 1 ? FoldByte(int32_t(dec.decodeSymbol(m_models.diff[0])) + last.lo(0)) : last.lo(0);
    hi[0] = used & 2 ? FoldByte(int32_t(dec.decodeSymbol(m_models.diff[1])) + last.hi(0)) : last.hi(0);
    if (used & 64) {
      int32_t d = lo[0] - last.lo(0);
      lo[1] = used & 4 ? FoldByte(int32_t(dec.decodeSymbol(m_models.diff[2])) + ClampByte(d + last.lo(1)))
                       : last.lo(1);
      if (used & 16) {
        d = (d + lo[1] - last.lo(1)) / 2;
        lo[2] = FoldByte(int32_t(dec.decodeSymbol(m_models.diff[4])) + ClampByte(d + last.lo(2)));
      } else {
        lo[2] = last.lo(2);
      }
      d = hi[0] - last.hi(0);
      hi[1] = used & 8 ? FoldByte(int32_t(dec.decodeSymbol(m_models.diff[3])) + ClampByte(d + last.hi(1)))
                       : last.hi(1);
      if (used & 32) {
        d = (d + hi[1] - last.hi(1)) / 2;
        hi[2] = FoldByte(int32_t(dec.decodeSymbol(m_models.diff[5])) + ClampByte(d + last.hi(2)));
      } else {
        hi[2] = last.hi(2);
      }
    } else {
      lo[1] = lo[2] = lo[0];
      hi[1] = hi[2] = hi[0];
    }
    for (int i = 0; i < 3; ++i) m_last.c[i] = uint16_t(lo[i] | (hi[i] << 8));
    m_last.store(item);
  }

 private:
  Rgb12ModelsV2 m_models;
  Rgb m_last{};
};

class Rgb12EncoderV2 final : public PointwiseItemEncoder {
 public:
  Rgb12EncoderV2() : m_models(true) {}
  void init(const uint8_t* first) override {
    m_models.reset();
    m_last.load(first);
  }
  void encode(ArithmeticEncoder& enc, const uint8_t* item) override {
    Rgb p;
    p.load(item);
    const Rgb& last = m_last;
    uint32_t used = 0;
    for (int i = 0; i < 3; ++i) {
      used |= uint32_t(p.lo(i) != last.lo(i)) << (2 * i);
      used |= uint32_t(p.hi(i) != last.hi(i)) << (2 * i + 1);
    }
    const bool coloured = p.c[1] != p.c[0] || p.c[2] != p.c[0];
    used |= uint32_t(coloured) << 6;
    enc.encodeSymbol(m_models.used, used);
    int32_t dLo = p.lo(0) - last.lo(0);
    int32_t dHi = p.hi(0) - last.hi(0);
    if (used & 1) enc.encodeSymbol(m_models.diff[0], FoldByte(dLo));
    if (used & 2) enc.encodeSymbol(m_models.diff[1], FoldByte(dHi));
    if (coloured) {
      if (used & 4) enc.encodeSymbol(m_models.diff[2], FoldByte(p.lo(1) - ClampByte(dLo + last.lo(1))));
      if (used & 16) {
        dLo = (dLo + p.lo(1) - last.lo(1)) / 2;
        enc.encodeSymbol(m_models.diff[4], FoldByte(p.lo(2) - ClampByte(dLo + last.lo(2))));
      }
      if (used & 8) enc.encodeSymbol(m_models.diff[3], FoldByte(p.hi(1) - ClampByte(dHi + last.hi(1))));
      if (used & 32) {
        dHi = (dHi + p.hi(1) - last.hi(1)) / 2;
        enc.encodeSymbol(m_models.diff[5], FoldByte(p.hi(2) - ClampByte(dHi + last.hi(2))));
      }
    }
    m_last = p;
  }

 private:
  Rgb12ModelsV2 m_models;
  Rgb m_last{};
};

}  // namespace

std::unique_ptr<PointwiseItemDecoder> MakeRgb12Decoder(uint16_t version) {
  if (version == 1) return std::make_unique<Rgb12DecoderV1>();
  if (version == 2) return std::make_unique<Rgb12DecoderV2>();
  return nullptr;
}

std::unique_ptr<PointwiseItemEncoder> MakeRgb12Encoder(uint16_t version) {
  if (version == 2) return std::make_unique<Rgb12EncoderV2>();
  return nullptr;
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
