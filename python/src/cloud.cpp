#include "cloud.h"

#include <limits.h>

#include <cmath>
#include <new>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "bindings.h"
#include "errors.h"
#include "paths.h"
#include "query.h"

namespace py = pybind11;
using namespace Zelvane::Vorlin;

namespace vorlin {
namespace python {

EngineState::EngineState(unsigned maxOpenTiles)
    : engine(maxOpenTiles ? VorlinDataset::createDataset(maxOpenTiles) : QvVorlin::create()) {
  if (!engine) throw std::bad_alloc();
  if (maxOpenTiles) dataset = static_cast<VorlinDataset*>(engine);
}

EngineState::~EngineState() { QvVorlin::destroy(engine); }

void RequireOpen(const EngineState& state, uint64_t generation) {
  if (!state.open) throw py::value_error("the cloud is closed");
  if (state.generation != generation) throw py::value_error("the query belongs to a cloud that was closed");
}

namespace {

class Cloud {
 public:
  Cloud(const py::object& file, long long preload, unsigned maxOpenTiles = 0)
      : m_state(std::make_shared<EngineState>(maxOpenTiles)) {
    const Path path = ToPath(file, "path");
    if (preload < 0) throw py::value_error("preload must be 0 or more bytes");
    const int budget = preload > INT_MAX ? INT_MAX : int(preload);
    bool opened;
    {
      py::gil_scoped_release unlocked;
      std::lock_guard<std::mutex> lock(m_state->mutex);
      opened = m_state->engine->open(path.wide.c_str(), budget);
      if (!opened) m_state->engine->close();
    }
    if (!opened) {
      if (!PathExists(path)) {
        PyErr_SetObject(PyExc_FileNotFoundError,
                        py::make_tuple(2, "no such file", path.text).ptr());
        throw py::error_already_set();
      }
      if (IsDirectory(path)) {
        PyErr_SetObject(PyExc_IsADirectoryError, py::make_tuple(21, "is a folder", path.text).ptr());
        throw py::error_already_set();
      }
      if (m_state->dataset) {
        RaiseVorlinError(Quoted(path) + " is not a usable dataset catalog: " +
                         m_state->dataset->catalogError());
      }
      RaiseVorlinError(Quoted(path) + " is not a readable QZV file (version 3 to 5)");
    }
    m_state->open = true;
    m_state->path = path.text;
    m_state->engine->getCentre(m_state->centre[0], m_state->centre[1], m_state->centre[2]);
  }

  void close() {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (!m_state->open) return;
    m_state->engine->close();
    m_state->open = false;
    ++m_state->generation;
    m_state->buffers->Clear();
  }

  bool closed() {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return !m_state->open;
  }

  // Runs read with the engine locked and open; read must not touch Python.
  template <typename Read>
  auto WithEngine(Read read) {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (!m_state->open) throw py::value_error("the cloud is closed");
    return read(*m_state->engine);
  }

  std::string path() const { return m_state->path; }

  unsigned long long pointCount() {
    return WithEngine([](QvVorlin& e) { return e.totalPointCount(); });
  }

  py::tuple bounds() {
    std::vector<double> b(6);
    WithEngine([&](QvVorlin& e) { return e.getExtents(b[0], b[1], b[2], b[3], b[4], b[5]); });
    return py::make_tuple(b[0], b[1], b[2], b[3], b[4], b[5]);
  }

  py::tuple centre() {
    WithEngine([](QvVorlin&) { return 0; });
    return py::make_tuple(m_state->centre[0], m_state->centre[1], m_state->centre[2]);
  }

  unsigned int version() {
    unsigned int version = 0, revision = 0;
    WithEngine([&](QvVorlin& e) { return e.getVersion(version, revision); });
    return version;
  }

  unsigned int revision() {
    unsigned int version = 0, revision = 0;
    WithEngine([&](QvVorlin& e) { return e.getVersion(version, revision); });
    return revision;
  }

  double units() {
    return WithEngine([](QvVorlin& e) { return e.unitsToFeetFactor(); });
  }

