#ifndef VORLIN_READERS_XYB_READER_H
#define VORLIN_READERS_XYB_READER_H

#include <memory>

#include "vorlin/reader.h"

namespace Zelvane {
namespace Vorlin {

// Built-in reader of FARO XYZ binary files: positions in metres, a grey value
// as colour; points exactly at the origin are dropped.
class XYBReader : public IReader {
 public:
  XYBReader();
  ~XYBReader() override;

  bool Open(const wchar_t* fileName) override;
  void Close() override;
  bool FileStats(double* minXYZ, double* maxXYZ, unsigned long long& pointCount,
                 unsigned int& attributes) override;
  bool ReadFirstPoint(double& x, double& y, double& z, unsigned char& red,
                      unsigned char& green, unsigned char& blue) override;
  bool ReadNextPoint(double& x, double& y, double& z, unsigned char& red,
                     unsigned char& green, unsigned char& blue) override;
  double UnitsToFeetConversionFactor() override;

  struct State;

 private:
  std::unique_ptr<State> m_state;
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
