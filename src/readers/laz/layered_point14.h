#ifndef VORLIN_READERS_LAZ_LAYERED_POINT14_H
#define VORLIN_READERS_LAZ_LAYERED_POINT14_H

// The layered point item of formats 6-10: the 30-byte core of the record,
// coded in nine layers (channel, returns and XY; Z; classification; flags;
// intensity; scan angle; user data; point source; GPS time).

#include <cstdint>
#include <memory>

#include "readers/laz/layered_gps_time.h"
#include "readers/laz/layered_item.h"
#include "readers/laz/streaming_median.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

constexpr uint32_t kPoint14Size = 30;
constexpr uint32_t kPoint14Layers = 9;

enum Point14Layer : uint32_t {
  kLayerChannelReturnsXY = 0,
  kLayerZ,
  kLayerClassification,
  kLayerFlags,
  kLayerIntensity,
  kLayerScanAngle,
  kLayerUserData,
  kLayerPointSource,
  kLayerGpsTime,
};

// The record's fields as the coder sees them. flags holds the edge-of-line
// bit at 5, the scan direction at 4 and the four classification flags below.
struct Point14Fields {
  int32_t x = 0, y = 0, z = 0;
  uint16_t intensity = 0;
  uint8_t returnNumber = 0, returnCount = 0;
  uint8_t flags = 0;
  uint8_t channel = 0;
  uint8_t classification = 0;
  uint8_t userData = 0;
  int16_t scanAngle = 0;
  uint16_t pointSource = 0;
  uint64_t gpsTime = 0;  // the double's bits
  bool gpsTimeChanged = false;  // compared with this channel's previous record
};

Point14Fields UnpackPoint14(const uint8_t* record);
void PackPoint14(const Point14Fields& p, uint8_t* record);

// Everything one scanner channel remembers within a chunk.
struct Point14Context {
  explicit Point14Context(bool compress);

  // Starts the channel from a record (the chunk's first, or the previous
  // record of the channel that was current when this one first appeared).
  void start(const Point14Fields& from, bool forEncoding);
  ArithmeticModel& lazy(LazyModel& slot, uint32_t symbols);

  bool compress;
  bool used = false;
  uint32_t generation = 0;
  Point14Fields last;
  uint16_t lastIntensity[8] = {};
  StreamingMedian5 xDiff[12], yDiff[12];
  int32_t lastZ[8] = {};

  std::unique_ptr<ArithmeticModel> changedValues[8];
  std::unique_ptr<ArithmeticModel> channel;
  std::unique_ptr<ArithmeticModel> returnNumberSameTime;
  LazyModel returnCount[16], returnNumber[16];
  LazyModel classification[64], flags[64], userData[64];
  std::unique_ptr<IntegerCompressor> dx, dy, z, intensity, scanAngle, pointSource;
  GpsTimeState gps;
};

// Context numbers derived from the return number r and count n.
uint32_t ReturnMap(uint32_t n, uint32_t r);    // 0..5, selects the XY medians
uint32_t ReturnLevel(uint32_t n, uint32_t r);  // 0..7, selects the Z predictor

// The k of the previous coordinate, folded into a context number.
inline uint32_t KContext(uint32_t k, uint32_t limit) { return k < limit ? (k & ~1u) : limit; }

std::unique_ptr<LayeredItemDecoder> MakePoint14Decoder(uint32_t version);
std::unique_ptr<LayeredItemEncoder> MakePoint14Encoder(uint32_t version);

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
