#ifndef VORLIN_UTIL_H
#define VORLIN_UTIL_H

#include <wchar.h>

#include "vorlin/export.h"

namespace Zelvane {
namespace Vorlin {
namespace QvVorlinUtil {

// Each runs on the calling thread and keeps no state between calls.

// True when the file is stored on this machine (a local disk, or a network
// share that leads back to this machine); false otherwise or when the test
// cannot be made (missing or empty file).
VORLIN_API bool IsFileNeedCache(const wchar_t* fileName);

// Copies source to target (replacing target) when source is not stored on
// this machine; false when it is, or when the copy fails.
VORLIN_API bool CopyPointCloudFile(const wchar_t* source, const wchar_t* target);

// A short local name for fileName: a decimal hash, ".qzv". The caller frees
// it with delete[].
VORLIN_API wchar_t* ExtractLocalFileName(const wchar_t* fileName);

}  // namespace QvVorlinUtil
}  // namespace Vorlin
}  // namespace Zelvane

#endif
