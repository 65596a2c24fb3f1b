// Decoding of the layered point item.

#include "readers/laz/layered_point14.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

namespace {

class Point14Decoder final : public LayeredItemDecoder {
 public:
  explicit Point14Decoder(uint32_t version) : m_version(version) {
    for (auto& c : m_contexts) c.reset(new Point14Context(false));
  }

  uint32_t layerCount() const override { return kPoint14Layers; }

  void begin(const uint8_t* first, const LayerBytes* layers, uint32_t& context) override {
    m_failed = false;
    for (uint32_t i = 0; i < kPoint14Layers; ++i) {
      // The first layer carries what every record needs; it cannot be left out.
      m_active[i] = i == kLayerChannelReturnsXY || layers[i].size > 0;
      if (m_active[i]) m_decoders[i].init(layers[i].data, layers[i].size);
    }
    for (auto& c : m_contexts) c->used = false;
    Point14Fields p = UnpackPoint14(first);
    m_current = p.channel;
    context = m_current;
    m_contexts[m_current]->start(p, false);
  }

  void decode(uint8_t* out, uint32_t& context) override;

  bool overrun() const override {
    if (m_failed) return true;
    for (uint32_t i = 0; i < kPoint14Layers; ++i) {
      if (m_active[i] && m_decoders[i].overrun()) return true;
    }
    return false;
  }

 private:
  uint32_t m_version;
  std::unique_ptr<Point14Context> m_contexts[kChannelContexts];
  ArithmeticDecoder m_decoders[kPoint14Layers];
  bool m_active[kPoint14Layers] = {};
  uint32_t m_current = 0;
  bool m_failed = false;
};

void Point14Decoder::decode(uint8_t* out, uint32_t& context) {
  ArithmeticDecoder& xy = m_decoders[kLayerChannelReturnsXY];
  Point14Context* c = m_contexts[m_current].get();

  // What changed is coded in a context of the channel's previous record.
  const Point14Fields& prev = c->last;
  uint32_t lastPulse = (prev.returnNumber == 1 ? 1u : 0u) |
                       (prev.returnNumber >= prev.returnCount ? 2u : 0u) |
                       (prev.gpsTimeChanged ? 4u : 0u);
  uint32_t changed = xy.decodeSymbol(*c->changedValues[lastPulse]);
  if (changed & (1u << 6)) {
    uint32_t channel = (m_current + xy.decodeSymbol(*c->channel) + 1) & 3;
    if (!m_contexts[channel]->used) m_contexts[channel]->start(c->last, false);
    m_current = channel;
    c = m_contexts[channel].get();
    context = m_current;
  }
  // Version 3 tells the other items the channel only when it changes.
  if (m_version >= 4) context = m_current;

  Point14Fields& p = c->last;
  p.channel = uint8_t(m_current);
  bool pointSourceChanged = (changed & (1u << 5)) != 0;
  uint32_t gpsChanged = (changed >> 4) & 1;
  bool scanAngleChanged = (changed & (1u << 3)) != 0;

  uint32_t n = p.returnCount;
  if (changed & (1u << 2)) {
    n = xy.decodeSymbol(c->lazy(c->returnCount[n], 16));
    p.returnCount = uint8_t(n);
  }
  uint32_t lastR = p.returnNumber;
  uint32_t r = lastR;
  switch (changed & 3) {
    case 1:
      r = (lastR + 1) & 15;
      break;
    case 2:
      r = (lastR + 15) & 15;
      break;
    case 3:
      if (gpsChanged)
        r = xy.decodeSymbol(c->lazy(c->returnNumber[lastR], 16));
      else
        r = (lastR + xy.decodeSymbol(*c->returnNumberSameTime) + 2) & 15;
      break;
  }
  p.returnNumber = uint8_t(r);

  uint32_t map = ReturnMap(n, r);
  uint32_t level = ReturnLevel(n, r);
  uint32_t pulse = (r == 1 ? 2u : 0u) + (r >= n ? 1u : 0u);
  uint32_t single = n == 1 ? 1u : 0u;

  StreamingMedian5& mx = c->xDiff[(map << 1) | gpsChanged];
  int32_t dx = c->dx->decompress(xy, mx.get(), single);
  p.x = int32_t(uint32_t(p.x) + uint32_t(dx));
  mx.add(dx);
  StreamingMedian5& my = c->yDiff[(map << 1) | gpsChanged];
  int32_t dy = c->dy->decompress(xy, my.get(), single + KContext(c->dx->k(), 20));
  p.y = int32_t(uint32_t(p.y) + uint32_t(dy));
  my.add(dy);

  if (m_active[kLayerZ]) {
    uint32_t k = (c->dx->k() + c->dy->k()) / 2;
    p.z = c->z->decompress(m_decoders[kLayerZ], c->lastZ[level], single + KContext(k, 18));
    c->lastZ[level] = p.z;
  }
  if (m_active[kLayerClassification]) {
    uint32_t slot = ((p.classification & 0x1Fu) << 1) + (pulse == 3 ? 1u : 0u);
    p.classification = uint8_t(m_decoders[kLayerClassification].decodeSymbol(
        c->lazy(c->classification[slot], 256)));
  }
  if (m_active[kLayerFlags]) {
    p.flags = uint8_t(m_decoders[kLayerFlags].decodeSymbol(c->lazy(c->flags[p.flags & 63], 64)));
  }
  if (m_active[kLayerIntensity]) {
    uint16_t& predicted = c->lastIntensity[(pulse << 1) | gpsChanged];
    predicted = uint16_t(c->intensity->decompress(m_decoders[kLayerIntensity], predicted, pulse));
    p.intensity = predicted;
  }
  if (m_active[kLayerScanAngle] && scanAngleChanged) {
    p.scanAngle =
        int16_t(c->scanAngle->decompress(m_decoders[kLayerScanAngle], p.scanAngle, gpsChanged));
  }
  if (m_active[kLayerUserData]) {
    p.userData = uint8_t(m_decoders[kLayerUserData].decodeSymbol(
        c->lazy(c->userData[p.userData / 4], 256)));
  }
  if (m_active[kLayerPointSource] && pointSourceChanged) {
    p.pointSource =
        uint16_t(c->pointSource->decompress(m_decoders[kLayerPointSource], p.pointSource));
  }
  if (m_active[kLayerGpsTime] && gpsChanged) {
    if (!DecodeGpsTime(m_decoders[kLayerGpsTime], c->gps)) m_failed = true;
    p.gpsTime = c->gps.time[c->gps.last];
  }
  PackPoint14(p, out);
  p.gpsTimeChanged = gpsChanged != 0;
}

}  // namespace

std::unique_ptr<LayeredItemDecoder> MakePoint14Decoder(uint32_t version) {
  return std::unique_ptr<LayeredItemDecoder>(new Point14Decoder(version));
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
