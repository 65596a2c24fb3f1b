#include <memory>
#include <string>

#include "bindings.h"
#include "paths.h"
#include "vorlin/util.h"

namespace py = pybind11;
namespace util = Zelvane::Vorlin::QvVorlinUtil;

namespace vorlin {
namespace python {

void RegisterUtil(py::module_& m) {
  m.def(
      "is_local",
      [](const py::object& file) {
        const Path path = ToPath(file, "path");
        py::gil_scoped_release unlocked;
        return util::IsFileNeedCache(path.wide.c_str());
      },
      py::arg("path"),
      "True when the file is stored on this machine (a local disk, or a share that leads "
      "back here); False for another machine's share, or when the file is missing or empty.");
  m.def(
      "local_name",
      [](const py::object& file) {
        const Path path = ToPath(file, "path");
        std::unique_ptr<wchar_t[]> name(util::ExtractLocalFileName(path.wide.c_str()));
        if (!name) throw std::bad_alloc();
        return std::wstring(name.get());
      },
      py::arg("path"),
      "A short file name (a decimal hash of path, '.qzv') for a local copy of a remote file.");
}

}  // namespace python
}  // namespace vorlin
