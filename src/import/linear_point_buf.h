#ifndef VORLIN_IMPORT_LINEAR_POINT_BUF_H
#define VORLIN_IMPORT_LINEAR_POINT_BUF_H

#include <stdint.h>

#include "vorlin/cell_point.h"

using Zelvane::Vorlin::CellPoint;

// A sequential stream of records with a cursor; the ordering reads a cell's
// records through it and writes them back.
class LinearPointBuf {
 public:
  virtual ~LinearPointBuf() = default;
  virtual void Rewind() = 0;
  virtual void WritePoint(const CellPoint& point) = 0;
  virtual void ReadPoint(CellPoint& point) = 0;
  // True once a read or write of the backing store failed or came short;
  // the records read since are not the cell's.
  virtual bool Failed() const { return false; }
};

// Over a caller-owned array; the caller never passes more records than the
// array holds.
class LinearPointMemoryBuf : public LinearPointBuf {
 public:
  explicit LinearPointMemoryBuf(CellPoint* records) : m_records(records) {}
  void Rewind() override { m_index = 0; }
  void WritePoint(const CellPoint& point) override { m_records[m_index++] = point; }
  void ReadPoint(CellPoint& point) override { point = m_records[m_index++]; }
  CellPoint* records() const { return m_records; }

 private:
  CellPoint* m_records;
  uint64_t m_index = 0;
};

#endif
