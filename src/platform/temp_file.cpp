#include "platform/temp_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace vorlin {
namespace platform {

File AdoptTemporaryFile(int fd);

std::string TemporaryDirectory() {
  const char* dir = ::getenv("TMPDIR");
  if (dir && *dir) return dir;
  return "/tmp";
}

File CreateTemporaryFile(const char* prefix) {
  std::string path = TemporaryDirectory();
  if (path.empty() || path.back() != '/') path += '/';
  path += prefix ? prefix : "";
  path += "XXXXXX";
  int fd;
  do {
    fd = ::mkostemp(&path[0], O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return File();
  // Delete-on-close: the name goes now, the data when the handle closes.
  ::unlink(path.c_str());
  return AdoptTemporaryFile(fd);
}

}  // namespace platform
}  // namespace vorlin
