#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "bindings.h"
#include "errors.h"
#include "paths.h"
#include "points.h"
#include "vorlin/las_source.h"

namespace py = pybind11;
using namespace Zelvane::Vorlin;

namespace vorlin {
namespace python {
namespace {

constexpr size_t kIterationChunk = 65536;

// A LAS or LAZ source read in chunks. The reader serves one thread at a
// time, and reads run with the GIL released, so a mutex keeps threads that
// share one Source apart.
class Source {
 public:
  explicit Source(const py::object& pathObject) : m_path(ToPath(pathObject, "source")) {
    if (!PathExists(m_path) || IsDirectory(m_path)) {
      PyErr_SetObject(PyExc_FileNotFoundError,
                      py::make_tuple(2, IsDirectory(m_path) ? "is a folder" : "no such file", m_path.text)
                          .ptr());
      throw py::error_already_set();
    }
    if (!m_reader.Open(m_path.wide.c_str())) {
      RaiseVorlinError(Quoted(m_path) + ": " + m_reader.lastError(), StatusName(OpenFailed));
    }
  }

  const LasSourceInfo& info() const { return m_reader.info(); }
  const std::string& path() const { return m_path.text; }
  bool exhausted() const { return m_done; }

  // Up to count further points as POINT_DTYPE; empty at the end.
  py::array Read(size_t count) {
    const uint64_t left = info().presentCount - m_delivered;
    if (count > left) count = size_t(left);
    py::array out(PointDtype(), std::vector<py::ssize_t>{py::ssize_t(count)});
    WorldPoint* points = static_cast<WorldPoint*>(out.mutable_data());
    size_t got = 0;
    std::string error;
    {
      py::gil_scoped_release unlocked;
      std::lock_guard<std::mutex> lock(m_mutex);
      try {
        for (; got < count && !m_done; ++got) {
          WorldPoint& p = points[got];
          float nx, ny, nz;
          const bool ok = m_delivered == 0
                              ? m_reader.ReadFirstPointEx(p.x, p.y, p.z, p.red, p.green, p.blue,
                                                          p.intensity, nx, ny, nz, p.custom)
                              : m_reader.ReadNextPointEx(p.x, p.y, p.z, p.red, p.green, p.blue,
                                                         p.intensity, nx, ny, nz, p.custom);
          if (!ok) {
            m_done = true;
            break;
          }
          p.padding = 0;
          p.normal = 0;
          ++m_delivered;
        }
      } catch (const SourceReadError& e) {
        m_done = true;
        error = e.what();
      }
    }
    if (!error.empty()) RaiseVorlinError(Quoted(m_path) + ": " + error, StatusName(ReadFailed));
    if (m_delivered >= info().presentCount) m_done = true;
    return out[py::slice(0, py::ssize_t(got), 1)];
  }

 private:
  Path m_path;
  SourceReader m_reader;
  std::mutex m_mutex;
  uint64_t m_delivered = 0;
  bool m_done = false;
};

py::tuple Triple(const double v[3]) { return py::make_tuple(v[0], v[1], v[2]); }

}  // namespace

void RegisterSource(py::module_& m) {
  py::class_<Source>(m, "Source",
                     "A LAS (1.0 to 1.4, point formats 0 to 10) or LAZ file: its header facts "
                     "and its points in chunks. Raises FileNotFoundError, or VorlinError when the "
                     "file is not LAS or LAZ that can be read.")
      .def(py::init<const py::object&>(), py::arg("path"))
      .def_property_readonly("path", &Source::path)
      .def_property_readonly("version", [](const Source& s) {
        return std::to_string(s.info().versionMajor) + "." + std::to_string(s.info().versionMinor);
      })
      .def_property_readonly("point_format", [](const Source& s) { return s.info().pointFormat; })
      .def_property_readonly("record_length", [](const Source& s) { return s.info().recordLength; })
      .def_property_readonly("announced_count", [](const Source& s) { return s.info().announcedCount; })
      .def_property_readonly("present_count", [](const Source& s) { return s.info().presentCount; })
      .def_property_readonly("truncated", [](const Source& s) { return s.info().truncated; })
      .def_property_readonly("bounds", [](const Source& s) {
        const LasSourceInfo& i = s.info();
        return py::make_tuple(i.min[0], i.min[1], i.min[2], i.max[0], i.max[1], i.max[2]);
      })
      .def_property_readonly("scale", [](const Source& s) { return Triple(s.info().scale); })
      .def_property_readonly("offset", [](const Source& s) { return Triple(s.info().offset); })
      .def_property_readonly("compressed",
                             [](const Source& s) { return s.info().compression != LasCompression::None; })
      .def_property_readonly("georeferencing", [](const Source& s) -> py::object {
        if (s.info().georeferencingKind.empty()) return py::none();
        return py::make_tuple(s.info().georeferencingKind, s.info().georeferencing);
      })
      .def("read", &Source::Read, py::arg("count"),
           "Up to count further points as a POINT_DTYPE array (normal is 0); empty at the end.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", [](Source& s) {
        py::array chunk = s.Read(kIterationChunk);
        if (chunk.size() == 0) throw py::stop_iteration();
        return chunk;
      });
}

}  // namespace python
}  // namespace vorlin
