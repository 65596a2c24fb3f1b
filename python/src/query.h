#ifndef VORLIN_PYTHON_QUERY_H
#define VORLIN_PYTHON_QUERY_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "cloud.h"
#include "vorlin/vorlin.h"

namespace vorlin {
namespace python {

// What a query looks at, checked and in world coordinates.
struct FilterChoice {
  enum Kind { kAll, kBox, kFrustum } kind = kAll;
  double values[24] = {};  // box: min and max corners; frustum: eight corners
  bool nearClip = true;
  bool farClip = true;
};

// A query handle of one engine generation. Fetches lock the engine and
// release the GIL; a query whose cloud has closed raises ValueError.
class Query {
 public:
  static Query Create(const EngineRef& state, const FilterChoice& choice, bool clip);

  Query(Query&&) = default;
  ~Query();

  unsigned long long visiblePoints() const { return m_visible; }
  unsigned long long totalPoints() const { return m_total; }
  bool clipped() const { return m_clipped; }
  const EngineRef& state() const { return m_state; }
  uint64_t generation() const { return m_generation; }
  Zelvane::Vorlin::IPointCloudQuery* handle() const { return m_handle.get(); }

  // count None: every visible point.
  pybind11::array points(const pybind11::object& count);
  // The library's own fetch into a record buffer kept between calls, without
  // conversion: what a C++ host pays. For benchmarks.
  unsigned int rawFetch(unsigned long long count);

 private:
  struct Release {
    void operator()(Zelvane::Vorlin::IPointCloudQuery* q) const { q->release(); }
  };
  Query(EngineRef state, uint64_t generation) : m_state(std::move(state)), m_generation(generation) {}

  EngineRef m_state;
  uint64_t m_generation;
  std::unique_ptr<Zelvane::Vorlin::IPointCloudQuery, Release> m_handle;
  unsigned long long m_visible = 0;
  unsigned long long m_total = 0;
  bool m_clipped = false;
  std::vector<Zelvane::Vorlin::CellPoint> m_rawBuffer;
};

// Query.batches(size, mode, count): an iterator of point arrays (batches.cpp).
pybind11::object MakeBatches(const pybind11::object& query, unsigned long long size,
                             const std::string& mode, const pybind11::object& count);

// Leading records of a batch that passed the filters (the rest of what the
// library took are NaN fillers).
size_t AcceptedPrefix(const Zelvane::Vorlin::CellPoint* records, size_t taken);

// A count argument: None means fallback; negative raises ValueError.
unsigned long long CountArgument(const pybind11::object& count, unsigned long long fallback,
                                 const char* name);

}  // namespace python
}  // namespace vorlin

#endif