  py::tuple attributes() {
    static const wchar_t* const kNames[] = {L"RGB", L"Intensity", L"Normal", L"NormalGenerated",
                                            L"CustomAttribute"};
    bool present[5] = {};
    WithEngine([&](QvVorlin& e) {
      for (int i = 0; i < 5; ++i) e.hasAttribute(kNames[i], present[i]);
      return 0;
    });
    py::list names;
    for (int i = 0; i < 5; ++i) {
      if (present[i]) names.append(py::cast(std::wstring(kNames[i])));
    }
    return py::tuple(names);
  }

  Query query(const py::object& box, const py::object& frustum, bool clip, bool nearClip,
              bool farClip) {
    if (!box.is_none() && !frustum.is_none()) throw py::value_error("give box or frustum, not both");
    FilterChoice choice;
    if (!box.is_none()) choice = BoxChoice(box);
    if (!frustum.is_none()) choice = FrustumChoice(frustum, nearClip, farClip);
    return Query::Create(m_state, choice, clip);
  }

  void saveV3(const py::object& file) {
    const Path path = ToPath(file, "path");
    const bool saved = WithEngine([&](QvVorlin& e) { return e.saveAsVersion(path.wide.c_str(), 3); });
    if (!saved) {
      RaiseVorlinError("cannot write a version-3 copy to " + Quoted(path) +
                       " (only a version-4 file can be copied, into a writable place)");
    }
  }

  // (name, reason) of every tile found unusable so far; empty for one file.
  py::list failedTiles() {
    std::vector<std::pair<std::string, std::string>> failed;
    WithEngine([&](QvVorlin&) {
      if (!m_state->dataset) return 0;
      for (unsigned i = 0; i < m_state->dataset->failedTileCount(); ++i) {
        const char* name = nullptr;
        const char* reason = nullptr;
        if (m_state->dataset->failedTile(i, &name, &reason)) failed.emplace_back(name, reason);
      }
      return 0;
    });
    py::list out;
    for (const auto& f : failed) out.append(py::make_tuple(f.first, f.second));
    return out;
  }

  std::string repr() {
    if (closed()) return "<vorlin.Cloud '" + m_state->path + "' closed>";
    return "<vorlin.Cloud '" + m_state->path + "' " + std::to_string(pointCount()) + " points>";
  }

 private:
  static FilterChoice BoxChoice(const py::object& box) {
    std::vector<double> values;
    try {
      values = py::cast<std::vector<double>>(box);
    } catch (py::cast_error&) {
      throw py::type_error("box must be six numbers (x0, y0, z0, x1, y1, z1)");
    }
    if (values.size() != 6) throw py::value_error("box must be six numbers (x0, y0, z0, x1, y1, z1)");
    for (double v : values) {
      if (!std::isfinite(v)) throw py::value_error("box values must be finite");
    }
    for (int a = 0; a < 3; ++a) {
      if (values[size_t(a)] > values[size_t(a + 3)]) {
        throw py::value_error("box minimum above its maximum on axis " + std::string(1, char('x' + a)));
      }
    }
    FilterChoice choice;
    choice.kind = FilterChoice::kBox;
    for (int i = 0; i < 6; ++i) choice.values[i] = values[size_t(i)];
    return choice;
  }

  static FilterChoice FrustumChoice(const py::object& frustum, bool nearClip, bool farClip) {
    py::array_t<double, py::array::c_style | py::array::forcecast> corners;
    try {
      corners = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(frustum);
    } catch (py::error_already_set&) {
      corners = {};
    }
    if (!corners || corners.ndim() != 2 || corners.shape(0) != 8 || corners.shape(1) != 3) {
      throw py::value_error(
          "frustum must be an 8 x 3 array of corners (near upper right, upper left, lower left, "
          "lower right, then the far ones), as vorlin.frustum() makes");
    }
    FilterChoice choice;
    choice.kind = FilterChoice::kFrustum;
    for (int i = 0; i < 24; ++i) {
      choice.values[i] = corners.data()[i];
      if (!std::isfinite(choice.values[i])) throw py::value_error("frustum corners must be finite");
    }
    choice.nearClip = nearClip;
    choice.farClip = farClip;
    return choice;
  }

