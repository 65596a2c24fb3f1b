#include "answer_writer.h"

#include <string.h>

#include <cmath>

namespace vorlin {
namespace viewer {

namespace {

constexpr size_t kHeaderBytes = 48;
constexpr size_t kBytesPerPoint = 18;  // 12 position, 4 colour, 1 custom, 1 tile
static_assert(sizeof(float) == 4, "float32 positions");

unsigned char* Store32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
  return p + 4;
}

unsigned char* Store64(unsigned char* p, uint64_t v) {
  return Store32(Store32(p, static_cast<uint32_t>(v)), static_cast<uint32_t>(v >> 32));
}

unsigned char* StoreFloat(unsigned char* p, double value) {
  const float f = static_cast<float>(value);
  uint32_t bits;
  memcpy(&bits, &f, sizeof bits);
  return Store32(p, bits);
}

}  // namespace

AnswerWriter::AnswerWriter(size_t capacity, std::string storage)
    : m_out(std::move(storage)), m_capacity(capacity) {
  // While filling, the four arrays sit at the offsets of a full answer;
  // Finish moves them together.
  m_out.resize(kHeaderBytes + capacity * kBytesPerPoint);
}

void AnswerWriter::Add(const double shift[3], uint8_t tile,
                       const Zelvane::Vorlin::CellPoint* records, size_t count) {
  unsigned char* base = reinterpret_cast<unsigned char*>(&m_out[0]);
  unsigned char* positions = base + kHeaderBytes + m_count * 12;
  unsigned char* colours = base + kHeaderBytes + m_capacity * 12 + m_count * 4;
  unsigned char* custom = base + kHeaderBytes + m_capacity * 16 + m_count;
  unsigned char* tiles = base + kHeaderBytes + m_capacity * 17 + m_count;
  for (size_t i = 0; i < count && m_count < m_capacity; ++i) {
    const Zelvane::Vorlin::CellPoint& p = records[i];
    if (std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z)) continue;
    positions = StoreFloat(positions, p.x + shift[0]);
    positions = StoreFloat(positions, p.y + shift[1]);
    positions = StoreFloat(positions, p.z + shift[2]);
    colours = Store32(colours, p.color);
    *custom++ = p.customAttribute;
    *tiles++ = tile;
    ++m_count;
  }
}

std::string AnswerWriter::Finish(const AnswerHeader& header) {
  const size_t n = m_count;
  unsigned char* base = reinterpret_cast<unsigned char*>(&m_out[0]);
  memmove(base + kHeaderBytes + n * 12, base + kHeaderBytes + m_capacity * 12, n * 4);
  memmove(base + kHeaderBytes + n * 16, base + kHeaderBytes + m_capacity * 16, n);
  memmove(base + kHeaderBytes + n * 17, base + kHeaderBytes + m_capacity * 17, n);
  size_t size = kHeaderBytes + n * kBytesPerPoint;
  size += (4 - size % 4) % 4;
  m_out.resize(size, '\0');
  if (size > kHeaderBytes + n * kBytesPerPoint) {
    memset(&m_out[kHeaderBytes + n * kBytesPerPoint], 0, size - kHeaderBytes - n * kBytesPerPoint);
  }
  unsigned char* p = reinterpret_cast<unsigned char*>(&m_out[0]);
  memcpy(p, "VZP1", 4);
  p = Store32(p + 4, header.seq);
  p = Store32(p, static_cast<uint32_t>(n));
  p = Store32(p, header.complete ? 1u : 0u);
  p = Store64(p, header.visiblePoints);
  p = Store64(p, header.target);
  p = Store64(p, header.delivered);
  p = Store32(p, header.visibleCells);
  Store32(p, 0);
  return std::move(m_out);
}

}  // namespace viewer
}  // namespace vorlin
