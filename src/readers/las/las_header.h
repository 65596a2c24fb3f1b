#ifndef VORLIN_READERS_LAS_LAS_HEADER_H
#define VORLIN_READERS_LAS_LAS_HEADER_H

// The public header block and the variable-length records of a LAS file,
// read field by field and checked against the file's real size.

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "platform/file.h"
#include "vorlin/las_source.h"

namespace vorlin {
namespace las {

// Header field offsets from the start of the file.
constexpr size_t kHeaderSize10 = 227;  // LAS 1.0 to 1.2
constexpr size_t kHeaderSize13 = 235;  // adds the waveform data start
constexpr size_t kHeaderSize14 = 375;  // adds extended VLRs and 64-bit counts
constexpr size_t kVersionMajorAt = 24;
constexpr size_t kHeaderSizeAt = 94;
constexpr size_t kOffsetToPointDataAt = 96;
constexpr size_t kVlrCountAt = 100;
constexpr size_t kPointFormatAt = 104;
constexpr size_t kRecordLengthAt = 105;
constexpr size_t kLegacyCountAt = 107;
constexpr size_t kLegacyReturnCountsAt = 111;
constexpr size_t kScaleAt = 131;
constexpr size_t kOffsetAt = 155;
constexpr size_t kMaxXAt = 179;  // max x, min x, max y, min y, max z, min z
constexpr size_t kWaveformStartAt = 227;
constexpr size_t kEvlrStartAt = 235;
constexpr size_t kEvlrCountAt = 243;
constexpr size_t kCountAt = 247;
constexpr size_t kReturnCountsAt = 255;  // fifteen 64-bit counts
constexpr size_t kVlrHeaderSize = 54;
constexpr size_t kEvlrHeaderSize = 60;

// The compressed point format byte has bit 7 (and from some writers bit 6)
// set on top of the format.
constexpr uint8_t kCompressionBits = 0xC0;

constexpr int kMaxPointFormat = 10;
// Shortest record of each point format.
int MinimumRecordLength(int pointFormat);
// Offset of red, green and blue inside a record, 0 for formats without colour.
size_t ColorOffset(int pointFormat);

// Reads the header, the VLRs and the extended VLRs of file (fileSize bytes)
// into info; presentCount and truncated are left for the caller, which knows
// how the records are stored. False, with a reason in error, when the file is
// not LAS or its header contradicts itself or the file's size.
bool ReadDescription(platform::File& file, uint64_t fileSize,
                     Zelvane::Vorlin::LasSourceInfo& info, bool& compressedFormat,
                     std::string& error);

// Where the point records of a plain LAS file must end: the file's end, or
// an earlier start of waveform data or of extended VLRs.
uint64_t PointDataLimit(const Zelvane::Vorlin::LasSourceInfo& info, uint64_t fileSize);

// The coordinate system records rendered as text; sets info's two
// georeferencing fields.
void DescribeGeoreferencing(Zelvane::Vorlin::LasSourceInfo& info);

}  // namespace las
}  // namespace vorlin

#endif
