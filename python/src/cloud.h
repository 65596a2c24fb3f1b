#ifndef VORLIN_PYTHON_CLOUD_H
#define VORLIN_PYTHON_CLOUD_H

#include <stdint.h>

#include <memory>
#include <mutex>
#include <string>

#include "buffer_pool.h"
#include "vorlin/vorlin.h"

namespace vorlin {
namespace python {

// One engine and the file open in it, shared by the Cloud object and every
// query, point set and cursor made from it, so that none of them outlives
// the engine. The engine takes one caller at a time: every use holds mutex,
// which is always taken with the GIL released (a waiting thread must not
// hold the GIL that the holder may need to return).
struct EngineState {
  // maxOpenTiles 0: an engine for one file; otherwise a dataset reading at
  // most that many tiles at once.
  explicit EngineState(unsigned maxOpenTiles = 0);
  ~EngineState();
  EngineState(const EngineState&) = delete;
  EngineState& operator=(const EngineState&) = delete;

  std::mutex mutex;
  Zelvane::Vorlin::QvVorlin* engine;
  Zelvane::Vorlin::VorlinDataset* dataset = nullptr;  // engine, when it is a dataset
  bool open = false;
  // Grows at every close; a handle made under another generation is stale.
  uint64_t generation = 0;
  double centre[3] = {0, 0, 0};
  std::string path;
  std::shared_ptr<BufferPool> buffers = std::make_shared<BufferPool>();
};

using EngineRef = std::shared_ptr<EngineState>;

// Raises ValueError unless the engine still has the file of generation open.
// Call with mutex held.
void RequireOpen(const EngineState& state, uint64_t generation);

}  // namespace python
}  // namespace vorlin

#endif
