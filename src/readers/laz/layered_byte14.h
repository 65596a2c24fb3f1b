#ifndef VORLIN_READERS_LAZ_LAYERED_BYTE14_H
#define VORLIN_READERS_LAZ_LAYERED_BYTE14_H

// The layered extra-bytes item: each byte its own layer, coded as its change
// from the channel's previous record.

#include <memory>

#include "readers/laz/layered_item.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

std::unique_ptr<LayeredItemDecoder> MakeByte14Decoder(uint32_t count, uint32_t version);
std::unique_ptr<LayeredItemEncoder> MakeByte14Encoder(uint32_t count, uint32_t version);

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
