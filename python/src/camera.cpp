#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "bindings.h"
#include "vorlin/camera.h"

namespace py = pybind11;
using namespace Zelvane::Vorlin;

namespace vorlin {
namespace python {
namespace {

std::vector<double> Triple(const py::object& value, const char* name) {
  std::vector<double> v;
  try {
    v = py::cast<std::vector<double>>(value);
  } catch (py::cast_error&) {
    v.clear();
  }
  if (v.size() != 3) throw py::value_error(std::string(name) + " must be three numbers (x, y, z)");
  return v;
}

py::array_t<double> Frustum(const py::object& eye, const py::object& target, const py::object& up,
                            double fovDegrees, double aspect, double nearDistance,
                            double farDistance) {
  const std::vector<double> e = Triple(eye, "eye"), t = Triple(target, "target"),
                            u = Triple(up, "up");
  VorlinViewFrustum frustum;
  py::array_t<double> corners({8, 3});
  if (!makeCameraFrustum(e.data(), t.data(), u.data(), fovDegrees, aspect, nearDistance,
                         farDistance, frustum, corners.mutable_data())) {
    throw py::value_error(
        "no such camera: needs finite values, eye apart from target, up not along the view, "
        "0 < fov_deg < 180, aspect > 0 and 0 < near < far");
  }
  return corners;
}

}  // namespace

void RegisterCamera(py::module_& m) {
  m.def("frustum", &Frustum, py::arg("eye"), py::arg("target"), py::arg("up"),
        py::arg("fov_deg"), py::arg("aspect"), py::arg("near"), py::arg("far"),
        "The eight corners (an 8 x 3 float64 array) of the view of a perspective camera at "
        "eye looking at target, with up giving the screen's upward direction, in a "
        "right-handed world frame. fov_deg is the full vertical angle, aspect the "
        "width/height ratio, near and far the distances of the two planes along the view. "
        "Pass the result to Cloud.query(frustum=...). The same corners the command-line "
        "tool and the viewer compute.");
}

}  // namespace python
}  // namespace vorlin
