#ifndef VORLIN_LAS_SOURCE_H
#define VORLIN_LAS_SOURCE_H

// Reading ASPRS LAS (1.0 to 1.4, point formats 0 to 10) and LAZ sources:
// the file's description, its raw point records, and an IReader2 that hands
// the points to the import.

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vorlin/export.h"
#include "vorlin/reader.h"

namespace Zelvane {
namespace Vorlin {

// How the point records are stored. The values are the compressor numbers of
// the LAZ compression record.
enum class LasCompression : int {
  None = 0,
  Pointwise = 1,         // one compressed stream, no chunks
  PointwiseChunked = 2,  // formats 0-5 in chunks
  LayeredChunked = 3,    // formats 6-10 in chunks
};

// One variable-length record, or extended one (after the points, LAS 1.4).
struct LasVlr {
  std::string userId;       // at most 16 bytes
  uint16_t recordId = 0;
  std::string description;  // at most 32 bytes
  std::vector<uint8_t> data;
  bool extended = false;
  // An extended record too long to hold in memory (waveform data, say) is
  // listed with empty data; the writer cannot carry it over and drops it.
  bool dataOmitted = false;
};

// What a LAS or LAZ file says about itself, read when it is opened.
struct LasSourceInfo {
  int versionMajor = 1, versionMinor = 2;
  uint16_t headerSize = 0;
  uint32_t offsetToPointData = 0;
  int pointFormat = 0;        // 0 to 10; the compression bits are removed
  uint16_t recordLength = 0;  // bytes of one uncompressed record
  uint64_t announcedCount = 0;  // records the header announces
  uint64_t presentCount = 0;    // records the file holds, at most announcedCount
  bool truncated = false;       // presentCount < announcedCount
  double scale[3] = {0.001, 0.001, 0.001};
  double offset[3] = {0, 0, 0};
  double min[3] = {0, 0, 0};
  double max[3] = {0, 0, 0};
  LasCompression compression = LasCompression::None;
  // Points per chunk of a chunked LAZ file; 0xFFFFFFFF when chunks vary in
  // size (the chunk table holds their counts); 0 when not chunked.
  uint32_t chunkSize = 0;
  // "wkt" or "geotiff" when the records carry a coordinate system, else "".
  std::string georeferencingKind;
  // The coordinate system as text: the WKT itself, or the GeoTIFF keys one a
  // line ("name (id) = value").
  std::string georeferencing;
  // The public header block exactly as stored (headerSize bytes).
  std::vector<uint8_t> headerBytes;
  // Every VLR, then every extended VLR, in file order; the LAZ compression
  // record (user "laszip encoded", id 22204) among them.
  std::vector<LasVlr> vlrs;
};

// Thrown by SourceReader's point reads when compressed data turn out damaged
// part way through a pass; the import turns it into ReadFailed.
class VORLIN_API SourceReadError : public std::runtime_error {
 public:
  explicit SourceReadError(const std::string& what);
  ~SourceReadError() override;
};

// One point as a batch read delivers it: the values of ReadNextPointEx less
// the normals, which LAS sources do not carry.
struct LasPoint {
  double x, y, z;
  unsigned char red, green, blue, intensity, customAttribute;
};

// Reads one LAS or LAZ file as a source of the import. Open checks the
// header, the record length (at least the point format's minimum), the LAZ
// compression record and chunk table; a file that fails any check does not
// open and lastError() says why. A pass delivers at most presentCount
// records, never extended VLRs, waveform data or bytes after the points.
//
// Values: for formats 0-5 exactly those of the library's built-in LAS reader
// (intensity and colour reduced to 8 bits from the first value of a pass
// above 255; custom attribute = classification & 31); for formats 6-10 the
// same rules with the whole 8-bit classification as custom attribute and
// colour from the RGB fields. Attribute mask: intensity and custom attribute
// always, colour for formats 2, 3, 5, 7, 8 and 10. Units factor 0.0.
//
// Memory: one chunk of compressed data and one chunk's records at a time
// (for plain LAS one read buffer), whatever the file's size. One object is
// used by one thread at a time. The point reads throw SourceReadError on
// damaged compressed data; a plain LAS that ends early ends the pass (see
// info().truncated).
class VORLIN_API SourceReader : public IReader2 {
 public:
  SourceReader();
  SourceReader(const SourceReader&) = delete;
  SourceReader& operator=(const SourceReader&) = delete;
  ~SourceReader() override;

  // False, with the reason in lastError(), when the file is not LAS or LAZ
  // this reader can read. Closes a file opened before.
  bool Open(const wchar_t* fileName) override;
  void Close() override;
  // Header bounds, presentCount, and the attribute mask above.
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

  // The open file's description; an empty description while closed.
  const LasSourceInfo& info() const;
  // Why the last Open, or the last failed read, failed; "" when nothing did.
  const std::string& lastError() const;

  // Raw access, for copying records unchanged. RewindRecords goes back to
  // the first record (false while closed). NextRecord copies the next
  // uncompressed record, info().recordLength bytes, into record; false at
  // the end of the records and on damaged data (then failed() is true and
  // lastError() says why). Shares the position with the point reads.
  [[nodiscard]] bool RewindRecords();
  [[nodiscard]] bool NextRecord(uint8_t* record);
  bool failed() const;

  // Off by default. On, compressed records are decoded ahead of the reads
  // by background threads of the reader's own (threads of them, 0 meaning
  // one per core, at most 8; never more than the file has chunks), each
  // decoding whole chunks, so that decoding overlaps the caller's work and
  // several chunks decode at once. Records, their order, the end of a pass
  // and a damaged chunk's error (after the same records) are as without it.
  // Memory grows, per thread, by one compressed chunk, one decoder's models
  // and the records of the largest chunk plus 256 KiB (at least 768 KiB, at
  // most 16 MiB). Takes effect at the next Open or rewind (ReadFirstPoint
  // rewinds); Close and the destructor stop the threads within one record.
  // Plain LAS is always read directly.
  void SetDecodeAhead(bool on, unsigned threads = 0);

  // Up to max of the pass's next points into points, each as
  // ReadNextPointEx would give it, in one call: the count delivered, 0 at
  // the end of the pass. Damaged compressed data ends a batch after the
  // records before it; the next call throws SourceReadError. Mixes freely
  // with the point reads (a pass starts with ReadFirstPoint(Ex) or
  // RewindRecords).
  size_t ReadNextPoints(LasPoint* points, size_t max);

  struct State;

 private:
  std::unique_ptr<State> m_state;
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
