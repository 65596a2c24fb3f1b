#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "bindings.h"
#include "errors.h"
#include "paths.h"
#include "vorlin/las_source.h"
#include "vorlin/vorlin.h"

namespace py = pybind11;
using namespace Zelvane::Vorlin;

namespace vorlin {
namespace python {
namespace {

// Bridges the library's progress calls, made on the importing thread while
// the GIL is released, to Python: the callback gets the overall percentage,
// and an exception from it or a pending signal (Ctrl-C) cancels the import
// and is raised once the library has cleaned up.
class PythonProgress : public IVorlinProgress {
 public:
  explicit PythonProgress(py::object callback) : m_callback(std::move(callback)) {}

  void setProgress(double percent) override {
    const double overall = m_from + (m_to - m_from) * percent / 100.0;
    if (m_callback.is_none() || m_failed || overall < m_reported + 1.0) return;
    m_reported = overall;
    py::gil_scoped_acquire locked;
    Call(overall);
  }
  void reserved() override {}
  bool isCancelled() override {
    if (m_failed) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastCheck < std::chrono::milliseconds(50)) return false;
    m_lastCheck = now;
    py::gil_scoped_acquire locked;
    if (PyErr_CheckSignals() != 0) {
      m_error = std::make_shared<py::error_already_set>();
      m_failed = true;
    }
    return m_failed;
  }
  void setRange(double from, double to) override {
    m_from = from;
    m_to = to;
  }

  // After a successful import: the final 100 per cent. Needs the GIL.
  void Complete() {
    if (!m_callback.is_none() && !m_failed && m_reported < 100.0) Call(100.0);
  }
  bool failed() const { return m_failed; }
  // Raises what stopped the import. Needs the GIL.
  [[noreturn]] void Rethrow() { throw *m_error; }

 private:
  void Call(double percent) {
    try {
      m_callback(percent);
    } catch (py::error_already_set& error) {
      m_error = std::make_shared<py::error_already_set>(std::move(error));
      m_failed = true;
    }
  }

  py::object m_callback;
  double m_from = 0.0;
  double m_to = 100.0;
  double m_reported = -1.0;
  bool m_failed = false;
  std::shared_ptr<py::error_already_set> m_error;
  std::chrono::steady_clock::time_point m_lastCheck{};
};

bool EndsWithNoCase(const std::string& text, const char* suffix) {
  const size_t n = strlen(suffix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (tolower(static_cast<unsigned char>(text[text.size() - n + i])) != suffix[i]) return false;
  }
  return true;
}

// A hidden sibling of the output that takes its name only when complete, so
// a failed or cancelled import leaves nothing and spares an older file.
Path PartialName(const Path& output) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = output.text.find_last_of('/');
  const std::string head = slash == std::string::npos ? "" : output.text.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? output.text : output.text.substr(slash + 1);
  const std::string name = head + "." + base + ".partial-" + std::to_string(getpid()) + "-" +
                           std::to_string(counter++);
  return ToPath(py::str(name), "output");
}

std::string Describe(const std::vector<Path>& sources) {
  return sources.size() == 1 ? Quoted(sources[0]) : std::to_string(sources.size()) + " files";
}

void ImportFile(const py::object& sourcesObject, const py::object& outputObject,
                unsigned int attributes, const py::object& progressObject) {
  std::vector<Path> sources;
  if (py::isinstance<py::str>(sourcesObject) || py::isinstance<py::bytes>(sourcesObject) ||
      py::hasattr(sourcesObject, "__fspath__")) {
    sources.push_back(ToPath(sourcesObject, "source"));
  } else {
    for (py::handle item : py::iter(sourcesObject)) sources.push_back(ToPath(item, "source"));
  }
  if (sources.empty()) throw py::value_error("no sources given");
  const Path output = ToPath(outputObject, "output");
  if (!progressObject.is_none() && !PyCallable_Check(progressObject.ptr())) {
    throw py::type_error("progress must be callable or None");
  }
  for (const Path& source : sources) {
    if (!PathExists(source) || IsDirectory(source)) {
      PyErr_SetObject(PyExc_FileNotFoundError,
                      py::make_tuple(2, IsDirectory(source) ? "is a folder" : "no such file",
                                     source.text)
                          .ptr());
      throw py::error_already_set();
    }
    if (!EndsWithNoCase(source.text, ".las") && !EndsWithNoCase(source.text, ".laz") &&
        !EndsWithNoCase(source.text, ".xyb")) {
      RaiseVorlinError(Quoted(source) + ": unsupported source format (.las, .laz and .xyb are read)",
                       StatusName(UnsupportedFormat));
    }
  }

  std::vector<const wchar_t*> names;
  for (const Path& source : sources) names.push_back(source.wide.c_str());
  // LAZ needs the source reader; .las keeps the library's built-in rule.
  std::vector<std::unique_ptr<SourceReader>> lazReaders;
  std::vector<IReader*> readers(sources.size(), nullptr);
  for (size_t i = 0; i < sources.size(); ++i) {
    if (!EndsWithNoCase(sources[i].text, ".laz")) continue;
    lazReaders.emplace_back(new SourceReader);
    readers[i] = lazReaders.back().get();
  }
  const Path partial = PartialName(output);
  PythonProgress progress(progressObject);
  VorlinStatus status;
  {
    py::gil_scoped_release unlocked;
    status = QvVorlin::import(names.data(), partial.wide.c_str(), readers.data(),
                              unsigned(names.size()), &progress, attributes);
  }
  const py::bytes partialBytes = py::module_::import("os").attr("fsencode")(py::str(partial.text));
  const std::string partialFile = partialBytes;
  if (status == Ok && !progress.failed()) {
    progress.Complete();
  }
  if (status == Ok && !progress.failed()) {
    const py::bytes outputBytes = py::module_::import("os").attr("fsencode")(py::str(output.text));
    if (rename(partialFile.c_str(), std::string(outputBytes).c_str()) == 0) return;
    unlink(partialFile.c_str());
    RaiseVorlinError("importing " + Describe(sources) + " into " + Quoted(output) +
                         " failed: the output file could not be created",
                     StatusName(CreateFailed));
  }
  unlink(partialFile.c_str());
  if (progress.failed()) progress.Rethrow();
  RaiseVorlinError("importing " + Describe(sources) + " into " + Quoted(output) +
                       " failed: " + StatusWords(status),
                   StatusName(status));
}

}  // namespace

void RegisterImport(py::module_& m) {
  m.attr("RGB") = unsigned(AttributeColor);
  m.attr("INTENSITY") = unsigned(AttributeIntensity);
  m.attr("NORMAL") = unsigned(AttributeNormal);
  m.attr("CUSTOM") = unsigned(AttributeCustom);
  m.attr("BLOCK") = unsigned(AttributeBlock);
  m.attr("ALL") = unsigned(AttributeAll);
  m.def("import_file", &ImportFile, py::arg("sources"), py::arg("output"),
        py::arg("attributes") = unsigned(AttributeAll), py::arg("progress") = py::none(),
        "Indexes one or more .las, .laz or .xyb files (a path or a list of paths) into one QZV "
        "file, replacing output only when the import succeeds. attributes is a mask of "
        "vorlin.RGB, INTENSITY, NORMAL, CUSTOM, BLOCK (default ALL). progress(percent), "
        "when given, is called on this thread as the import advances; an exception raised "
        "in it, or Ctrl-C, cancels the import, leaves no file and is raised here. Other "
        "failures raise VorlinError (its .status names the library's status) or "
        "FileNotFoundError. The GIL is released while the library works.");
}

}  // namespace python
}  // namespace vorlin
