#include "points.h"

#include <string.h>

#include <vector>

#include "bindings.h"

namespace py = pybind11;
using Zelvane::Vorlin::CellPoint;

namespace vorlin {
namespace python {
namespace {

// Kept for the life of the process, like the exception type.
py::handle g_dtype;

}  // namespace

py::dtype PointDtype() { return py::reinterpret_borrow<py::dtype>(g_dtype); }

FetchArray::FetchArray(size_t capacity) : m_capacity(capacity) {
  m_array = py::array(PointDtype(), std::vector<py::ssize_t>{py::ssize_t(capacity)});
  char* base = static_cast<char*>(m_array.mutable_data());
  m_records = reinterpret_cast<CellPoint*>(base + capacity * (sizeof(WorldPoint) - sizeof(CellPoint)));
}

void FetchArray::ConvertInPlace(size_t count, const double centre[3]) {
  WorldPoint* out = static_cast<WorldPoint*>(m_array.mutable_data());
  const CellPoint* in = m_records;
  const double cx = centre[0], cy = centre[1], cz = centre[2];
  for (size_t i = 0; i < count; ++i) {
    CellPoint p;
    memcpy(&p, in + i, sizeof p);
    WorldPoint w;
    w.x = double(p.x) + cx;
    w.y = double(p.y) + cy;
    w.z = double(p.z) + cz;
    w.red = uint8_t(p.color >> 16);
    w.green = uint8_t(p.color >> 8);
    w.blue = uint8_t(p.color);
    w.intensity = uint8_t(p.color >> 24);
    w.custom = p.customAttribute;
    w.padding = 0;
    w.normal = p.normalIndex;
    memcpy(out + i, &w, sizeof w);
  }
}

py::array FetchArray::Finish(size_t count) {
  if (count != m_capacity) m_array.resize({py::ssize_t(count)}, false);
  return std::move(m_array);
}

void RegisterPoints(py::module_& m) {
  py::list fields;
  const char* names[] = {"x", "y", "z", "red", "green", "blue", "intensity", "custom", "normal"};
  const char* types[] = {"<f8", "<f8", "<f8", "u1", "u1", "u1", "u1", "u1", "<u2"};
  for (int i = 0; i < 9; ++i) fields.append(py::make_tuple(names[i], types[i]));
  py::object dtype = py::module_::import("numpy").attr("dtype")(fields, py::arg("align") = true);
  if (dtype.attr("itemsize").cast<size_t>() != sizeof(WorldPoint) ||
      dtype.attr("fields")["normal"][py::int_(1)].cast<size_t>() != offsetof(WorldPoint, normal)) {
    throw std::runtime_error("numpy lays out the point record differently than expected");
  }
  g_dtype = dtype.release();
  m.attr("POINT_DTYPE") = PointDtype();
}

}  // namespace python
}  // namespace vorlin
