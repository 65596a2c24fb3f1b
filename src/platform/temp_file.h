#ifndef VORLIN_PLATFORM_TEMP_FILE_H
#define VORLIN_PLATFORM_TEMP_FILE_H

#include <string>

#include "platform/file.h"

namespace vorlin {
namespace platform {

// The user's temporary directory: TMPDIR when set, else /tmp.
std::string TemporaryDirectory();

// Creates a new, uniquely named read-write file in the temporary directory
// whose name begins with prefix. The name is removed at once, so the file
// disappears when the handle closes, even if the process dies. Invalid on
// failure.
File CreateTemporaryFile(const char* prefix);

}  // namespace platform
}  // namespace vorlin

#endif
