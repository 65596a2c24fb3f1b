#ifndef VORLIN_PYTHON_PATHS_H
#define VORLIN_PYTHON_PATHS_H

#include <string>

#include <pybind11/pybind11.h>

namespace vorlin {
namespace python {

// A str, bytes or os.PathLike as the library's wide path (code points) and
// as text for messages. Raises TypeError for anything else and ValueError
// for an empty path or one with a NUL character.
struct Path {
  std::wstring wide;
  std::string text;
};
Path ToPath(const pybind11::handle& object, const char* what);

bool PathExists(const Path& path);
bool IsDirectory(const Path& path);

// 'name' for messages.
std::string Quoted(const Path& path);

}  // namespace python
}  // namespace vorlin

#endif
