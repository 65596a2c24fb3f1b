#include "answer_writer.h"

#include <string.h>

#include <cmath>

namespace vorlin {
namespace viewer {

namespace {

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutU64(std::string& out, uint64_t v) {
  PutU32(out, static_cast<uint32_t>(v));
  PutU32(out, static_cast<uint32_t>(v >> 32));
}

unsigned char* Store(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
  return p + 4;
}

static_assert(sizeof(float) == 4, "float32 positions");
constexpr size_t kHeaderBytes = 48;

}  // namespace

void AnswerWriter::Add(const double shift[3], uint8_t tile,
                       const Zelvane::Vorlin::CellPoint* records, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const Zelvane::Vorlin::CellPoint& p = records[i];
    // Clipped batches end with filler records whose positions are NaN.
    if (std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z)) continue;
    m_positions.push_back(static_cast<float>(p.x + shift[0]));
    m_positions.push_back(static_cast<float>(p.y + shift[1]));
    m_positions.push_back(static_cast<float>(p.z + shift[2]));
    m_colours.push_back(p.color);
    m_custom.push_back(p.customAttribute);
    m_tiles.push_back(tile);
  }
}

std::string AnswerWriter::Finish(const AnswerHeader& header) {
  const size_t n = count();
  std::string out;
  out.reserve(kHeaderBytes + n * 18 + 4);
  out.append("VZP1", 4);
  PutU32(out, header.seq);
  PutU32(out, static_cast<uint32_t>(n));
  PutU32(out, header.complete ? 1u : 0u);
  PutU64(out, header.visiblePoints);
  PutU64(out, header.target);
  PutU64(out, header.delivered);
  PutU32(out, header.visibleCells);
  PutU32(out, 0);
  const size_t body = out.size();
  out.resize(body + n * 16);
  unsigned char* p = reinterpret_cast<unsigned char*>(&out[body]);
  for (float f : m_positions) {
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    p = Store(p, bits);
  }
  for (uint32_t c : m_colours) p = Store(p, c);
  out.append(reinterpret_cast<const char*>(m_custom.data()), m_custom.size());
  out.append(reinterpret_cast<const char*>(m_tiles.data()), m_tiles.size());
  while (out.size() % 4 != 0) out.push_back('\0');
  m_positions.clear();
  m_colours.clear();
  m_custom.clear();
  m_tiles.clear();
  return out;
}

}  // namespace viewer
}  // namespace vorlin
