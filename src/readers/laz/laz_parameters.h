#ifndef VORLIN_READERS_LAZ_LAZ_PARAMETERS_H
#define VORLIN_READERS_LAZ_LAZ_PARAMETERS_H

// The LAZ compression record (user "laszip encoded", id 22204): which
// compressor, chunk size and item list the point data were written with.

#include <stdint.h>

#include <string>
#include <vector>

#include "readers/laz/laz_codec.h"
#include "vorlin/las_source.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

constexpr const char* kCompressionUserId = "laszip encoded";
constexpr uint16_t kCompressionRecordId = 22204;
constexpr uint32_t kVariableChunkSize = 0xFFFFFFFFu;
constexpr uint32_t kDefaultChunkSize = 50000;

struct Parameters {
  uint16_t compressor = 2;
  uint16_t coder = 0;
  uint8_t versionMajor = 3, versionMinor = 4;
  uint16_t versionRevision = 3;
  uint32_t options = 0;
  uint32_t chunkSize = kDefaultChunkSize;
  std::vector<Item> items;

  // Bytes of one record as the items describe it.
  uint32_t recordLength() const;
};

// Parses the record's data; false, with a reason, when it is malformed or
// names a compressor or coder this reader does not know.
bool ParseParameters(const std::vector<uint8_t>& data, Parameters& out, std::string& error);
std::vector<uint8_t> SerializeParameters(const Parameters& parameters);

// The items a writer uses for a point format and record length (extra bytes
// past the format's minimum become a byte item); empty for an unknown
// format. Formats 0-5 use the point-wise chunked compressor, 6-10 the
// layered one.
Parameters ParametersForFormat(int pointFormat, uint16_t recordLength, uint32_t chunkSize);

// The compression record among vlrs, or null.
const LasVlr* FindCompressionRecord(const std::vector<LasVlr>& vlrs);
bool IsCompressionRecord(const LasVlr& vlr);

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
