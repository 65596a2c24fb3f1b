// GPS time: a double, coded through its bit pattern as a 64-bit integer.
// Consecutive pulses usually differ by a steady amount, so the coders
// predict the next difference as a multiple of the last one.

#include <cmath>

#include "format/little_endian.h"
#include "readers/laz/integer_compressor.h"
#include "readers/laz/pointwise_item.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {
namespace {

using vorlin::format::GetU64;
using vorlin::format::PutU64;

int32_t Times(int32_t multiplier, int32_t diff) {
  return int32_t(uint32_t(multiplier) * uint32_t(diff));
}
bool FitsInt32(int64_t v) { return v == int64_t(int32_t(v)); }

// Version 1: one time sequence.
constexpr uint32_t kV1MultiSymbols = 512;

class GpsTime11DecoderV1 final : public PointwiseItemDecoder {
 public:
  GpsTime11DecoderV1() : m_multi(kV1MultiSymbols), m_zeroDiff(3), m_ic(32, 6) {}

  void init(const uint8_t* first) override {
    m_multi.reset();
    m_zeroDiff.reset();
    m_ic.initDecoder();
    m_lastDiff = 0;
    m_extremes = 0;
    m_last = GetU64(first);
  }

  void decode(ArithmeticDecoder& dec, uint8_t* item) override {
    if (m_lastDiff == 0) {
      const uint32_t sym = dec.decodeSymbol(m_zeroDiff);
      if (sym == 1) {
        m_lastDiff = m_ic.decompress(dec, 0, 0);
        m_last += uint64_t(int64_t(m_lastDiff));
      } else if (sym == 2) {
        m_last = dec.readInt64();
      }
    } else {
      const int32_t multi = int32_t(dec.decodeSymbol(m_multi));
      if (multi < int32_t(kV1MultiSymbols) - 2) {
        int32_t diff;
        if (multi == 1) {
          diff = m_ic.decompress(dec, m_lastDiff, 1);
          m_lastDiff = diff;
          m_extremes = 0;
        } else if (multi == 0) {
          diff = m_ic.decompress(dec, m_lastDiff / 4, 2);
          countExtreme(diff);
        } else {
          diff = m_ic.decompress(dec, Times(multi, m_lastDiff), multi < 10 ? 3 : (multi < 50 ? 4 : 5));
          if (multi == int32_t(kV1MultiSymbols) - 3) countExtreme(diff);
        }
        m_last += uint64_t(int64_t(diff));
      } else if (multi < int32_t(kV1MultiSymbols) - 1) {
        m_last = dec.readInt64();
      }
    }
    PutU64(item, m_last);
  }

 private:
  // After four extreme multipliers in a row the pulse rate has changed:
  // adopt the new difference.
  void countExtreme(int32_t diff) {
    if (++m_extremes > 3) {
      m_lastDiff = diff;
      m_extremes = 0;
    }
  }

  ArithmeticModel m_multi, m_zeroDiff;
  IntegerCompressor m_ic;
  int32_t m_lastDiff = 0;
  uint32_t m_extremes = 0;
  uint64_t m_last = 0;
};

// Version 2: up to four interleaved time sequences (several scanners or
// channels in one file), each with its own last value and difference.
constexpr int32_t kMulti = 500;
constexpr int32_t kMultiMinus = -10;
constexpr uint32_t kMultiUnchanged = kMulti - kMultiMinus + 1;  // 511
constexpr uint32_t kMultiCodeFull = kMulti - kMultiMinus + 2;   // 512
constexpr uint32_t kMultiSymbols = kMulti - kMultiMinus + 6;    // 516

struct GpsTimeStateV2 {
  uint64_t last[4];
  int32_t lastDiff[4];
  uint32_t extremes[4];
  uint32_t current, newest;

  void reset(const uint8_t* first) {
    last[0] = GetU64(first);
    last[1] = last[2] = last[3] = 0;
    for (int i = 0; i < 4; ++i) lastDiff[i] = 0, extremes[i] = 0;
    current = newest = 0;
  }
  void countExtreme(int32_t diff) {
    if (++extremes[current] > 3) {
      lastDiff[current] = diff;
      extremes[current] = 0;
    }
  }
  // A new sequence replaces the oldest one.
  void startSequence(uint64_t value) {
    newest = (newest + 1) & 3;
    current = newest;
    last[current] = value;
    lastDiff[current] = 0;
    extremes[current] = 0;
  }
};

class GpsTime11DecoderV2 final : public PointwiseItemDecoder {
 public:
  GpsTime11DecoderV2() : m_multi(kMultiSymbols), m_zeroDiff(6), m_ic(32, 9) {}

