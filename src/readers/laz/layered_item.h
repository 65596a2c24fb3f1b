#ifndef VORLIN_READERS_LAZ_LAYERED_ITEM_H
#define VORLIN_READERS_LAZ_LAYERED_ITEM_H

// The pieces a layered chunk is made of. Each item of a record (point, colour,
// extra bytes, waveform packet) codes its fields into one or more layers, each
// layer its own arithmetic-coded stream, so a reader can skip what it does not
// need. The point item decides which of up to four scanner-channel contexts
// the record belongs to and passes it on to the items after it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "readers/laz/layered_coder.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

// A layer's compressed bytes inside the chunk; size 0 means the layer's
// fields never change within the chunk.
struct LayerBytes {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};

constexpr uint32_t kChannelContexts = 4;

// Decodes one item of every record after a chunk's first. Not thread-safe.
class LayeredItemDecoder {
 public:
  virtual ~LayeredItemDecoder() = default;
  virtual uint32_t layerCount() const = 0;
  // first: the item's bytes in the chunk's raw first record. layers: this
  // item's layerCount() layers, valid until the next begin. context: the
  // scanner channel of the first record, set by the point item.
  virtual void begin(const uint8_t* first, const LayerBytes* layers, uint32_t& context) = 0;
  virtual void decode(uint8_t* out, uint32_t& context) = 0;
  // True once any layer was read past its end.
  virtual bool overrun() const = 0;
};

// Encodes one item of every record. Not thread-safe.
class LayeredItemEncoder {
 public:
  virtual ~LayeredItemEncoder() = default;
  virtual uint32_t layerCount() const = 0;
  virtual void begin(const uint8_t* first, uint32_t& context) = 0;
  virtual void encode(const uint8_t* in, uint32_t& context) = 0;
  // Ends the chunk's layers; layer(i) then holds layer i's bytes (empty for
  // a layer left out because it never changed).
  virtual void finish() = 0;
  virtual const std::vector<uint8_t>& layer(uint32_t i) const = 0;
};

// An adaptive model created on first use and reset when first used after
// its context was (re)started (generation counts the starts); most of them
// are never touched in a chunk.
struct LazyModel {
  std::unique_ptr<ArithmeticModel> model;
  uint32_t generation = 0;

  ArithmeticModel& use(uint32_t contextGeneration, uint32_t symbols, bool compress) {
    if (!model) model.reset(new ArithmeticModel(symbols, compress));
    if (generation != contextGeneration) {
      model->reset();
      generation = contextGeneration;
    }
    return *model;
  }
};

// Chooses the context whose previous record predicts the next one, after the
// point item said which scanner channel the record belongs to. Version 3
// keeps predicting from the channel it came from when it returns to a channel
// already seen in the chunk; version 4 switches fully. initContext(to, from)
// starts an unseen channel from another channel's previous record.
template <class InitContext>
uint32_t SwitchChannel(uint32_t& current, uint32_t context, const bool* used, uint32_t version,
                       InitContext&& initContext) {
  uint32_t predictor = current;
  if (context == current) return predictor;
  current = context;
  if (!used[current]) {
    initContext(current, predictor);
    return current;
  }
  return version >= 4 ? current : predictor;
}

// Adds modulo 256, as the colour and byte items code their differences.
inline uint8_t AddFolded(uint32_t a, uint32_t b) { return uint8_t(a + b); }

// Clamps a predicted byte value into 0..255.
inline uint32_t ClampByte(int32_t v) { return v <= 0 ? 0u : (v >= 255 ? 255u : uint32_t(v)); }

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
