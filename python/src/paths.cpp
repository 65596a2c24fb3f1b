#include "paths.h"

#include <sys/stat.h>

namespace py = pybind11;

namespace vorlin {
namespace python {

Path ToPath(const py::handle& object, const char* what) {
  py::module_ os = py::module_::import("os");
  py::object path;
  try {
    path = os.attr("fsdecode")(object);
  } catch (py::error_already_set&) {
    throw py::type_error(std::string(what) + " must be a str, bytes or os.PathLike, not " +
                         std::string(py::str(py::type::of(object).attr("__name__"))));
  }
  Path result;
  result.text = py::str(path).cast<std::string>();
  result.wide = path.cast<std::wstring>();
  if (result.wide.empty()) throw py::value_error(std::string(what) + " is empty");
  if (result.wide.find(L'\0') != std::wstring::npos) {
    throw py::value_error(std::string(what) + " contains a NUL character");
  }
  return result;
}

namespace {
bool Stat(const Path& path, struct stat& info) {
  py::bytes encoded = py::module_::import("os").attr("fsencode")(py::str(path.text));
  return stat(std::string(encoded).c_str(), &info) == 0;
}
}  // namespace

bool PathExists(const Path& path) {
  struct stat info;
  return Stat(path, info);
}

bool IsDirectory(const Path& path) {
  struct stat info;
  return Stat(path, info) && S_ISDIR(info.st_mode);
}

std::string Quoted(const Path& path) { return "'" + path.text + "'"; }

}  // namespace python
}  // namespace vorlin
