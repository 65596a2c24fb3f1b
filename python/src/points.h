#ifndef VORLIN_PYTHON_POINTS_H
#define VORLIN_PYTHON_POINTS_H

#include <stddef.h>
#include <stdint.h>

#include <pybind11/numpy.h>

#include "vorlin/cell_point.h"

namespace vorlin {
namespace python {

// One element of vorlin.POINT_DTYPE: world coordinates, colour and
// attributes unpacked. numpy's aligned layout of the same fields.
struct WorldPoint {
  double x, y, z;
  uint8_t red, green, blue, intensity, custom;
  uint8_t padding;
  uint16_t normal;
};
static_assert(sizeof(WorldPoint) == 32, "numpy's aligned record is 32 bytes");
static_assert(offsetof(WorldPoint, red) == 24 && offsetof(WorldPoint, custom) == 28 &&
                  offsetof(WorldPoint, normal) == 30,
              "numpy's aligned field offsets");

pybind11::dtype PointDtype();

// A point array of capacity records whose memory also holds capacity
// CellPoint records at its end: the library fills those, then
// ConvertInPlace turns the first count of them into WorldPoints at the
// front. Records are read before the slot is overwritten, and record i's
// output ends where record i + 1's input begins, so nothing is lost.
class FetchArray {
 public:
  explicit FetchArray(size_t capacity);  // needs the GIL
  Zelvane::Vorlin::CellPoint* records() { return m_records; }
  size_t capacity() const { return m_capacity; }
  // No GIL needed.
  void ConvertInPlace(size_t count, const double centre[3]);
  // Shrinks to count records and hands the array over; needs the GIL.
  pybind11::array Finish(size_t count);

 private:
  pybind11::array m_array;
  size_t m_capacity;
  Zelvane::Vorlin::CellPoint* m_records;
};

}  // namespace python
}  // namespace vorlin

#endif
