#include "vorlin/status.h"

namespace Zelvane {
namespace Vorlin {

const char* statusText(VorlinStatus status) {
  switch (status) {
    case Ok: return "success";
    case Cancelled: return "cancelled";
    case OutOfMemory: return "out of memory";
    case OpenFailed: return "a source could not be opened or read as point data";
    case CreateFailed: return "the output file could not be created";
    case ReadFailed: return "the sources could not be read, or hold no points";
    case WriteFailed: return "writing the output file failed";
    case TempFileFailed: return "a temporary file could not be created or written";
    case UnsupportedFormat: return "unsupported source format";
    case OutOfExtents: return "points lie outside the bounds of their source";
    case InvalidArgument: return "invalid argument";
  }
  return "unknown status";
}

}  // namespace Vorlin
}  // namespace Zelvane
