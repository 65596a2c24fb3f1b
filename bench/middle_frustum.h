#ifndef VORLIN_BENCH_MIDDLE_FRUSTUM_H
#define VORLIN_BENCH_MIDDLE_FRUSTUM_H

#include <vorlin/vorlin.h>

namespace vorlin_bench {

// A box-shaped frustum over the middle half of the open cloud in x and y,
// looking along +z (x right, y up): the benchmarks' typical view.
inline Zelvane::Vorlin::VorlinViewFrustum MiddleFrustum(Zelvane::Vorlin::QvVorlin& engine) {
  double lo[3], hi[3];
  engine.getExtents(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]);
  const double x0 = lo[0] + (hi[0] - lo[0]) * 0.25, x1 = hi[0] - (hi[0] - lo[0]) * 0.25;
  const double y0 = lo[1] + (hi[1] - lo[1]) * 0.25, y1 = hi[1] - (hi[1] - lo[1]) * 0.25;
  const double zn = lo[2] - 1, zf = hi[2] + 1;
  Zelvane::Vorlin::VorlinViewFrustum f;
  f.setNearUpperRight(x1, y1, zn);
  f.setNearUpperLeft(x0, y1, zn);
  f.setNearLowerLeft(x0, y0, zn);
  f.setNearLowerRight(x1, y0, zn);
  f.setFarUpperRight(x1, y1, zf);
  f.setFarUpperLeft(x0, y1, zf);
  f.setFarLowerLeft(x0, y0, zf);
  f.setFarLowerRight(x1, y0, zf);
  f.setNearClip(true);
  f.setFarClip(true);
  return f;
}

}  // namespace vorlin_bench

#endif
