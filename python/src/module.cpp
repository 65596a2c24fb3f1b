#include "bindings.h"

PYBIND11_MODULE(_vorlin, m) {
  m.doc() = "Compiled part of the vorlin package; import vorlin instead.";
  using namespace vorlin::python;
  RegisterErrors(m);
  RegisterPoints(m);
  RegisterImport(m);
  RegisterCloud(m);
  RegisterQuery(m);
  RegisterBatches(m);
  RegisterCamera(m);
  RegisterUtil(m);
  RegisterSource(m);
}
