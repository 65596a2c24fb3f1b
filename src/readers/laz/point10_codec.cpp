// The LAS point core (x, y, z, intensity, return bits, classification, scan
// angle, user data, point source): 20 bytes, little-endian.

#include <algorithm>
#include <cstring>

#include "format/little_endian.h"
#include "readers/laz/integer_compressor.h"
#include "readers/laz/point10_context.h"
#include "readers/laz/pointwise_item.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {
namespace {

using vorlin::format::GetU16;
using vorlin::format::GetU32;
using vorlin::format::PutU16;
using vorlin::format::PutU32;

// The record's fields, unpacked once per chunk and kept as the prediction
// state; the byte fields stay in their record positions 14-17.
struct Point10 {
  int32_t x, y, z;
  uint16_t intensity;
  uint8_t bits, classification, scanAngle, userData;  // bytes 14-17
  uint16_t pointSource;

  void load(const uint8_t* p) {
    x = int32_t(GetU32(p));
    y = int32_t(GetU32(p + 4));
    z = int32_t(GetU32(p + 8));
    intensity = GetU16(p + 12);
    bits = p[14];
    classification = p[15];
    scanAngle = p[16];
    userData = p[17];
    pointSource = GetU16(p + 18);
  }
  void store(uint8_t* p) const {
    PutU32(p, uint32_t(x));
    PutU32(p + 4, uint32_t(y));
    PutU32(p + 8, uint32_t(z));
    PutU16(p + 12, intensity);
    p[14] = bits;
    p[15] = classification;
    p[16] = scanAngle;
    p[17] = userData;
    PutU16(p + 18, pointSource);
  }
  uint32_t returnNumber() const { return bits & 7u; }
  uint32_t returnCount() const { return (bits >> 3) & 7u; }
  uint32_t scanDirection() const { return (bits >> 6) & 1u; }
};

int32_t Add(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
int32_t Sub(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
int32_t Median3(int32_t a, int32_t b, int32_t c) {
  return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Item version 1: coordinates first, then a mask of the changed fields.
class Point10DecoderV1 final : public PointwiseItemDecoder {
 public:
  Point10DecoderV1()
      : m_dx(32), m_dy(32, 20), m_z(32, 20), m_intensity(16), m_scanAngle(8, 2),
        m_pointSource(16), m_changed(64), m_bits(false), m_class(false), m_user(false) {}

  void init(const uint8_t* first) override {
    m_dx.initDecoder();
    m_dy.initDecoder();
    m_z.initDecoder();
    m_intensity.initDecoder();
    m_scanAngle.initDecoder();
    m_pointSource.initDecoder();
    m_changed.reset();
    m_bits.newChunk();
    m_class.newChunk();
    m_user.newChunk();
    std::fill(m_lastDx, m_lastDx + 3, 0);
    std::fill(m_lastDy, m_lastDy + 3, 0);
    m_next = 0;
    m_last.load(first);
  }

  void decode(ArithmeticDecoder& dec, uint8_t* item) override {
    Point10& p = m_last;
    const int32_t dx = m_dx.decompress(dec, Median3(m_lastDx[0], m_lastDx[1], m_lastDx[2]));
    p.x = Add(p.x, dx);
    uint32_t k = m_dx.k();
    const int32_t dy = m_dy.decompress(dec, Median3(m_lastDy[0], m_lastDy[1], m_lastDy[2]),
                                       std::min(k, 19u));
    p.y = Add(p.y, dy);
    k = (k + m_dy.k()) / 2;
    p.z = m_z.decompress(dec, p.z, std::min(k, 19u));

    const uint32_t changed = dec.decodeSymbol(m_changed);
    if (changed) {
      if (changed & 32) p.intensity = uint16_t(m_intensity.decompress(dec, p.intensity));
      if (changed & 16) p.bits = uint8_t(dec.decodeSymbol(m_bits[p.bits]));
      if (changed & 8) p.classification = uint8_t(dec.decodeSymbol(m_class[p.classification]));
      if (changed & 4) p.scanAngle = uint8_t(m_scanAngle.decompress(dec, p.scanAngle, k < 3));
      if (changed & 2) p.userData = uint8_t(dec.decodeSymbol(m_user[p.userData]));
      if (changed & 1) p.pointSource = uint16_t(m_pointSource.decompress(dec, p.pointSource));
    }
    m_lastDx[m_next] = dx;
    m_lastDy[m_next] = dy;
    m_next = m_next == 2 ? 0 : m_next + 1;
    p.store(item);
  }

 private:
  IntegerCompressor m_dx, m_dy, m_z, m_intensity, m_scanAngle, m_pointSource;
  ArithmeticModel m_changed;
  ModelPerByteValue m_bits, m_class, m_user;
  int32_t m_lastDx[3] = {0, 0, 0}, m_lastDy[3] = {0, 0, 0};
  int m_next = 0;
  Point10 m_last{};
};

// State shared by the version 2 coders: predictions kept per return
// context, so interleaved first and last returns do not spoil each other.
struct Point10StateV2 {
  StreamingMedian5 medianDx[16], medianDy[16];
  uint16_t lastIntensity[16];
  int32_t lastHeight[8];
  Point10 last;

  void reset(const uint8_t* first) {
    for (int i = 0; i < 16; ++i) {
      medianDx[i].reset();
      medianDy[i].reset();
      lastIntensity[i] = 0;
    }
    std::fill(lastHeight, lastHeight + 8, 0);
    last.load(first);
  }
};

// The y context: whether the pulse has a single return, plus the (even) k
// of the x difference; z uses the mean k of x and y.
uint32_t YContext(uint32_t single, uint32_t kx) { return single + (kx < 20 ? (kx & ~1u) : 20); }
uint32_t ZContext(uint32_t single, uint32_t kxy) { return single + (kxy < 18 ? (kxy & ~1u) : 18); }

// Item version 2: the changed-field mask first, predictions per return.
class Point10DecoderV2 final : public PointwiseItemDecoder {
 public:
  Point10DecoderV2()
      : m_changed(64), m_intensity(16, 4), m_scanAngle{ArithmeticModel(256), ArithmeticModel(256)},
        m_pointSource(16), m_dx(32, 2), m_dy(32, 22), m_z(32, 20), m_bits(false), m_class(false),
        m_user(false) {}

  void init(const uint8_t* first) override {
    m_changed.reset();
    m_intensity.initDecoder();
    m_scanAngle[0].reset();
    m_scanAngle[1].reset();
    m_pointSource.initDecoder();
    m_bits.newChunk();
    m_class.newChunk();
    m_user.newChunk();
    m_dx.initDecoder();
    m_dy.initDecoder();
    m_z.initDecoder();
    m_state.reset(first);
  }

  void decode(ArithmeticDecoder& dec, uint8_t* item) override {
    Point10& p = m_state.last;
    const uint32_t changed = dec.decodeSymbol(m_changed);
    uint32_t m, l, single;
    if (changed) {
      if (changed & 32) p.bits = uint8_t(dec.decodeSymbol(m_bits[p.bits]));
      const uint32_t n = p.returnCount(), r = p.returnNumber();
      m = kReturnContext[n][r];
      l = ReturnLevel(n, r);
      single = n == 1;
      if (changed & 16) {
        p.intensity = uint16_t(
            m_intensity.decompress(dec, m_state.lastIntensity[m], m < 3 ? m : 3));
        m_state.lastIntensity[m] = p.intensity;
      } else {
        p.intensity = m_state.lastIntensity[m];
      }
      if (changed & 8) p.classification = uint8_t(dec.decodeSymbol(m_class[p.classification]));
      if (changed & 4) {
        const uint32_t delta = dec.decodeSymbol(m_scanAngle[p.scanDirection()]);
        p.scanAngle = uint8_t(delta + p.scanAngle);
      }
      if (changed & 2) p.userData = uint8_t(dec.decodeSymbol(m_user[p.userData]));
      if (changed & 1) p.pointSource = uint16_t(m_pointSource.decompress(dec, p.pointSource));
    } else {
      const uint32_t n = p.returnCount(), r = p.returnNumber();
      m = kReturnContext[n][r];
      l = ReturnLevel(n, r);
      single = n == 1;
      p.intensity = m_state.lastIntensity[m];
    }

    const int32_t dx = m_dx.decompress(dec, m_state.medianDx[m].get(), single);
    p.x = Add(p.x, dx);
    m_state.medianDx[m].add(dx);
    const int32_t dy = m_dy.decompress(dec, m_state.medianDy[m].get(), YContext(single, m_dx.k()));
    p.y = Add(p.y, dy);
    m_state.medianDy[m].add(dy);
    p.z = m_z.decompress(dec, m_state.lastHeight[l], ZContext(single, (m_dx.k() + m_dy.k()) / 2));
    m_state.lastHeight[l] = p.z;
    p.store(item);
  }

 private:
  ArithmeticModel m_changed;
  IntegerCompressor m_intensity;
  ArithmeticModel m_scanAngle[2];
  IntegerCompressor m_pointSource, m_dx, m_dy, m_z;
  ModelPerByteValue m_bits, m_class, m_user;
  Point10StateV2 m_state;
};

class Point10EncoderV2 final : public PointwiseItemEncoder {
 public:
  Point10EncoderV2()
      : m_changed(64, true), m_intensity(16, 4),
        m_scanAngle{ArithmeticModel(256, true), ArithmeticModel(256, true)}, m_pointSource(16),
        m_dx(32, 2), m_dy(32, 22), m_z(32, 20), m_bits(true), m_class(true), m_user(true) {}

  void init(const uint8_t* first) override {
    m_changed.reset();
    m_intensity.initEncoder();
    m_scanAngle[0].reset();
    m_scanAngle[1].reset();
    m_pointSource.initEncoder();
    m_bits.newChunk();
    m_class.newChunk();
    m_user.newChunk();
    m_dx.initEncoder();
    m_dy.initEncoder();
    m_z.initEncoder();
    m_state.reset(first);
  }

  void encode(ArithmeticEncoder& enc, const uint8_t* item) override {
    Point10 p;
    p.load(item);
    Point10& last = m_state.last;
    const uint32_t n = p.returnCount(), r = p.returnNumber();
    const uint32_t m = kReturnContext[n][r], l = ReturnLevel(n, r), single = n == 1;
    const uint32_t changed = (uint32_t(last.bits != p.bits) << 5) |
                             (uint32_t(m_state.lastIntensity[m] != p.intensity) << 4) |
                             (uint32_t(last.classification != p.classification) << 3) |
                             (uint32_t(last.scanAngle != p.scanAngle) << 2) |
                             (uint32_t(last.userData != p.userData) << 1) |
                             uint32_t(last.pointSource != p.pointSource);
    enc.encodeSymbol(m_changed, changed);
    if (changed & 32) enc.encodeSymbol(m_bits[last.bits], p.bits);
    if (changed & 16) {
      m_intensity.compress(enc, m_state.lastIntensity[m], p.intensity, m < 3 ? m : 3);
      m_state.lastIntensity[m] = p.intensity;
    }
    if (changed & 8) enc.encodeSymbol(m_class[last.classification], p.classification);
    if (changed & 4)
      enc.encodeSymbol(m_scanAngle[p.scanDirection()], FoldByte(p.scanAngle - last.scanAngle));
    if (changed & 2) enc.encodeSymbol(m_user[last.userData], p.userData);
    if (changed & 1) m_pointSource.compress(enc, last.pointSource, p.pointSource);

    const int32_t dx = Sub(p.x, last.x);
    m_dx.compress(enc, m_state.medianDx[m].get(), dx, single);
    m_state.medianDx[m].add(dx);
    const int32_t dy = Sub(p.y, last.y);
    m_dy.compress(enc, m_state.medianDy[m].get(), dy, YContext(single, m_dx.k()));
    m_state.medianDy[m].add(dy);
    m_z.compress(enc, m_state.lastHeight[l], p.z, ZContext(single, (m_dx.k() + m_dy.k()) / 2));
    m_state.lastHeight[l] = p.z;
    last = p;
  }

 private:
  ArithmeticModel m_changed;
  IntegerCompressor m_intensity;
  ArithmeticModel m_scanAngle[2];
  IntegerCompressor m_pointSource, m_dx, m_dy, m_z;
  ModelPerByteValue m_bits, m_class, m_user;
  Point10StateV2 m_state;
};

}  // namespace

std::unique_ptr<PointwiseItemDecoder> MakePoint10Decoder(uint16_t version) {
  if (version == 1) return std::make_unique<Point10DecoderV1>();
  if (version == 2) return std::make_unique<Point10DecoderV2>();
  return nullptr;
}

std::unique_ptr<PointwiseItemEncoder> MakePoint10Encoder(uint16_t version) {
  if (version == 2) return std::make_unique<Point10EncoderV2>();
  return nullptr;
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
