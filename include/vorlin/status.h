#ifndef VORLIN_STATUS_H
#define VORLIN_STATUS_H

#include "vorlin/export.h"

namespace Zelvane {
namespace Vorlin {

// Result of every import. Only Ok leaves an output file; every other value
// means the import deleted what it had written and left no temporary file.
enum VorlinStatus {
  Ok = 0,                // the file holds exactly the sources' points
  Cancelled = 1,         // the progress object's isCancelled returned true
  OutOfMemory = 2,       // the import's state object could not be allocated
  OpenFailed = 3,        // a reader's Open failed or threw, or its units/stats call threw
  CreateFailed = 4,      // the output file could not be created
  ReadFailed = 5,        // the readers announced no points, a point read threw, or a
                         // cell's spill file could not be read back for the output
  WriteFailed = 6,       // a write, seek or close of the output failed or came short
  TempFileFailed = 7,    // a temporary file could not be made, written or read back
  UnsupportedFormat = 8, // a source without a reader has no .las or .xyb name
  OutOfExtents = 9,      // after re-measuring the bounds a point still lies outside
                         // them (a coordinate that is not a number) or the box
                         // cannot be gridded (wider than a float offset)
  InvalidArgument = 10   // a null source name, output name or list, or a count of 0
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
