// A LAS source through a full import. The grid is sized from the records the
// file can hold, so a header that claims billions of points costs nothing.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vorlin_fuzz::FuzzImport(data, size, "in.las");
}
