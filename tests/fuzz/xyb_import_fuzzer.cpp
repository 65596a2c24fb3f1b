// An XYB source through a full import.
#include "import_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vorlin_fuzz::FuzzImport(data, size, "in.xyb");
}
