#ifndef VORLIN_READERS_LAZ_LAYERED_WAVEPACKET14_H
#define VORLIN_READERS_LAZ_LAYERED_WAVEPACKET14_H

// The layered waveform-packet item (29 bytes, one layer): descriptor index,
// offset to the waveform data, packet size, return point and the x, y, z
// step of the pulse.

#include <memory>

#include "readers/laz/layered_item.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

constexpr uint32_t kWavepacketSize = 29;

std::unique_ptr<LayeredItemDecoder> MakeWavepacket14Decoder(uint32_t version);
std::unique_ptr<LayeredItemEncoder> MakeWavepacket14Encoder(uint32_t version);

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
