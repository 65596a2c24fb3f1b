#ifndef VORLIN_PYTHON_ERRORS_H
#define VORLIN_PYTHON_ERRORS_H

#include <string>

#include <pybind11/pybind11.h>

#include "vorlin/status.h"

namespace vorlin {
namespace python {

// vorlin.VorlinError, created by RegisterErrors.
pybind11::object VorlinErrorType();

// Raises VorlinError(message) with .status set to the status name, or None.
[[noreturn]] void RaiseVorlinError(const std::string& message, const char* status = nullptr);

// "Ok", "Cancelled", ... ("Unknown" outside the enumeration).
const char* StatusName(Zelvane::Vorlin::VorlinStatus status);
// The status in words for messages.
const char* StatusWords(Zelvane::Vorlin::VorlinStatus status);

}  // namespace python
}  // namespace vorlin

#endif
