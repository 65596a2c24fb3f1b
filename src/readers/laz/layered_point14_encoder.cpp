// Encoding of the layered point item, the mirror of its decoder.

#include "readers/laz/layered_point14.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

namespace {

class Point14Encoder final : public LayeredItemEncoder {
 public:
  explicit Point14Encoder(uint32_t version) : m_version(version) {
    for (auto& c : m_contexts) c.reset(new Point14Context(true));
  }

  uint32_t layerCount() const override { return kPoint14Layers; }

  void begin(const uint8_t* first, uint32_t& context) override {
    for (uint32_t i = 0; i < kPoint14Layers; ++i) {
      m_bytes[i].clear();
      m_encoders[i].init(&m_bytes[i]);
      // Readers expect these two layers whether or not they change.
      m_changed[i] = i == kLayerChannelReturnsXY || i == kLayerZ;
    }
    for (auto& c : m_contexts) c->used = false;
    Point14Fields p = UnpackPoint14(first);
    m_current = p.channel;
    context = m_current;
    m_contexts[m_current]->start(p, true);
  }

  void encode(const uint8_t* in, uint32_t& context) override;

  void finish() override {
    for (uint32_t i = 0; i < kPoint14Layers; ++i) {
      if (m_changed[i]) m_encoders[i].done();
    }
  }

  const std::vector<uint8_t>& layer(uint32_t i) const override {
    return m_changed[i] ? m_bytes[i] : m_empty;
  }

 private:
  uint32_t m_version;
  std::unique_ptr<Point14Context> m_contexts[kChannelContexts];
  ArithmeticEncoder m_encoders[kPoint14Layers];
  std::vector<uint8_t> m_bytes[kPoint14Layers];
  bool m_changed[kPoint14Layers] = {};
  std::vector<uint8_t> m_empty;
  uint32_t m_current = 0;
};

void Point14Encoder::encode(const uint8_t* in, uint32_t& context) {
  const Point14Fields item = UnpackPoint14(in);
  ArithmeticEncoder& xy = m_encoders[kLayerChannelReturnsXY];
  Point14Context* c = m_contexts[m_current].get();
  Point14Fields* prev = &c->last;
  uint32_t lastPulse = (prev->returnNumber == 1 ? 1u : 0u) |
                       (prev->returnNumber >= prev->returnCount ? 2u : 0u) |
                       (prev->gpsTimeChanged ? 4u : 0u);

  // Changes are judged against the previous record of the record's channel.
  uint32_t channel = item.channel;
  if (channel != m_current && m_contexts[channel]->used) prev = &m_contexts[channel]->last;
  bool pointSourceChanged = item.pointSource != prev->pointSource;
  uint32_t gpsChanged = item.gpsTime != prev->gpsTime ? 1u : 0u;
  bool scanAngleChanged = item.scanAngle != prev->scanAngle;
  uint32_t lastN = prev->returnCount, lastR = prev->returnNumber;
  uint32_t n = item.returnCount, r = item.returnNumber;

  uint32_t changed = (channel != m_current ? 1u << 6 : 0u) | (pointSourceChanged ? 1u << 5 : 0u) |
                     (gpsChanged << 4) | (scanAngleChanged ? 1u << 3 : 0u) |
                     (n != lastN ? 1u << 2 : 0u);
  if (r != lastR) {
    if (r == ((lastR + 1) & 15))
      changed |= 1;
    else if (r == ((lastR + 15) & 15))
      changed |= 2;
    else
      changed |= 3;
  }
  xy.encodeSymbol(*c->changedValues[lastPulse], changed);
  if (changed & (1u << 6)) {
    xy.encodeSymbol(*c->channel, (channel - m_current + 3) & 3);
    if (!m_contexts[channel]->used) {
      m_contexts[channel]->start(c->last, true);
      prev = &m_contexts[channel]->last;
    }
    m_current = channel;
    c = m_contexts[channel].get();
    context = m_current;
  }
  if (m_version >= 4) context = m_current;

  if (changed & (1u << 2)) xy.encodeSymbol(c->lazy(c->returnCount[lastN], 16), n);
  if ((changed & 3) == 3) {
    if (gpsChanged)
      xy.encodeSymbol(c->lazy(c->returnNumber[lastR], 16), r);
    else
      xy.encodeSymbol(*c->returnNumberSameTime, (r - lastR - 2) & 15);
  }

  uint32_t map = ReturnMap(n, r);
  uint32_t level = ReturnLevel(n, r);
  uint32_t pulse = (r == 1 ? 2u : 0u) + (r >= n ? 1u : 0u);
  uint32_t single = n == 1 ? 1u : 0u;

  StreamingMedian5& mx = c->xDiff[(map << 1) | gpsChanged];
  int32_t dx = int32_t(uint32_t(item.x) - uint32_t(prev->x));
  c->dx->compress(xy, mx.get(), dx, single);
  mx.add(dx);
  StreamingMedian5& my = c->yDiff[(map << 1) | gpsChanged];
  int32_t dy = int32_t(uint32_t(item.y) - uint32_t(prev->y));
  c->dy->compress(xy, my.get(), dy, single + KContext(c->dx->k(), 20));
  my.add(dy);

  uint32_t k = (c->dx->k() + c->dy->k()) / 2;
  c->z->compress(m_encoders[kLayerZ], c->lastZ[level], item.z, single + KContext(k, 18));
  c->lastZ[level] = item.z;

  if (item.classification != prev->classification) m_changed[kLayerClassification] = true;
  uint32_t slot = ((prev->classification & 0x1Fu) << 1) + (pulse == 3 ? 1u : 0u);
  m_encoders[kLayerClassification].encodeSymbol(c->lazy(c->classification[slot], 256),
                                                item.classification);

  if (item.flags != prev->flags) m_changed[kLayerFlags] = true;
  m_encoders[kLayerFlags].encodeSymbol(c->lazy(c->flags[prev->flags & 63], 64), item.flags);

  if (item.intensity != prev->intensity) m_changed[kLayerIntensity] = true;
  uint16_t& predicted = c->lastIntensity[(pulse << 1) | gpsChanged];
  c->intensity->compress(m_encoders[kLayerIntensity], predicted, item.intensity, pulse);
  predicted = item.intensity;

  if (scanAngleChanged) {
    m_changed[kLayerScanAngle] = true;
    c->scanAngle->compress(m_encoders[kLayerScanAngle], prev->scanAngle, item.scanAngle,
                           gpsChanged);
  }

  if (item.userData != prev->userData) m_changed[kLayerUserData] = true;
  m_encoders[kLayerUserData].encodeSymbol(c->lazy(c->userData[prev->userData / 4], 256),
                                          item.userData);

  if (pointSourceChanged) {
    m_changed[kLayerPointSource] = true;
    c->pointSource->compress(m_encoders[kLayerPointSource], prev->pointSource, item.pointSource);
  }
  if (gpsChanged) {
    m_changed[kLayerGpsTime] = true;
    EncodeGpsTime(m_encoders[kLayerGpsTime], c->gps, item.gpsTime);
  }
  *prev = item;
  prev->gpsTimeChanged = gpsChanged != 0;
}

}  // namespace

std::unique_ptr<LayeredItemEncoder> MakePoint14Encoder(uint32_t version) {
  return std::unique_ptr<LayeredItemEncoder>(new Point14Encoder(version));
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
