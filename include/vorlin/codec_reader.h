#ifndef VORLIN_CODEC_READER_H
#define VORLIN_CODEC_READER_H

#include "vorlin/export.h"
#include "vorlin/reader.h"

// A reader object of another component. The adapter below calls only these
// operations; the component supplies the implementation.
class VORLIN_API CodecFileReader {
 public:
  virtual ~CodecFileReader() {}
  virtual bool open(const wchar_t* fileName) = 0;
  virtual void close() = 0;
  virtual void statistics(double* minXYZ, double* maxXYZ, unsigned long long& pointCount,
                          unsigned int& attributes) = 0;
  // intensity: 1/256 is one step of the stored byte.
  virtual bool firstPoint(double& x, double& y, double& z, unsigned char& red,
                          unsigned char& green, unsigned char& blue,
                          unsigned char& customAttribute, float& intensity, float& normalX,
                          float& normalY, float& normalZ) = 0;
  virtual bool nextPoint(double& x, double& y, double& z, unsigned char& red,
                         unsigned char& green, unsigned char& blue,
                         unsigned char& customAttribute, float& intensity, float& normalX,
                         float& normalY, float& normalZ) = 0;
};

// Adapts a CodecFileReader to the import's reader interface. It does not own
// the wrapped reader; copies share it.
class VORLIN_API CodecReader : public Zelvane::Vorlin::IReader2 {
 public:
  explicit CodecReader(CodecFileReader* reader);
  CodecReader(const CodecReader& other);
  CodecReader& operator=(const CodecReader& other);
  ~CodecReader() override;

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

 private:
  CodecFileReader* m_reader;
};

#endif
