#include "query.h"

#include <limits.h>

#include <cmath>
#include <new>

#include "bindings.h"
#include "errors.h"
#include "points.h"

namespace py = pybind11;
using namespace Zelvane::Vorlin;

namespace vorlin {
namespace python {
namespace {

struct FilterOwner {
  IPointCloudFilter* filter = nullptr;
  ~FilterOwner() {
    if (filter) filter->release();
  }
};

IPointCloudFilter* MakeFilter(QvVorlin& engine, const FilterChoice& choice, const double centre[3]) {
  switch (choice.kind) {
    case FilterChoice::kAll:
      return nullptr;
    case FilterChoice::kBox:
      return createBoxFilter(&choice.values[0], &choice.values[3], centre);
    case FilterChoice::kFrustum: {
      VorlinViewFrustum view;
      const double* c = choice.values;
      view.setNearUpperRight(c[0], c[1], c[2]);
      view.setNearUpperLeft(c[3], c[4], c[5]);
      view.setNearLowerLeft(c[6], c[7], c[8]);
      view.setNearLowerRight(c[9], c[10], c[11]);
      view.setFarUpperRight(c[12], c[13], c[14]);
      view.setFarUpperLeft(c[15], c[16], c[17]);
      view.setFarLowerLeft(c[18], c[19], c[20]);
      view.setFarLowerRight(c[21], c[22], c[23]);
      view.setNearClip(choice.nearClip);
      view.setFarClip(choice.farClip);
      return engine.createViewFrustumFilter(view);
    }
  }
  return nullptr;
}

}  // namespace

unsigned long long CountArgument(const py::object& count, unsigned long long fallback,
                                 const char* name) {
  if (count.is_none()) return fallback;
  if (!py::isinstance<py::int_>(count) && !py::hasattr(count, "__index__")) {
    throw py::type_error(std::string(name) + " must be a whole number or None");
  }
  py::int_ value(count);
  if (value < py::int_(0)) throw py::value_error(std::string(name) + " must not be negative");
  if (value > py::int_(ULLONG_MAX)) return ULLONG_MAX;
  return value.cast<unsigned long long>();
}

size_t AcceptedPrefix(const CellPoint* records, size_t taken) {
  size_t n = 0;
  while (n < taken && !std::isnan(records[n].x)) ++n;
  return n;
}

Query Query::Create(const EngineRef& state, const FilterChoice& choice, bool clip) {
  py::gil_scoped_release unlocked;
  std::lock_guard<std::mutex> lock(state->mutex);
  RequireOpen(*state, state->generation);
  Query query(state, state->generation);
  QvVorlin& engine = *state->engine;
  FilterOwner filter;
  filter.filter = MakeFilter(engine, choice, state->centre);
  if (choice.kind != FilterChoice::kAll && !filter.filter) throw std::bad_alloc();
  query.m_handle.reset(engine.createQuery(filter.filter, clip));
  if (!query.m_handle) throw std::bad_alloc();
  engine.getQueryCounts(query.m_handle.get(), query.m_visible, query.m_total);
  query.m_clipped = clip && filter.filter;
  return query;
}

Query::~Query() = default;

py::array Query::points(const py::object& countObject) {
  unsigned long long count = std::min(CountArgument(countObject, m_visible, "count"), m_visible);
  if (count > UINT_MAX) {
    throw py::value_error("more than " + std::to_string(UINT_MAX) +
                          " points in one array: use batches()");
  }
  FetchArray array(size_t(count), m_state->buffers);
  unsigned int got = 0;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    RequireOpen(*m_state, m_generation);
    if (count > 0) got = m_state->engine->getPoints(m_handle.get(), array.records(), unsigned(count));
    array.ConvertInPlace(got, m_state->centre);
  }
  // Without clipping every request of a positive count delivers.
  if (got == 0 && count > 0 && !m_clipped) {
    RaiseVorlinError("reading the point records of '" + m_state->path + "' failed (damaged file?)");
  }
  return array.Finish(got);
}

unsigned int Query::rawFetch(unsigned long long count) {
  if (count > UINT_MAX) throw py::value_error("count too large");
  py::gil_scoped_release unlocked;
  std::lock_guard<std::mutex> lock(m_state->mutex);
  RequireOpen(*m_state, m_generation);
  if (m_rawBuffer.size() < count) m_rawBuffer.resize(size_t(count));
  return count ? m_state->engine->getPoints(m_handle.get(), m_rawBuffer.data(), unsigned(count)) : 0;
}

void RegisterQuery(py::module_& m) {
  py::class_<Query>(m, "Query",
                    "The cells a region sees in one open cloud; made by Cloud.query(). "
                    "Fetches release the GIL.")
      .def_property_readonly("visible_points", &Query::visiblePoints,
                             "Points in the cells the region sees (before clipping).")
      .def_property_readonly("total_points", &Query::totalPoints, "Points in the whole file.")
      .def("points", &Query::points, py::arg("count") = py::none(),
           "An even level-of-detail sample of about count points (default: every visible "
           "point) as a numpy array of vorlin.POINT_DTYPE: x, y, z (float64 world "
           "coordinates), red, green, blue, intensity, custom (uint8), normal (uint16 code; "
           "4095: none).")
      .def("_raw_fetch", &Query::rawFetch, py::arg("count"),
           "The library's own fetch of count records into a buffer kept by the query, without "
           "making an array; returns the count. For comparing speed.")
      .def("batches", [](py::object self, unsigned long long size, const std::string& mode, const py::object& count) { return MakeBatches(self, size, mode, count); }, py::arg("size"), py::arg("mode") = "cursor",
           py::arg("count") = py::none(),
           "Iterates over point arrays of at most size points. mode='cursor': successive "
           "refinements, each an even sample of what is still missing; mode='set': one "
           "sample of count points (default: every visible point), delivered cell by cell. A "
           "cursor can end before every visible point has come (the library's refinements "
           "stop once the cells with points left follow used-up ones in grid order); a set "
           "delivers them all.")
      .def("__repr__", [](const Query& q) {
        return "<vorlin.Query " + std::to_string(q.visiblePoints()) + " of " +
               std::to_string(q.totalPoints()) + " points visible>";
      });
}

}  // namespace python
}  // namespace vorlin
