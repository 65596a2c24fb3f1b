#ifndef VORLIN_BASE_BIT_ARRAY_H
#define VORLIN_BASE_BIT_ARRAY_H

#include <stdint.h>

// A plain bit set: bit i is bit (i mod 8) of byte i / 8. It always holds one
// byte more than the bits need (bits / 8 + 1).
class BitArray {
 public:
  BitArray() = default;
  ~BitArray();
  BitArray(const BitArray&) = delete;
  BitArray& operator=(const BitArray&) = delete;

  // Storage for n bits; contents undefined.
  void Init(int32_t bits);
  // Fresh cleared storage for n bits.
  void Resize(int32_t bits);
  void Clear();
  void Release();

  int32_t Size() const { return m_bitCount; }
  int32_t ByteCount() const { return m_byteCount; }
  const uint8_t* Bytes() const { return m_bytes; }
  uint8_t* Bytes() { return m_bytes; }

  void Set(int32_t i) { m_bytes[i >> 3] |= uint8_t(1u << (i & 7)); }
  void Reset(int32_t i) { m_bytes[i >> 3] &= uint8_t(~(1u << (i & 7))); }
  bool Test(int32_t i) const { return (m_bytes[i >> 3] >> (i & 7)) & 1; }

  // Any bit set in the four bytes starting at byte i / 8 (only the bytes that
  // exist are looked at).
  bool AnyWord(int32_t i) const;
  // Any of the n bytes starting at byte i / 8 non-zero (clamped likewise).
  bool AnyBytes(int32_t i, int32_t n) const;
  // Number of set bits over all bytes.
  int64_t Count() const;

 private:
  uint8_t* m_bytes = nullptr;
  int32_t m_byteCount = 0;
  int32_t m_bitCount = 0;
};

#endif
