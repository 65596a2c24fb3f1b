// An XYB source through a full import.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vorlin_fuzz::FuzzImport(data, size, "in.xyb");
}
