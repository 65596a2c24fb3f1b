#ifndef VORLIN_READERS_LAZ_CHUNK_TABLE_H
#define VORLIN_READERS_LAZ_CHUNK_TABLE_H

// The chunk table that follows the chunks of a LAZ file: a version (0), the
// number of chunks, then each chunk's byte count (and, for chunks of varying
// size, its point count first) range-coded as a difference from the
// previous chunk's value.

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace Zelvane {
namespace Vorlin {
namespace laz {

struct ChunkEntry {
  uint32_t pointCount = 0;  // 0 in a table without point counts
  uint32_t byteCount = 0;
};

constexpr size_t kChunkTableHeaderSize = 8;

// Decodes count entries from the coded part of a table (data, size bytes,
// after the version and count). False when the bytes run out first.
bool DecodeChunkTable(const uint8_t* data, size_t size, uint32_t count, bool withPointCounts,
                      std::vector<ChunkEntry>& entries);

// Appends the whole table, version and count included, to out.
void EncodeChunkTable(const std::vector<ChunkEntry>& entries, bool withPointCounts,
                      std::vector<uint8_t>& out);

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