  void init(const uint8_t* first) override {
    m_multi.reset();
    m_zeroDiff.reset();
    m_ic.initDecoder();
    m_s.reset(first);
  }

  void decode(ArithmeticDecoder& dec, uint8_t* item) override {
    // A valid stream switches sequence at most once per record; the bound
    // keeps a damaged one from looping.
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (!decodeOnce(dec)) break;
    }
    PutU64(item, m_s.last[m_s.current]);
  }

 private:
  // True when the record switched to another sequence and must be read again.
  bool decodeOnce(ArithmeticDecoder& dec) {
    const uint32_t c = m_s.current;
    if (m_s.lastDiff[c] == 0) {
      const uint32_t sym = dec.decodeSymbol(m_zeroDiff);
      if (sym == 1) {
        m_s.lastDiff[c] = m_ic.decompress(dec, 0, 0);
        m_s.last[c] += uint64_t(int64_t(m_s.lastDiff[c]));
        m_s.extremes[c] = 0;
      } else if (sym == 2) {
        readFull(dec);
      } else if (sym > 2) {
        m_s.current = (c + sym - 2) & 3;
        return true;
      }
      return false;
    }
    const uint32_t sym = dec.decodeSymbol(m_multi);
    if (sym == 1) {
      m_s.last[c] += uint64_t(int64_t(m_ic.decompress(dec, m_s.lastDiff[c], 1)));
      m_s.extremes[c] = 0;
    } else if (sym < kMultiUnchanged) {
      int32_t diff;
      if (sym == 0) {
        diff = m_ic.decompress(dec, 0, 7);
        m_s.countExtreme(diff);
      } else if (sym < uint32_t(kMulti)) {
        diff = m_ic.decompress(dec, Times(int32_t(sym), m_s.lastDiff[c]), sym < 10 ? 2 : 3);
      } else if (sym == uint32_t(kMulti)) {
        diff = m_ic.decompress(dec, Times(kMulti, m_s.lastDiff[c]), 4);
        m_s.countExtreme(diff);
      } else {
        const int32_t multi = kMulti - int32_t(sym);  // -1 down to -10
        if (multi > kMultiMinus) {
          diff = m_ic.decompress(dec, Times(multi, m_s.lastDiff[c]), 5);
        } else {
          diff = m_ic.decompress(dec, Times(kMultiMinus, m_s.lastDiff[c]), 6);
          m_s.countExtreme(diff);
        }
      }
      m_s.last[c] += uint64_t(int64_t(diff));
    } else if (sym == kMultiCodeFull) {
      readFull(dec);
    } else if (sym > kMultiCodeFull) {
      m_s.current = (c + sym - kMultiCodeFull) & 3;
      return true;
    }
    return false;
  }

  // A time too far from the current sequence: its high half predicted from
  // the sequence's, its low half raw.
  void readFull(ArithmeticDecoder& dec) {
    const int32_t high = m_ic.decompress(dec, int32_t(m_s.last[m_s.current] >> 32), 8);
    const uint64_t value = (uint64_t(uint32_t(high)) << 32) | dec.readInt();
    m_s.startSequence(value);
  }

  ArithmeticModel m_multi, m_zeroDiff;
  IntegerCompressor m_ic;
  GpsTimeStateV2 m_s;
};

class GpsTime11EncoderV2 final : public PointwiseItemEncoder {
 public:
  GpsTime11EncoderV2() : m_multi(kMultiSymbols, true), m_zeroDiff(6, true), m_ic(32, 9) {}

  void init(const uint8_t* first) override {
    m_multi.reset();
    m_zeroDiff.reset();
    m_ic.initEncoder();
    m_s.reset(first);
  }

