// Writes a version-4 QZV file with a fine grid, which the import never
// produces for a cloud of this size: the benchmark of opening a file with a
// large cell table needs one.
//
//   vorlin_make_qzv OUT.qzv [--points N] [--cells-per-axis C]
//
// Points are spread evenly over the cells (the first cells take the
// remainder) at random positions inside each cell; every cell's LOD value is
// its point count.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "format/qzv_layout.h"
#include "format/qzv_writer.h"

namespace format = vorlin::format;
using Zelvane::Vorlin::CellPoint;

int main(int argc, char** argv) {
  const char* out = nullptr;
  uint64_t points = 20000000;
  int32_t perAxis = 100;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--points") == 0 && i + 1 < argc) {
      points = strtoull(argv[++i], nullptr, 10);
    } else if (strcmp(argv[i], "--cells-per-axis") == 0 && i + 1 < argc) {
      perAxis = int32_t(atoi(argv[++i]));
    } else if (!out && argv[i][0] != '-') {
      out = argv[i];
    } else {
      out = nullptr;
      break;
    }
  }
  if (!out || perAxis < 1 || perAxis > 1000 || points == 0) {
    fprintf(stderr, "usage: %s OUT.qzv [--points N] [--cells-per-axis C (1..1000)]\n", argv[0]);
    return 2;
  }

  const double cellSize = 1.0;
  format::QzvV4Header header;
  header.revision = 1;
  header.fileId = 0x5eed;
  header.grid.nx = header.grid.ny = header.grid.nz = perAxis;
  header.grid.cellSize = cellSize;
  header.unitsFactor = 1.0;
  header.flags = format::kFlagRgb | format::kFlagIntensity;
  for (int a = 0; a < 3; ++a) {
    header.grid.boundsMin[a] = 0.0;
    header.grid.boundsMax[a] = perAxis * cellSize;
    header.grid.centre[a] = perAxis * cellSize / 2;
  }

  // Table index k = (ix * ny + iy) * nz + iz; records follow in that order.
  const size_t n = size_t(perAxis) * size_t(perAxis) * size_t(perAxis);
  std::vector<uint32_t> counts(n);
  std::vector<uint64_t> offsets(n);
  std::vector<float> lods(n);
  uint64_t offset = format::FirstRecordOffset(4, perAxis, perAxis, perAxis, header.flags);
  for (size_t k = 0; k < n; ++k) {
    counts[k] = uint32_t(points / n + (k < points % n ? 1 : 0));
    offsets[k] = offset;
    lods[k] = float(counts[k]);
    offset += uint64_t(counts[k]) * format::kRecordSizeV4;
  }
  const std::vector<uint8_t> head =
      format::EncodeQzvV4Header(header, counts.data(), offsets.data(), lods.data());

  FILE* f = fopen(out, "wb");
  if (!f) {
    perror(out);
    return 1;
  }
  bool ok = fwrite(head.data(), 1, head.size(), f) == head.size();
  std::mt19937 random(1);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<uint8_t> block;
  size_t k = 0;
  for (int32_t ix = 0; ix < perAxis && ok; ++ix) {
    for (int32_t iy = 0; iy < perAxis; ++iy) {
      for (int32_t iz = 0; iz < perAxis; ++iz, ++k) {
        block.resize(size_t(counts[k]) * format::kRecordSizeV4);
        for (uint32_t r = 0; r < counts[k]; ++r) {
          CellPoint p{};
          // Stored coordinates are offsets from the centre.
          p.x = float((ix + unit(random)) * cellSize - header.grid.centre[0]);
          p.y = float((iy + unit(random)) * cellSize - header.grid.centre[1]);
          p.z = float((iz + unit(random)) * cellSize - header.grid.centre[2]);
          p.color = 0xFF000000u | uint32_t(random() & 0xFFFFFFu);
          format::PackCellPoint(p, block.data() + size_t(r) * format::kRecordSizeV4);
        }
        ok = ok && fwrite(block.data(), 1, block.size(), f) == block.size();
      }
    }
  }
  ok = (fclose(f) == 0) && ok;
  if (!ok) {
    fprintf(stderr, "%s: write failed\n", out);
    return 1;
  }
  printf("%s: %llu points in %zu cells\n", out, (unsigned long long)points, n);
  return 0;
}
