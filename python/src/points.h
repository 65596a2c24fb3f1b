#ifndef VORLIN_PYTHON_POINTS_H
#define VORLIN_PYTHON_POINTS_H

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include <pybind11/numpy.h>

#include "buffer_pool.h"

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

// Memory for up to capacity points, which also holds capacity CellPoint
// records at its end: the library fills those, then ConvertInPlace turns the
// first count of them into WorldPoints at the front. Each record is read
// before its slot is overwritten, and record i's output ends where record
// i + 1's input begins, so nothing is lost. Only Finish needs the GIL.
class FetchArray {
 public:
  FetchArray(size_t capacity, std::shared_ptr<BufferPool> pool);
  ~FetchArray();
  FetchArray(const FetchArray&) = delete;
  FetchArray& operator=(const FetchArray&) = delete;

  Zelvane::Vorlin::CellPoint* records() { return m_records; }
  void ConvertInPlace(size_t count, const double centre[3]);
  // A numpy array of the first count points that owns the memory.
  pybind11::array Finish(size_t count);

 private:
  std::shared_ptr<BufferPool> m_pool;
  void* m_data = nullptr;
  size_t m_bytes = 0;
  Zelvane::Vorlin::CellPoint* m_records = nullptr;
};

}  // namespace python
}  // namespace vorlin

#endif
