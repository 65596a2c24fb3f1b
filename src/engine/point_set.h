#ifndef VORLIN_ENGINE_POINT_SET_H
#define VORLIN_ENGINE_POINT_SET_H

#include <stdint.h>

#include "vorlin/query.h"

// A fixed sample of about N records handed out in buffer-sized batches, cell
// by cell in grid order (x outermost), resuming inside a cell where the
// previous batch ended.
class PointSetData : public Zelvane::Vorlin::IPointSetData {
 public:
  PointSetData() = default;
  void release() override { delete this; }

  uint64_t cellBytePosition = 0;  // bytes of the current cell already delivered
  double ratio = 0.0;             // N / LOD sum
  double surplus = 0.0;           // share cells were short of, still to hand on
  double lodLeft = 0.0;           // LOD of the visible cells not yet finished
  uint32_t cellRecordsTaken = 0;  // records of the current cell already delivered
  int32_t x = 0, y = 0, z = 0;    // current cell

 protected:
  virtual ~PointSetData() = default;
};

#endif
