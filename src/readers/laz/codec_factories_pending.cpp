// Placeholder factories until the item codecs join this branch: every item
// list is unknown, so compressed files do not open and nothing compresses.
#include "readers/laz/laz_codec.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

std::unique_ptr<ChunkDecoder> MakePointwiseDecoder(const std::vector<Item>&) { return nullptr; }
std::unique_ptr<ChunkEncoder> MakePointwiseEncoder(const std::vector<Item>&) { return nullptr; }
std::unique_ptr<ChunkDecoder> MakeLayeredDecoder(const std::vector<Item>&) { return nullptr; }
std::unique_ptr<ChunkEncoder> MakeLayeredEncoder(const std::vector<Item>&) { return nullptr; }

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
