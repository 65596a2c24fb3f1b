#ifndef VORLIN_PLATFORM_TEMP_FILE_H
#define VORLIN_PLATFORM_TEMP_FILE_H

#include <string>

#include "platform/file.h"

namespace vorlin {
namespace platform {

// The user's temporary directory: TMPDIR when set, else /tmp.
std::string TemporaryDirectory();

// Creates a new read-write temporary file in the temporary directory. It has
// no visible name, disappears when the handle closes, and leaves nothing
// behind even if the process dies. Invalid when the directory cannot hold
// files.
File CreateTemporaryFile();

}  // namespace platform
}  // namespace vorlin

#endif
