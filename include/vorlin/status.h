#ifndef VORLIN_STATUS_H
#define VORLIN_STATUS_H

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
