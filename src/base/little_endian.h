#ifndef VORLIN_BASE_LITTLE_ENDIAN_H
#define VORLIN_BASE_LITTLE_ENDIAN_H

#include <stdint.h>
#include <string.h>

#include <vector>

namespace vorlin {
namespace format {

// Explicit little-endian encoding of the binary formats' fields.
inline void PutU8(uint8_t* p, uint8_t v) { p[0] = v; }
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutI32(uint8_t* p, int32_t v) { PutU32(p, uint32_t(v)); }
inline void PutF32(uint8_t* p, float v) {
  uint32_t bits;
  memcpy(&bits, &v, 4);
  PutU32(p, bits);
}
inline void PutF64(uint8_t* p, double v) {
  uint64_t bits;
  memcpy(&bits, &v, 8);
  PutU64(p, bits);
}

inline uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
         (uint32_t(p[3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p) {
  return uint64_t(GetU32(p)) | (uint64_t(GetU32(p + 4)) << 32);
}
inline int32_t GetI32(const uint8_t* p) { return int32_t(GetU32(p)); }
inline float GetF32(const uint8_t* p) {
  uint32_t bits = GetU32(p);
  float v;
  memcpy(&v, &bits, 4);
  return v;
}
inline double GetF64(const uint8_t* p) {
  uint64_t bits = GetU64(p);
  double v;
  memcpy(&v, &bits, 8);
  return v;
}

// Appends fields to a growing byte buffer.
class ByteWriter {
 public:
  void U8(uint8_t v) { m_bytes.push_back(v); }
  void U32(uint32_t v) { PutU32(Grow(4), v); }
  void U64(uint64_t v) { PutU64(Grow(8), v); }
  void I32(int32_t v) { PutI32(Grow(4), v); }
  void F32(float v) { PutF32(Grow(4), v); }
  void F64(double v) { PutF64(Grow(8), v); }
  void Bytes(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), p, p + size);
  }
  void Zeros(size_t size) { m_bytes.insert(m_bytes.end(), size, 0); }
  const std::vector<uint8_t>& bytes() const { return m_bytes; }
  std::vector<uint8_t>& bytes() { return m_bytes; }

 private:
  uint8_t* Grow(size_t n) {
    m_bytes.resize(m_bytes.size() + n);
    return m_bytes.data() + m_bytes.size() - n;
  }
  std::vector<uint8_t> m_bytes;
};

}  // namespace format
}  // namespace vorlin

#endif
