#include "errors.h"

#include "bindings.h"

namespace py = pybind11;
using namespace Zelvane::Vorlin;

namespace vorlin {
namespace python {
namespace {

// Kept for the life of the process: never released at interpreter shutdown.
py::handle g_errorType;

}  // namespace

py::object VorlinErrorType() { return py::reinterpret_borrow<py::object>(g_errorType); }

void RaiseVorlinError(const std::string& message, const char* status) {
  py::object error = g_errorType(message);
  error.attr("status") = status ? py::object(py::str(status)) : py::object(py::none());
  PyErr_SetObject(g_errorType.ptr(), error.ptr());
  throw py::error_already_set();
}

const char* StatusName(VorlinStatus status) {
  switch (status) {
    case Ok: return "Ok";
    case Cancelled: return "Cancelled";
    case OutOfMemory: return "OutOfMemory";
    case OpenFailed: return "OpenFailed";
    case CreateFailed: return "CreateFailed";
    case ReadFailed: return "ReadFailed";
    case WriteFailed: return "WriteFailed";
    case TempFileFailed: return "TempFileFailed";
    case UnsupportedFormat: return "UnsupportedFormat";
    case OutOfExtents: return "OutOfExtents";
    case InvalidArgument: return "InvalidArgument";
  }
  return "Unknown";
}

const char* StatusWords(VorlinStatus status) {
  switch (status) {
    case Ok: return "no error";
    case Cancelled: return "cancelled";
    case OutOfMemory: return "out of memory";
    case OpenFailed: return "a source could not be opened";
    case CreateFailed: return "the output file could not be created";
    case ReadFailed: return "reading a source failed";
    case WriteFailed: return "writing the output failed (disk full?)";
    case TempFileFailed: return "a temporary file could not be written";
    case UnsupportedFormat: return "unsupported source format";
    case OutOfExtents: return "points lie outside the sources' stated extents";
    case InvalidArgument: return "invalid argument";
  }
  return "unknown failure";
}

void RegisterErrors(py::module_& m) {
  // A plain Python class, so users can subclass and pickle it like any
  // exception; the .status attribute defaults to None.
  py::object builtins = py::module_::import("builtins");
  py::dict namespace_;
  namespace_["__module__"] = "vorlin";
  namespace_["__doc__"] =
      "A failure reported by the library. .status is the import status name "
      "(for example 'OpenFailed', 'Cancelled') or None when no import was involved.";
  namespace_["status"] = py::none();
  g_errorType = builtins.attr("type")("VorlinError", py::make_tuple(builtins.attr("Exception")),
                                      namespace_)
                    .release();
  m.attr("VorlinError") = g_errorType;
}

}  // namespace python
}  // namespace vorlin
