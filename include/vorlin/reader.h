#ifndef VORLIN_READER_H
#define VORLIN_READER_H

#include <wchar.h>

#include "vorlin/export.h"

namespace Zelvane {
namespace Vorlin {

// A source of points for the import. The import opens a reader once, asks for
// its statistics, makes one or more passes over its points (each starting with
// ReadFirstPoint) and closes it at the end, all on the importing thread. The
// host owns a reader it passes; the import never destroys it. A pass ends
// when a read returns false; an exception from a read ends the import with
// ReadFailed, one from Open, FileStats or UnitsToFeetConversionFactor with
// OpenFailed. FileStats' bounds and count size the grid; a count above what
// the source holds costs memory and time, never points.
class VORLIN_API IReader {
 public:
  IReader() {}
  IReader(const IReader&) {}
  IReader& operator=(const IReader&) { return *this; }
  virtual ~IReader() {}

  virtual bool Open(const wchar_t* fileName) = 0;
  virtual void Close() = 0;
  // minXYZ and maxXYZ each receive three doubles (x, y, z).
  virtual bool FileStats(double* minXYZ, double* maxXYZ, unsigned long long& pointCount,
                         unsigned int& attributes) = 0;
  virtual bool ReadFirstPoint(double& x, double& y, double& z, unsigned char& red,
                              unsigned char& green, unsigned char& blue) = 0;
  virtual bool ReadNextPoint(double& x, double& y, double& z, unsigned char& red,
                             unsigned char& green, unsigned char& blue) = 0;
  virtual double UnitsToFeetConversionFactor() = 0;
};

// A reader that also delivers intensity, a normal and a custom attribute byte.
// The default bodies deliver zeros for those and forward to the plain reads.
class VORLIN_API IReader2 : public IReader {
 public:
  IReader2() {}
  IReader2(const IReader2& other) : IReader(other) {}
  IReader2& operator=(const IReader2&) { return *this; }

  virtual bool ReadFirstPointEx(double& x, double& y, double& z, unsigned char& red,
                                unsigned char& green, unsigned char& blue,
                                unsigned char& intensity, float& normalX, float& normalY,
                                float& normalZ, unsigned char& customAttribute) {
    intensity = 0;
    customAttribute = 0;
    normalX = normalY = normalZ = 0.0f;
    return ReadFirstPoint(x, y, z, red, green, blue);
  }
  virtual bool ReadNextPointEx(double& x, double& y, double& z, unsigned char& red,
                               unsigned char& green, unsigned char& blue,
                               unsigned char& intensity, float& normalX, float& normalY,
                               float& normalZ, unsigned char& customAttribute) {
    intensity = 0;
    customAttribute = 0;
    normalX = normalY = normalZ = 0.0f;
    return ReadNextPoint(x, y, z, red, green, blue);
  }
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
