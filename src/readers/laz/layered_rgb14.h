#ifndef VORLIN_READERS_LAZ_LAYERED_RGB14_H
#define VORLIN_READERS_LAZ_LAYERED_RGB14_H

// The layered colour items: RGB (6 bytes, one layer) and RGB+NIR (8 bytes,
// a colour layer and a NIR layer).

#include <memory>

#include "readers/laz/layered_item.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

std::unique_ptr<LayeredItemDecoder> MakeRgb14Decoder(bool nir, uint32_t version);
std::unique_ptr<LayeredItemEncoder> MakeRgb14Encoder(bool nir, uint32_t version);

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
