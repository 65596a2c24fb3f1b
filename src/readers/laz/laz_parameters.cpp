#include "readers/laz/laz_parameters.h"

#include "format/little_endian.h"
#include "readers/las/las_header.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

namespace {

using vorlin::format::GetU16;
using vorlin::format::GetU32;

constexpr size_t kFixedPart = 34;  // up to and including the item count
constexpr size_t kItemSize = 6;

}  // namespace

uint32_t Parameters::recordLength() const {
  uint32_t sum = 0;
  for (const Item& item : items) sum += item.size;
  return sum;
}

bool ParseParameters(const std::vector<uint8_t>& data, Parameters& out, std::string& error) {
  if (data.size() < kFixedPart) {
    error = "the compression record is too short";
    return false;
  }
  const uint8_t* d = data.data();
  out.compressor = GetU16(d);
  out.coder = GetU16(d + 2);
  out.versionMajor = d[4];
  out.versionMinor = d[5];
  out.versionRevision = GetU16(d + 6);
  out.options = GetU32(d + 8);
  out.chunkSize = GetU32(d + 12);
  // 8 + 8 bytes of extended-record bookkeeping that readers ignore.
  const size_t count = GetU16(d + 32);
  if (data.size() < kFixedPart + count * kItemSize) {
    error = "the compression record's item list is cut short";
    return false;
  }
  out.items.clear();
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = d + kFixedPart + i * kItemSize;
    out.items.push_back(Item{GetU16(e), GetU16(e + 2), GetU16(e + 4)});
  }
  if (out.compressor < 1 || out.compressor > 3) {
    error = "unknown LAZ compressor " + std::to_string(out.compressor);
    return false;
  }
  if (out.coder != 0) {
    error = "unknown LAZ coder " + std::to_string(out.coder);
    return false;
  }
  if (out.items.empty()) {
    error = "the compression record lists no item";
    return false;
  }
  if (out.compressor != 1 && out.chunkSize == 0) {
    error = "chunk size 0";
    return false;
  }
  return true;
}

std::vector<uint8_t> SerializeParameters(const Parameters& p) {
  vorlin::format::ByteWriter w;
  auto u16 = [&w](uint16_t v) {
    w.U8(uint8_t(v));
    w.U8(uint8_t(v >> 8));
  };
  u16(p.compressor);
  u16(p.coder);
  w.U8(p.versionMajor);
  w.U8(p.versionMinor);
  u16(p.versionRevision);
  w.U32(p.options);
  w.U32(p.chunkSize);
  w.U64(~uint64_t(0));  // no special extended records
  w.U64(~uint64_t(0));
  u16(uint16_t(p.items.size()));
  for (const Item& item : p.items) {
    u16(item.type);
    u16(item.size);
    u16(item.version);
  }
  return w.bytes();
}

Parameters ParametersForFormat(int pointFormat, uint16_t recordLength, uint32_t chunkSize) {
  Parameters p;
  p.chunkSize = chunkSize;
  const int minimum = vorlin::las::MinimumRecordLength(pointFormat);
  if (minimum == 0 || recordLength < minimum) return p;
  const uint16_t extra = uint16_t(recordLength - minimum);
  auto add = [&p](ItemType type, uint16_t size, uint16_t version) {
    p.items.push_back(Item{uint16_t(type), size, version});
  };
  if (pointFormat <= 5) {
    p.compressor = 2;
    add(ItemType::Point10, 20, 2);
    if (pointFormat == 1 || pointFormat >= 3) add(ItemType::GpsTime11, 8, 2);
    if (pointFormat == 2 || pointFormat == 3 || pointFormat == 5) add(ItemType::Rgb12, 6, 2);
    if (pointFormat == 4 || pointFormat == 5) add(ItemType::Wavepacket13, 29, 1);
    if (extra > 0) add(ItemType::Byte, extra, 2);
  } else {
    p.compressor = 3;
    add(ItemType::Point14, 30, 3);
    if (pointFormat == 7) add(ItemType::Rgb14, 6, 3);
    if (pointFormat == 8 || pointFormat == 10) add(ItemType::RgbNir14, 8, 3);
    if (pointFormat == 9 || pointFormat == 10) add(ItemType::Wavepacket14, 29, 3);
    if (extra > 0) add(ItemType::Byte14, extra, 3);
  }
  return p;
}

bool IsCompressionRecord(const LasVlr& vlr) {
  return vlr.userId == kCompressionUserId && vlr.recordId == kCompressionRecordId;
}

const LasVlr* FindCompressionRecord(const std::vector<LasVlr>& vlrs) {
  for (const LasVlr& vlr : vlrs)
    if (!vlr.extended && IsCompressionRecord(vlr)) return &vlr;
  return nullptr;
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
