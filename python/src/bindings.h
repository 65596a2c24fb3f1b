#ifndef VORLIN_PYTHON_BINDINGS_H
#define VORLIN_PYTHON_BINDINGS_H

// Each part of the extension registers its functions and classes on the
// module; module.cpp calls them in order (errors first, since the others
// raise them).

#include <pybind11/pybind11.h>

namespace vorlin {
namespace python {

void RegisterErrors(pybind11::module_& m);
void RegisterPoints(pybind11::module_& m);
void RegisterImport(pybind11::module_& m);
void RegisterCloud(pybind11::module_& m);
void RegisterQuery(pybind11::module_& m);
void RegisterBatches(pybind11::module_& m);
void RegisterCamera(pybind11::module_& m);
void RegisterUtil(pybind11::module_& m);
void RegisterSource(pybind11::module_& m);

}  // namespace python
}  // namespace vorlin

#endif
