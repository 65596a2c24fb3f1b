#ifndef VORLIN_VIEWER_ANSWER_WRITER_H
#define VORLIN_VIEWER_ANSWER_WRITER_H

// Packs engine records into the viewer's binary answer (layout described at
// kAnswerHeaderBytes in view_service.h). Single-threaded; owns its buffers.

#include <stdint.h>

#include <string>
#include <vector>

#include "vorlin/cell_point.h"

namespace vorlin {
namespace viewer {

struct AnswerHeader {
  uint32_t seq = 0;
  bool complete = false;
  uint64_t visiblePoints = 0;
  uint64_t target = 0;
  uint64_t delivered = 0;
  uint32_t visibleCells = 0;
};

class AnswerWriter {
 public:
  // Records are offsets from their file's centre; shift is that centre minus
  // the scene's, so that every tile lands in one frame.
  void Add(const double shift[3], uint8_t tile, const Zelvane::Vorlin::CellPoint* records,
           size_t count);
  size_t count() const { return m_colours.size(); }
  // The whole answer; the writer is empty afterwards.
  std::string Finish(const AnswerHeader& header);

 private:
  std::vector<float> m_positions;
  std::vector<uint32_t> m_colours;
  std::vector<uint8_t> m_custom;
  std::vector<uint8_t> m_tiles;
};

}  // namespace viewer
}  // namespace vorlin

#endif