  void encode(ArithmeticEncoder& enc, const uint8_t* item) override {
    const uint64_t value = GetU64(item);
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!encodeOnce(enc, value)) return;
    }
  }

 private:
  // Another sequence whose last value is within 32 bits of value, as an
  // offset 1-3 from the current one; 0 when none.
  uint32_t findSequence(uint64_t value) const {
    for (uint32_t i = 1; i < 4; ++i) {
      if (FitsInt32(int64_t(value - m_s.last[(m_s.current + i) & 3]))) return i;
    }
    return 0;
  }

  void writeFull(ArithmeticEncoder& enc, uint64_t value) {
    m_ic.compress(enc, int32_t(m_s.last[m_s.current] >> 32), int32_t(value >> 32), 8);
    enc.writeInt(uint32_t(value));
    m_s.startSequence(value);
  }

  // True when it switched sequence and the value must be coded again.
  bool encodeOnce(ArithmeticEncoder& enc, uint64_t value) {
    const uint32_t c = m_s.current;
    const int64_t diff64 = int64_t(value - m_s.last[c]);
    const int32_t diff = int32_t(diff64);
    if (m_s.lastDiff[c] == 0) {
      if (diff64 == 0) {
        enc.encodeSymbol(m_zeroDiff, 0);
      } else if (FitsInt32(diff64)) {
        enc.encodeSymbol(m_zeroDiff, 1);
        m_ic.compress(enc, 0, diff, 0);
        m_s.lastDiff[c] = diff;
        m_s.extremes[c] = 0;
        m_s.last[c] = value;
      } else if (const uint32_t other = findSequence(value)) {
        enc.encodeSymbol(m_zeroDiff, other + 2);
        m_s.current = (c + other) & 3;
        return true;
      } else {
        enc.encodeSymbol(m_zeroDiff, 2);
        writeFull(enc, value);
      }
      return false;
    }
    if (diff64 == 0) {
      enc.encodeSymbol(m_multi, kMultiUnchanged);
      return false;
    }
    if (!FitsInt32(diff64)) {
      if (const uint32_t other = findSequence(value)) {
        enc.encodeSymbol(m_multi, kMultiCodeFull + other);
        m_s.current = (c + other) & 3;
        return true;
      }
      enc.encodeSymbol(m_multi, kMultiCodeFull);
      writeFull(enc, value);
      return false;
    }
    const int32_t lastDiff = m_s.lastDiff[c];
    // Rounded ratio to the last difference, in single precision as the
    // format's reference encoder computes it (any choice decodes; this one
    // compresses as expected). Clamped before the conversion to int.
    float ratio = float(diff) / float(lastDiff);
    ratio = std::fmax(-1.0e6f, std::fmin(1.0e6f, ratio));
    const int32_t multi = ratio >= 0 ? int32_t(ratio + 0.5f) : int32_t(ratio - 0.5f);
    if (multi == 1) {
      enc.encodeSymbol(m_multi, 1);
      m_ic.compress(enc, lastDiff, diff, 1);
      m_s.extremes[c] = 0;
    } else if (multi > 0 && multi < kMulti) {
      enc.encodeSymbol(m_multi, uint32_t(multi));
      m_ic.compress(enc, Times(multi, lastDiff), diff, multi < 10 ? 2 : 3);
    } else if (multi >= kMulti) {
      enc.encodeSymbol(m_multi, uint32_t(kMulti));
      m_ic.compress(enc, Times(kMulti, lastDiff), diff, 4);
      m_s.countExtreme(diff);
    } else if (multi < 0 && multi > kMultiMinus) {
      enc.encodeSymbol(m_multi, uint32_t(kMulti - multi));
      m_ic.compress(enc, Times(multi, lastDiff), diff, 5);
    } else if (multi < 0) {
      enc.encodeSymbol(m_multi, uint32_t(kMulti - kMultiMinus));
      m_ic.compress(enc, Times(kMultiMinus, lastDiff), diff, 6);
      m_s.countExtreme(diff);
    } else {
      enc.encodeSymbol(m_multi, 0);
      m_ic.compress(enc, 0, diff, 7);
      m_s.countExtreme(diff);
    }
    m_s.last[c] = value;
    return false;
  }

  ArithmeticModel m_multi, m_zeroDiff;
  IntegerCompressor m_ic;
  GpsTimeStateV2 m_s;
};

}  // namespace

std::unique_ptr<PointwiseItemDecoder> MakeGpsTime11Decoder(uint16_t version) {
  if (version == 1) return std::make_unique<GpsTime11DecoderV1>();
  if (version == 2) return std::make_unique<GpsTime11DecoderV2>();
  return nullptr;
}

std::unique_ptr<PointwiseItemEncoder> MakeGpsTime11Encoder(uint16_t version) {
  if (version == 2) return std::make_unique<GpsTime11EncoderV2>();
  return nullptr;
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