  EngineRef m_state;
};

}  // namespace

void RegisterCloud(py::module_& m) {
  py::class_<Cloud>(m, "Cloud",
                    "An open QZV file. Made by vorlin.open(); a context manager that closes the "
                    "file on exit. Queries, batches and properties raise ValueError once it is "
                    "closed. Safe to share between threads: calls on one cloud take turns.")
      .def_property_readonly("path", &Cloud::path, "The path the cloud was opened with.")
      .def_property_readonly("closed", &Cloud::closed)
      .def_property_readonly("point_count", &Cloud::pointCount, "Points in the file.")
      .def_property_readonly("bounds", &Cloud::bounds,
                             "(min_x, min_y, min_z, max_x, max_y, max_z) in world coordinates.")
      .def_property_readonly("centre", &Cloud::centre,
                             "(x, y, z): the centre the stored offsets are measured from.")
      .def_property_readonly("version", &Cloud::version, "File format version (3, 4 or 5).")
      .def_property_readonly("revision", &Cloud::revision, "The file's revision word.")
      .def_property_readonly("units", &Cloud::units,
                             "Factor from the file's units to feet; 0.0 when unknown.")
      .def_property_readonly("attributes", &Cloud::attributes,
                             "Names of the attributes the file carries: 'RGB', 'Intensity', "
                             "'Normal', 'NormalGenerated', 'CustomAttribute'.")
      .def("query", &Cloud::query, py::arg("box") = py::none(), py::arg("frustum") = py::none(),
           py::arg("clip") = false, py::arg("near_clip") = true, py::arg("far_clip") = true,
           "A query of every point (no arguments), of an axis-aligned box (x0, y0, z0, x1, y1, "
           "z1) in world coordinates, or of a view frustum (8 x 3 corners, see vorlin.frustum). "
           "clip=True tests single points of cells the region only partly covers (against "
           "the box, or the frustum's four side planes); otherwise such cells deliver all "
           "their points. near_clip and far_clip say whether the frustum's near and far "
           "planes bound the cells seen.")
      .def_property_readonly("failed_tiles", &Cloud::failedTiles,
                             "For a dataset: (name, reason) of each tile found unusable so far "
                             "(in the catalog or when a query opened it); those tiles are left "
                             "out of answers. Empty for one file.")
      .def("save_v3", &Cloud::saveV3, py::arg("path"),
           "Writes a version-3 copy of this version-4 file. Raises VorlinError on failure.")
      .def("close", &Cloud::close, "Closes the file; safe to call twice.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Cloud& cloud, py::args) { cloud.close(); return false; })
      .def("__repr__", &Cloud::repr);

  m.def(
      "open",
      [](const py::object& path, long long preload) { return Cloud(path, preload); },
      py::arg("path"), py::arg("preload") = 0,
      "Opens a QZV file. preload is the number of bytes of point records a background thread "
      "keeps in memory to answer coarse queries (0: none). Raises FileNotFoundError, or "
      "VorlinError for a file that is not QZV.");

  m.def(
      "open_dataset",
      [](const py::object& path, long long preload, unsigned maxOpenTiles) {
        if (maxOpenTiles == 0) throw py::value_error("max_open_tiles must be 1 or more");
        return Cloud(path, preload, maxOpenTiles);
      },
      py::arg("path"), py::arg("preload") = 0, py::arg("max_open_tiles") = 64,
      "Opens a dataset from its catalog (JSON) as one cloud with the same queries. Tiles open "
      "when a query needs them, at most max_open_tiles at once, sharing preload. A tile that "
      "cannot be used is left out and listed in failed_tiles. Raises FileNotFoundError, or "
      "VorlinError for a file that is not a catalog.");
}

}  // namespace python
}  // namespace vorlin
