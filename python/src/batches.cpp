#include <limits.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "bindings.h"
#include "points.h"
#include "query.h"

namespace py = pybind11;
using namespace Zelvane::Vorlin;

namespace vorlin {
namespace python {
namespace {

template <typename Handle>
struct Releaser {
  void operator()(Handle* h) const { h->release(); }
};

// The iterator behind Query.batches(). Keeps its query (and so the engine)
// alive; every step locks the engine with the GIL released.
class Batches {
 public:
  Batches(py::object queryObject, unsigned long long size, bool cursor, unsigned long long count)
      : m_queryObject(std::move(queryObject)),
        m_query(m_queryObject.cast<Query*>()),
        m_cursor(cursor),
        m_size(size) {
    m_wanted = std::min(count, m_query->visiblePoints());
    m_callSize = std::min<unsigned long long>(m_size, std::max<unsigned long long>(m_wanted, 1));
    // A cursor call can come back empty while cells whose share is below one
    // record save up fractions; the largest share is at least callSize over
    // the visible cells, so that many empty calls in a row mean the end.
    const double calls = std::ceil(double(m_query->visiblePoints()) / double(m_callSize));
    m_emptyLimit = int(std::min(200.0, calls)) + 1;
  }

  py::array next() {
    if (m_busy) throw py::value_error("this batches iterator is in use by another thread");
    m_busy = true;
    struct Idle {
      bool& busy;
      ~Idle() { busy = false; }
    } idle{m_busy};
    while (!m_done && m_taken < m_wanted) {
      const unsigned long long size =
          m_cursor ? m_callSize : std::min<unsigned long long>(m_size, m_wanted - m_taken);
      FetchArray array(size_t(size), m_query->state()->buffers);
      unsigned int taken = 0;
      size_t accepted = 0;
      {
        py::gil_scoped_release unlocked;
        EngineState& state = *m_query->state();
        std::lock_guard<std::mutex> lock(state.mutex);
        RequireOpen(state, m_query->generation());
        taken = Fetch(*state.engine, array.records(), unsigned(size));
        accepted = m_query->clipped() ? AcceptedPrefix(array.records(), taken) : taken;
        accepted = size_t(std::min<unsigned long long>(accepted, m_wanted - m_delivered));
        array.ConvertInPlace(accepted, state.centre);
      }
      if (!m_set && !m_cursorHandle) m_done = true;  // nothing visible
      if (taken == 0) {
        if (!m_cursor || ++m_emptyRounds >= m_emptyLimit) m_done = true;
        continue;
      }
      m_emptyRounds = 0;
      m_taken += taken;
      m_delivered += accepted;
      if (accepted > 0) return array.Finish(accepted);
    }
    m_done = true;
    throw py::stop_iteration();
  }

 private:
  unsigned int Fetch(QvVorlin& engine, CellPoint* buffer, unsigned int size) {
    IPointCloudQuery* query = m_query->handle();
    if (m_cursor) {
      if (m_cursorHandle) return engine.getCursorPoints(query, buffer, size, m_cursorHandle.get());
      IPointCloudCursor* cursor = nullptr;
      unsigned int n = engine.createCursor(query, buffer, size, &cursor);
      m_cursorHandle.reset(cursor);
      return n;
    }
    if (m_set) return engine.getPointSetPoints(query, buffer, size, m_set.get());
    IPointSetData* set = nullptr;
    unsigned int n = engine.createPointSet(query, buffer, size, m_wanted, &set);
    m_set.reset(set);
    return n;
  }

  py::object m_queryObject;
  Query* m_query;
  bool m_cursor;
  unsigned long long m_size;
  unsigned long long m_wanted = 0;
  unsigned long long m_callSize = 1;
  unsigned long long m_taken = 0;      // records the library took
  unsigned long long m_delivered = 0;  // records handed out
  int m_emptyRounds = 0;
  int m_emptyLimit = 1;
  bool m_done = false;
  bool m_busy = false;
  std::unique_ptr<IPointSetData, Releaser<IPointSetData>> m_set;
  std::unique_ptr<IPointCloudCursor, Releaser<IPointCloudCursor>> m_cursorHandle;
};

}  // namespace

py::object MakeBatches(const py::object& query, unsigned long long size, const std::string& mode,
                       const py::object& count) {
  if (size == 0 || size > UINT_MAX) throw py::value_error("size must be from 1 to 4294967295");
  if (mode != "cursor" && mode != "set") throw py::value_error("mode must be 'cursor' or 'set'");
  Query* q = query.cast<Query*>();
  {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(q->state()->mutex);
    RequireOpen(*q->state(), q->generation());
  }
  const unsigned long long wanted = CountArgument(count, q->visiblePoints(), "count");
  return py::cast(Batches(query, size, mode == "cursor", wanted));
}

void RegisterBatches(py::module_& m) {
  py::class_<Batches>(m, "Batches",
                      "Iterator of point arrays made by Query.batches(); one thread at a time.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &Batches::next);
}

}  // namespace python
}  // namespace vorlin
