#ifndef VORLIN_STATUS_H
#define VORLIN_STATUS_H

#include "vorlin/export.h"

namespace Zelvane {
namespace Vorlin {

// Result of every import.
enum VorlinStatus {
  Ok = 0,
  Cancelled = 1,
  OutOfMemory = 2,
  OpenFailed = 3,
  CreateFailed = 4,
  ReadFailed = 5,
  WriteFailed = 6,
  TempFileFailed = 7,
  UnsupportedFormat = 8,
  OutOfExtents = 9,
  InvalidArgument = 10
};

// A short English description of status, e.g. "the output file could not be
// created", for messages to people. Never null: a value outside the
// enumeration gives "unknown status". The text is a static string that the
// caller must not free; safe from any thread.
VORLIN_API const char* statusText(VorlinStatus status);

// Attribute mask bits: what an import stores and what a reader can deliver.
enum VorlinAttribute : unsigned int {
  AttributeColor = 0x01,
  AttributeIntensity = 0x02,
  AttributeNormal = 0x04,
  AttributeCustom = 0x08,
  AttributeBlock = 0x10,
  AttributeAll = 0x1F
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
