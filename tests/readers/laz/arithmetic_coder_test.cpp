// Round trips of the range coder and the integer compressor over random
// streams, and their behaviour on damaged input.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "readers/laz/arithmetic_decoder.h"
#include "readers/laz/arithmetic_encoder.h"
#include "readers/laz/integer_compressor.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {
namespace {

// One coding step of a mixed stream: which primitive and its value.
struct Step {
  int kind;  // 0 bit, 1 symbol, 2 raw bits, 3 byte, 4 short, 5 int, 6 int64
  uint32_t width;
  uint64_t value;
};

// Skewed values so the models actually adapt (uniform input would not
// exercise the update schedule's effect on later intervals).
std::vector<Step> RandomSteps(uint32_t seed, size_t count, uint32_t symbols) {
  std::mt19937_64 rng(seed);
  std::geometric_distribution<uint32_t> skew(0.2);
  std::vector<Step> steps;
  for (size_t i = 0; i < count; ++i) {
    Step s{int(rng() % 7), 0, 0};
    switch (s.kind) {
      case 0: s.value = (rng() % 10) < 8; break;
      case 1: s.value = std::min<uint32_t>(skew(rng), symbols - 1); break;
      case 2: s.width = 1 + uint32_t(rng() % 32); s.value = rng() & ((uint64_t(1) << s.width) - 1); break;
      case 3: s.value = rng() & 0xFF; break;
      case 4: s.value = rng() & 0xFFFF; break;
      case 5: s.value = rng() & 0xFFFFFFFF; break;
      default: s.value = rng(); break;
    }
    steps.push_back(s);
  }
  return steps;
}

std::vector<uint8_t> Encode(const std::vector<Step>& steps, uint32_t symbols) {
  std::vector<uint8_t> out = {0xAB};  // bytes before the stream stay untouched
  ArithmeticEncoder enc;
  enc.init(&out);
  ArithmeticBitModel bit;
  ArithmeticModel model(symbols, true);
  for (const Step& s : steps) {
    switch (s.kind) {
      case 0: enc.encodeBit(bit, uint32_t(s.value)); break;
      case 1: enc.encodeSymbol(model, uint32_t(s.value)); break;
      case 2: enc.writeBits(s.width, uint32_t(s.value)); break;
      case 3: enc.writeByte(uint8_t(s.value)); break;
      case 4: enc.writeShort(uint16_t(s.value)); break;
      case 5: enc.writeInt(uint32_t(s.value)); break;
      default: enc.writeInt64(s.value); break;
    }
  }
  enc.done();
  return out;
}

TEST(ArithmeticCoder, MixedStreamsRoundTripForSmallAndTabledAlphabets) {
  for (uint32_t symbols : {2u, 16u, 17u, 256u, 2048u}) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      const std::vector<Step> steps = RandomSteps(seed * 977 + symbols, 20000, symbols);
      const std::vector<uint8_t> bytes = Encode(steps, symbols);
      ASSERT_EQ(bytes[0], 0xAB);
      ArithmeticDecoder dec;
      dec.init(bytes.data() + 1, bytes.size() - 1);
      ArithmeticBitModel bit;
      ArithmeticModel model(symbols);
      for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        uint64_t got;
        switch (s.kind) {
          case 0: got = dec.decodeBit(bit); break;
          case 1: got = dec.decodeSymbol(model); break;
          case 2: got = dec.readBits(s.width); break;
          case 3: got = dec.readByte(); break;
          case 4: got = dec.readShort(); break;
          case 5: got = dec.readInt(); break;
          default: got = dec.readInt64(); break;
        }
        ASSERT_EQ(got, s.value) << "symbols " << symbols << " seed " << seed << " step " << i;
      }
      // The padding written by done() is exactly the decoder's look-ahead.
      EXPECT_FALSE(dec.overrun());
      EXPECT_EQ(dec.position(), bytes.size() - 1);
    }
  }
}

TEST(ArithmeticCoder, TruncatedOrGarbageInputIsFlaggedAndStaysInBounds) {
  const std::vector<Step> steps = RandomSteps(7, 5000, 300);
  const std::vector<uint8_t> bytes = Encode(steps, 300);
  ArithmeticDecoder dec;
  dec.init(bytes.data() + 1, (bytes.size() - 1) / 2);
  ArithmeticModel model(300);
  ArithmeticBitModel bit;
  for (int i = 0; i < 20000; ++i) {
    ASSERT_LT(dec.decodeSymbol(model), 300u);
    dec.decodeBit(bit);
    dec.readBits(27);
  }
  EXPECT_TRUE(dec.overrun());

  // All-ones input is a code value no encoder writes.
  std::vector<uint8_t> ones(64, 0xFF);
  dec.init(ones.data(), ones.size());
  ArithmeticModel wide(2048);
  for (int i = 0; i < 1000; ++i) ASSERT_LT(dec.decodeSymbol(wide), 2048u);
  EXPECT_TRUE(dec.overrun());

  dec.init(nullptr, 0);
  EXPECT_EQ(dec.readInt(), 0u);
  EXPECT_TRUE(dec.overrun());
}

// Values near the ends of each width, where the wrap-around matters.
TEST(IntegerCompressor, RoundTripsAcrossWidthsRangesAndContexts) {
  struct Config { uint32_t bits, contexts, bitsHigh, range; };
  const Config configs[] = {{8, 2, 8, 0}, {16, 4, 8, 0}, {32, 22, 8, 0}, {32, 1, 10, 0},
                            {16, 1, 8, 1000}, {8, 3, 8, 256}};
  for (const Config& c : configs) {
    std::mt19937 rng(c.bits * 31 + c.contexts);
    const uint32_t span = c.range ? c.range : (c.bits >= 32 ? 0 : 1u << c.bits);
    auto draw = [&]() -> int32_t {
      const uint32_t r = uint32_t(rng());
      if (span == 0) {
        switch (r % 4) {
          case 0: return INT32_MIN + int32_t(r % 3);
          case 1: return INT32_MAX - int32_t(r % 3);
          default: return int32_t(r % 2001) - 1000;
        }
      }
      return int32_t(r % span);
    };
    std::vector<int32_t> pred, real;
    std::vector<uint32_t> ctx;
    for (int i = 0; i < 20000; ++i) {
      pred.push_back(draw());
      real.push_back(i % 3 ? int32_t(uint32_t(pred.back()) + rng() % 7 - 3) : draw());
      if (span && (real.back() < 0 || uint32_t(real.back()) >= span)) real.back() = pred.back();
      ctx.push_back(rng() % c.contexts);
    }
    std::vector<uint8_t> bytes;
    ArithmeticEncoder enc;
    enc.init(&bytes);
    IntegerCompressor ic(c.bits, c.contexts, c.bitsHigh, c.range);
    ic.initEncoder();
    std::vector<uint32_t> ks;
    for (size_t i = 0; i < pred.size(); ++i) {
      ic.compress(enc, pred[i], real[i], ctx[i]);
      ks.push_back(ic.k());
    }
    enc.done();

    ArithmeticDecoder dec;
    dec.init(bytes.data(), bytes.size());
    IntegerCompressor id(c.bits, c.contexts, c.bitsHigh, c.range);
    id.initDecoder();
    for (size_t i = 0; i < pred.size(); ++i) {
      ASSERT_EQ(id.decompress(dec, pred[i], ctx[i]), real[i]) << "bits " << c.bits << " i " << i;
      ASSERT_EQ(id.k(), ks[i]);
    }
    EXPECT_FALSE(dec.overrun());
  }
}

}  // namespace
}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
