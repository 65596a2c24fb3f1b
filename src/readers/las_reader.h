#ifndef VORLIN_READERS_LAS_READER_H
#define VORLIN_READERS_LAS_READER_H

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "vorlin/las_source.h"
#include "vorlin/reader.h"

namespace vorlin {
class BufferedRecordReader;
}

namespace Zelvane {
namespace Vorlin {

// Built-in reader of ASPRS LAS files, point formats 0 to 5 (record length at
// most 64). Delivers position, colour, intensity and the classification's low
// five bits as the custom attribute; no normals.
class LasReader : public IReader2 {
 public:
  LasReader();
  ~LasReader() override;

  bool Open(const wchar_t* fileName) override;
  void Close() override;
  bool FileStats(double* minXYZ, double* maxXYZ, unsigned long long& pointCount,
                 unsigned int& attributes) override;
  bool ReadFirstPoint(double& x, double& y, double& z, unsigned char& red,
                      unsigned char& green, unsigned char& blue) override;
  bool ReadNextPoint(double& x, double& y, double& z, unsigned char& red,
                     unsigned char& green, unsigned char& blue) override;
  double UnitsToFeetConversionFactor() override;
  bool ReadFirstPointEx(double& x, double& y, double& z, unsigned char& red,
                        unsigned char& green, unsigned char& blue, unsigned char& intensity,
                        float& normalX, float& normalY, float& normalZ,
                        unsigned char& customAttribute) override;
  bool ReadNextPointEx(double& x, double& y, double& z, unsigned char& red,
                       unsigned char& green, unsigned char& blue, unsigned char& intensity,
                       float& normalX, float& normalY, float& normalZ,
                       unsigned char& customAttribute) override;

  // Up to max points following the last one read, decoded exactly as that
  // many ReadNextPointEx calls would (normals are always 0); 0 at the end.
  // For the import, which would otherwise pay a virtual call and eleven
  // out-parameters per point.
  size_t ReadNextPoints(LasPoint* points, size_t max);

  // Implementation state is private to the reader's source file.
  struct State;

 private:
  std::unique_ptr<State> m_state;
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
