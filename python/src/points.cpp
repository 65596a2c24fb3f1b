#include "points.h"

#include <stdlib.h>
#include <string.h>

#include <memory>
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

FetchArray::FetchArray(size_t capacity, std::shared_ptr<BufferPool> pool)
    : m_pool(std::move(pool)) {
  m_data = m_pool->Take(capacity * sizeof(WorldPoint), &m_bytes);
  m_records = reinterpret_cast<CellPoint*>(static_cast<char*>(m_data) +
                                           capacity * (sizeof(WorldPoint) - sizeof(CellPoint)));
}

FetchArray::~FetchArray() {
  if (m_data) m_pool->Give(m_data, m_bytes);
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the attribute bytes are stored as one little-endian word");

void FetchArray::ConvertInPlace(size_t count, const double centre[3]) {
  char* out = static_cast<char*>(m_data);
  const char* in = reinterpret_cast<const char*>(m_records);
  const double cx = centre[0], cy = centre[1], cz = centre[2];
  for (size_t i = 0; i < count; ++i) {
    CellPoint p;
    memcpy(&p, in + i * sizeof(CellPoint), sizeof p);
    const double xyz[3] = {double(p.x) + cx, double(p.y) + cy, double(p.z) + cz};
    // red, green, blue, intensity, custom, padding, normal as one word:
    // the colour word holds blue, green, red, intensity from its low byte.
    const uint32_t c = p.color;
    const uint64_t tail = uint64_t(((c >> 16) & 0xFFu) | (c & 0xFF00u) | ((c & 0xFFu) << 16) |
                                   (c & 0xFF000000u)) |
                          (uint64_t(p.customAttribute) << 32) | (uint64_t(p.normalIndex) << 48);
    memcpy(out + i * sizeof(WorldPoint), xyz, sizeof xyz);
    memcpy(out + i * sizeof(WorldPoint) + offsetof(WorldPoint, red), &tail, sizeof tail);
  }
}

namespace {

// What a point array's capsule owns: the memory, handed back to the pool of
// its cloud if the cloud is still there.
struct ArrayMemory {
  void* data;
  size_t bytes;
  std::weak_ptr<BufferPool> pool;
};

}  // namespace

py::array FetchArray::Finish(size_t count) {
  std::unique_ptr<ArrayMemory> memory(new ArrayMemory{m_data, m_bytes, m_pool});
  py::capsule owner(memory.get(), [](void* p) {
    std::unique_ptr<ArrayMemory> memory(static_cast<ArrayMemory*>(p));
    if (std::shared_ptr<BufferPool> pool = memory->pool.lock()) {
      pool->Give(memory->data, memory->bytes);
    } else {
      free(memory->data);
    }
  });
  memory.release();
  void* data = m_data;
  m_data = nullptr;
  return py::array(PointDtype(), std::vector<py::ssize_t>{py::ssize_t(count)}, {}, data, owner);
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
