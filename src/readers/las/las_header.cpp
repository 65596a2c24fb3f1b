#include "readers/las/las_header.h"

#include <string.h>

#include <algorithm>

#include "format/little_endian.h"

namespace vorlin {
namespace las {

namespace {

using format::GetF64;
using format::GetU16;
using format::GetU32;
using format::GetU64;
using Zelvane::Vorlin::LasSourceInfo;
using Zelvane::Vorlin::LasVlr;

// No real file has more records than this; more only cost memory.
constexpr uint32_t kMostRecords = 100000;
// Extended records beyond this size (waveform data) are not read into memory.
constexpr uint64_t kLargestHeldEvlr = uint64_t(64) << 20;

std::string FixedText(const uint8_t* p, size_t size) {
  size_t n = 0;
  while (n < size && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

bool ReadAt(platform::File& file, void* to, size_t size, uint64_t at, uint64_t fileSize) {
  if (at > fileSize || size > fileSize - at) return false;
  return size == 0 || file.ReadExactAt(to, size, at);
}

// VLRs sit between the header and the point data; a record that would run
// past the point data ends the list (some writers miscount them).
bool ReadVlrs(platform::File& file, uint64_t fileSize, uint32_t count, LasSourceInfo& info,
              std::string& error) {
  uint64_t at = info.headerSize;
  const uint64_t end = info.offsetToPointData;
  // A miscounted list still ends at the point data.
  count = std::min(count, kMostRecords);
  for (uint32_t i = 0; i < count && at + kVlrHeaderSize <= end; ++i) {
    uint8_t h[kVlrHeaderSize];
    if (!ReadAt(file, h, sizeof h, at, fileSize)) {
      error = "a variable-length record lies beyond the end of the file";
      return false;
    }
    const uint16_t length = GetU16(h + 20);
    if (at + kVlrHeaderSize + length > end) break;
    LasVlr vlr;
    vlr.userId = FixedText(h + 2, 16);
    vlr.recordId = GetU16(h + 18);
    vlr.description = FixedText(h + 22, 32);
    vlr.data.resize(length);
    if (!ReadAt(file, vlr.data.data(), length, at + kVlrHeaderSize, fileSize)) {
      error = "a variable-length record lies beyond the end of the file";
      return false;
    }
    info.vlrs.push_back(std::move(vlr));
    at += kVlrHeaderSize + length;
  }
  return true;
}

// Extended VLRs follow the points; each must lie wholly inside the file.
bool ReadEvlrs(platform::File& file, uint64_t fileSize, uint64_t start, uint32_t count,
               LasSourceInfo& info, std::string& error) {
  uint64_t at = start;
  if (count > kMostRecords) {
    error = "more than " + std::to_string(kMostRecords) + " extended variable-length records";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t h[kEvlrHeaderSize];
    if (!ReadAt(file, h, sizeof h, at, fileSize)) {
      error = "an extended variable-length record lies beyond the end of the file";
      return false;
    }
    const uint64_t length = GetU64(h + 20);
    if (length > fileSize - at - kEvlrHeaderSize) {
      error = "an extended variable-length record is longer than the file";
      return false;
    }
    LasVlr vlr;
    vlr.userId = FixedText(h + 2, 16);
    vlr.recordId = GetU16(h + 18);
    vlr.description = FixedText(h + 28, 32);
    vlr.extended = true;
    vlr.dataOmitted = length > kLargestHeldEvlr;
    if (!vlr.dataOmitted) vlr.data.resize(size_t(length));
    if (!ReadAt(file, vlr.data.data(), vlr.data.size(), at + kEvlrHeaderSize, fileSize)) {
      error = "an extended variable-length record could not be read";
      return false;
    }
    info.vlrs.push_back(std::move(vlr));
    at += kEvlrHeaderSize + length;
  }
  return true;
}

}  // namespace

int MinimumRecordLength(int pointFormat) {
  static const int kLengths[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  return pointFormat >= 0 && pointFormat <= kMaxPointFormat ? kLengths[pointFormat] : 0;
}

size_t ColorOffset(int pointFormat) {
  switch (pointFormat) {
    case 2:
      return 20;
    case 3:
    case 5:
      return 28;
    case 7:
    case 8:
    case 10:
      return 30;
    default:
      return 0;
  }
}

bool ReadDescription(platform::File& file, uint64_t fileSize, LasSourceInfo& info,
                     bool& compressedFormat, std::string& error) {
  info = LasSourceInfo();
  uint8_t h[kHeaderSize14] = {};
  if (fileSize < kHeaderSize10 || !ReadAt(file, h, kHeaderSize10, 0, fileSize)) {
    error = "shorter than a LAS header";
    return false;
  }
  if (memcmp(h, "LASF", 4) != 0) {
    error = "not a LAS file (no LASF signature)";
    return false;
  }
  info.versionMajor = h[kVersionMajorAt];
  info.versionMinor = h[kVersionMajorAt + 1];
  info.headerSize = GetU16(h + kHeaderSizeAt);
  info.offsetToPointData = GetU32(h + kOffsetToPointDataAt);
  if (info.headerSize < kHeaderSize10 || info.headerSize > fileSize ||
      info.offsetToPointData < info.headerSize || info.offsetToPointData > fileSize) {
    error = "header size or offset to point data contradict the file";
    return false;
  }
  const size_t extra = std::min<size_t>(info.headerSize, kHeaderSize14) - kHeaderSize10;
  if (extra > 0 && !ReadAt(file, h + kHeaderSize10, extra, kHeaderSize10, fileSize)) {
    error = "header cut short";
    return false;
  }
  info.headerBytes.resize(info.headerSize);
  if (!ReadAt(file, info.headerBytes.data(), info.headerSize, 0, fileSize)) {
    error = "header cut short";
    return false;
  }

  const uint8_t formatByte = h[kPointFormatAt];
  compressedFormat = (formatByte & kCompressionBits) != 0;
  info.pointFormat = formatByte & ~kCompressionBits;
  info.recordLength = GetU16(h + kRecordLengthAt);
  if (info.pointFormat > kMaxPointFormat) {
    error = "point format " + std::to_string(info.pointFormat) + " is not one of 0 to 10";
    return false;
  }
  if (info.recordLength < MinimumRecordLength(info.pointFormat)) {
    error = "record length " + std::to_string(info.recordLength) + " is below the " +
            std::to_string(MinimumRecordLength(info.pointFormat)) + " bytes of point format " +
            std::to_string(info.pointFormat);
    return false;
  }

  info.announcedCount = GetU32(h + kLegacyCountAt);
  // LAS 1.4 keeps a 64-bit count; the legacy field is 0 when it cannot hold it.
  const bool v14 = info.versionMajor > 1 || info.versionMinor >= 4;
  if (v14 && info.headerSize >= kHeaderSize14) {
    const uint64_t count = GetU64(h + kCountAt);
    if (count != 0) info.announcedCount = count;
  }
  for (int a = 0; a < 3; ++a) {
    info.scale[a] = GetF64(h + kScaleAt + 8 * a);
    info.offset[a] = GetF64(h + kOffsetAt + 8 * a);
    info.max[a] = GetF64(h + kMaxXAt + 16 * a);
    info.min[a] = GetF64(h + kMaxXAt + 16 * a + 8);
  }

  if (!ReadVlrs(file, fileSize, GetU32(h + kVlrCountAt), info, error)) return false;
  if (v14 && info.headerSize >= kHeaderSize14) {
    const uint64_t start = GetU64(h + kEvlrStartAt);
    const uint32_t count = GetU32(h + kEvlrCountAt);
    if (count > 0 && start >= info.offsetToPointData &&
        !ReadEvlrs(file, fileSize, start, count, info, error))
      return false;
  }
  DescribeGeoreferencing(info);
  return true;
}

uint64_t PointDataLimit(const LasSourceInfo& info, uint64_t fileSize) {
  uint64_t limit = fileSize;
  const uint8_t* h = info.headerBytes.data();
  // Waveform data or extended VLRs that start after the point data bound it.
  auto bound = [&](uint64_t start) {
    if (start > info.offsetToPointData && start < limit) limit = start;
  };
  const int version = info.versionMajor * 10 + info.versionMinor;
  if (version >= 13 && info.headerBytes.size() >= kHeaderSize13)
    bound(GetU64(h + kWaveformStartAt));
  if (version >= 14 && info.headerBytes.size() >= kHeaderSize14 && GetU32(h + kEvlrCountAt) > 0)
    bound(GetU64(h + kEvlrStartAt));
  return limit;
}

}  // namespace las
}  // namespace vorlin
