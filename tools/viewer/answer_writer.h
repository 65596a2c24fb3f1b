#ifndef VORLIN_VIEWER_ANSWER_WRITER_H
#define VORLIN_VIEWER_ANSWER_WRITER_H

// Packs engine records into the viewer's binary answer (layout described at
// kAnswerHeaderBytes in view_service.h), straight into one block whose
// storage can be reused from answer to answer: on this kind of machine the
// first touch of fresh pages costs more than filling them. Single-threaded.

#include <stdint.h>

#include <string>

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
  // Room for capacity points; storage is taken over (its contents dropped)
  // so that memory of an earlier answer serves again.
  AnswerWriter(size_t capacity, std::string storage = std::string());

  // Records are offsets from their file's centre; shift is that centre minus
  // the scene's, so that every tile lands in one frame. Records with a NaN
  // position (clipped fillers) and any beyond the capacity are dropped.
  void Add(const double shift[3], uint8_t tile, const Zelvane::Vorlin::CellPoint* records,
           size_t count);
  size_t count() const { return m_count; }
  // The whole answer; the writer is spent afterwards.
  std::string Finish(const AnswerHeader& header);

 private:
  std::string m_out;
  size_t m_capacity;
  size_t m_count = 0;
};

}  // namespace viewer
}  // namespace vorlin

#endif
