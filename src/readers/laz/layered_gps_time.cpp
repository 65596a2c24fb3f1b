#include "readers/laz/layered_gps_time.h"

#include <cmath>

namespace Zelvane {
namespace Vorlin {
namespace laz {

namespace {

// Multipliers 1..kMultiMax-1 are coded directly, kMultiMax stands for any
// larger one; negative ones down to kMultiMin+1 as kMultiMax - m.
constexpr int32_t kMultiMax = 500;
constexpr int32_t kMultiMin = -10;
// Symbol for a time coded in full; the three after it switch sequence.
constexpr uint32_t kCodeFull = uint32_t(kMultiMax - kMultiMin + 1);
constexpr uint32_t kMultiSymbols = uint32_t(kMultiMax - kMultiMin + 5);

int32_t Times(int32_t a, int32_t b) { return int32_t(uint32_t(a) * uint32_t(b)); }

// Fits a 64-bit difference in 32 bits?
bool Fits32(int64_t v) { return v == int64_t(int32_t(v)); }

int64_t Minus(uint64_t a, uint64_t b) { return int64_t(a - b); }

// Counts an outlying difference; after four in a row it becomes the new
// reference difference.
void CountExtreme(GpsTimeState& s, int32_t diff) {
  if (++s.extremes[s.last] > 3) {
    s.diff[s.last] = diff;
    s.extremes[s.last] = 0;
  }
}

}  // namespace

GpsTimeState::GpsTimeState(bool compress)
    : multiplier(new ArithmeticModel(kMultiSymbols, compress)),
      afterZeroDiff(new ArithmeticModel(5, compress)),
      differences(new IntegerCompressor(32, 9)) {}

void GpsTimeState::start(uint64_t firstTime) {
  multiplier->reset();
  afterZeroDiff->reset();
  last = next = 0;
  for (int i = 0; i < 4; ++i) {
    time[i] = 0;
    diff[i] = 0;
    extremes[i] = 0;
  }
  time[0] = firstTime;
}

bool DecodeGpsTime(ArithmeticDecoder& dec, GpsTimeState& s) {
  // A valid stream switches sequence at most once per time.
  for (int attempt = 0; attempt < 3; ++attempt) {
    IntegerCompressor& ic = *s.differences;
    if (s.diff[s.last] == 0) {
      uint32_t sym = dec.decodeSymbol(*s.afterZeroDiff);
      if (sym == 0) {
        s.diff[s.last] = ic.decompress(dec, 0, 0);
        s.time[s.last] += uint64_t(int64_t(s.diff[s.last]));
        s.extremes[s.last] = 0;
      } else if (sym == 1) {
        s.next = (s.next + 1) & 3;
        uint32_t high = uint32_t(ic.decompress(dec, int32_t(uint32_t(s.time[s.last] >> 32)), 8));
        s.time[s.next] = (uint64_t(high) << 32) | dec.readInt();
        s.last = s.next;
        s.diff[s.last] = 0;
        s.extremes[s.last] = 0;
      } else {
        s.last = (s.last + sym - 1) & 3;
        continue;
      }
      return true;
    }
    uint32_t sym = dec.decodeSymbol(*s.multiplier);
    if (sym == 1) {
      s.time[s.last] += uint64_t(int64_t(ic.decompress(dec, s.diff[s.last], 1)));
      s.extremes[s.last] = 0;
    } else if (sym < kCodeFull) {
      int32_t diff;
      int32_t previous = s.diff[s.last];
      if (sym == 0) {
        diff = ic.decompress(dec, 0, 7);
        CountExtreme(s, diff);
      } else if (sym < uint32_t(kMultiMax)) {
        diff = ic.decompress(dec, Times(int32_t(sym), previous), sym < 10 ? 2 : 3);
      } else if (sym == uint32_t(kMultiMax)) {
        diff = ic.decompress(dec, Times(kMultiMax, previous), 4);
        CountExtreme(s, diff);
      } else {
        int32_t multi = kMultiMax - int32_t(sym);
        if (multi > kMultiMin) {
          diff = ic.decompress(dec, Times(multi, previous), 5);
        } else {
          diff = ic.decompress(dec, Times(kMultiMin, previous), 6);
          CountExtreme(s, diff);
        }
      }
      s.time[s.last] += uint64_t(int64_t(diff));
    } else if (sym == kCodeFull) {
      s.next = (s.next + 1) & 3;
      uint32_t high = uint32_t(ic.decompress(dec, int32_t(uint32_t(s.time[s.last] >> 32)), 8));
      s.time[s.next] = (uint64_t(high) << 32) | dec.readInt();
      s.last = s.next;
      s.diff[s.last] = 0;
      s.extremes[s.last] = 0;
    } else {
      s.last = (s.last + sym - kCodeFull) & 3;
      continue;
    }
    return true;
  }
  return false;
}

namespace {

// Starts a new sequence with the time coded in full.
void EncodeFull(ArithmeticEncoder& enc, GpsTimeState& s, uint64_t time) {
  s.differences->compress(enc, int32_t(uint32_t(s.time[s.last] >> 32)), int32_t(uint32_t(time >> 32)),
                          8);
  enc.writeInt(uint32_t(time));
  s.next = (s.next + 1) & 3;
  s.last = s.next;
  s.diff[s.last] = 0;
  s.extremes[s.last] = 0;
}

// The sequence other than the current one that the time is close to, 1..3
// steps on, or 0.
uint32_t OtherSequence(const GpsTimeState& s, uint64_t time) {
  for (uint32_t i = 1; i < 4; ++i) {
    if (Fits32(Minus(time, s.time[(s.last + i) & 3]))) return i;
  }
  return 0;
}

// Rounds like the format's writers, but without overflowing the integer.
int32_t Quantize(float f) {
  double q = f >= 0 ? double(f) + 0.5 : double(f) - 0.5;
  if (!(q < 2147483647.0)) return 2147483647;
  if (!(q > -2147483648.0)) return -2147483647 - 1;
  return int32_t(q);
}

}  // namespace

void EncodeGpsTime(ArithmeticEncoder& enc, GpsTimeState& s, uint64_t time) {
  for (;;) {
    IntegerCompressor& ic = *s.differences;
    int64_t wide = Minus(time, s.time[s.last]);
    int32_t diff = int32_t(wide);
    if (s.diff[s.last] == 0) {
      if (Fits32(wide)) {
        enc.encodeSymbol(*s.afterZeroDiff, 0);
        ic.compress(enc, 0, diff, 0);
        s.diff[s.last] = diff;
        s.extremes[s.last] = 0;
      } else if (uint32_t other = OtherSequence(s, time)) {
        enc.encodeSymbol(*s.afterZeroDiff, other + 1);
        s.last = (s.last + other) & 3;
        continue;
      } else {
        enc.encodeSymbol(*s.afterZeroDiff, 1);
        EncodeFull(enc, s, time);
      }
      s.time[s.last] = time;
      return;
    }
    if (!Fits32(wide)) {
      if (uint32_t other = OtherSequence(s, time)) {
        enc.encodeSymbol(*s.multiplier, kCodeFull + other);
        s.last = (s.last + other) & 3;
        continue;
      }
      enc.encodeSymbol(*s.multiplier, kCodeFull);
      EncodeFull(enc, s, time);
      s.time[s.last] = time;
      return;
    }
    int32_t previous = s.diff[s.last];
    int32_t multi = Quantize(float(diff) / float(previous));
    if (multi == 1) {
      enc.encodeSymbol(*s.multiplier, 1);
      ic.compress(enc, previous, diff, 1);
      s.extremes[s.last] = 0;
    } else if (multi > 0) {
      if (multi < kMultiMax) {
        enc.encodeSymbol(*s.multiplier, uint32_t(multi));
        ic.compress(enc, Times(multi, previous), diff, multi < 10 ? 2 : 3);
      } else {
        enc.encodeSymbol(*s.multiplier, uint32_t(kMultiMax));
        ic.compress(enc, Times(kMultiMax, previous), diff, 4);
        CountExtreme(s, diff);
      }
    } else if (multi < 0) {
      if (multi > kMultiMin) {
        enc.encodeSymbol(*s.multiplier, uint32_t(kMultiMax - multi));
        ic.compress(enc, Times(multi, previous), diff, 5);
      } else {
        enc.encodeSymbol(*s.multiplier, uint32_t(kMultiMax - kMultiMin));
        ic.compress(enc, Times(kMultiMin, previous), diff, 6);
        CountExtreme(s, diff);
      }
    } else {
      enc.encodeSymbol(*s.multiplier, 0);
      ic.compress(enc, 0, diff, 7);
      CountExtreme(s, diff);
    }
    s.time[s.last] = time;
    return;
  }
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
