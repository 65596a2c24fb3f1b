#include "import/normal_code.h"

#include <math.h>

namespace vorlin {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBandStep = kPi / 56;  // latitude step between bands
constexpr int kBands = 57;              // 0 (north pole) .. 56 (south pole)
constexpr int kCodes = 4096;

// Directions spread evenly over the sphere: latitude bands of equal angular
// height, each band holding a number of codes proportional to its circumference.
struct NormalCodeBook {
  double bandCos[kBands];
  int32_t bandSize[kBands];   // codes in the band; 0 for the poles
  uint16_t bandFirst[kBands];  // first code of the band (codes are contiguous)
  double direction[kCodes][3];

  NormalCodeBook() {
    for (int b = 0; b < kBands; ++b) bandCos[b] = cos(b * kBandStep);

    for (int b = 0; b < kBands; ++b) {
      bandSize[b] = 2 - int32_t(sin(b * kBandStep) * (-2 * kPi) / kBandStep);
    }
    // Hand-tuned rows; 54 is deliberately not the mirror of 2.
    bandSize[0] = 0;
    bandSize[1] = 12;
    bandSize[2] = 20;
    bandSize[28] = 116;
    bandSize[54] = 19;
    bandSize[55] = 12;
    bandSize[56] = 0;

    bandFirst[0] = kNormalNorthPole;
    SetDirection(kNormalNorthPole, 0.0, 0.0, 1.0);
    int code = 1;
    for (int b = 1; b <= 55; ++b) {
      bandFirst[b] = uint16_t(code);
      double theta = b * kBandStep;
      double step = 2 * kPi / bandSize[b];
      for (int j = 0; j < bandSize[b]; ++j, ++code) {
        double phi = j * step;
        SetDirection(code, cos(phi) * sin(theta), sin(phi) * sin(theta), cos(theta));
      }
    }
    bandFirst[56] = kNormalSouthPole;
    SetDirection(kNormalSouthPole, 0.0, 0.0, -1.0);
    SetDirection(kNoNormal, 0.0, 0.0, 0.0);
  }

  void SetDirection(int code, double x, double y, double z) {
    direction[code][0] = x;
    direction[code][1] = y;
    direction[code][2] = z;
  }
};

// Built while the library loads; read-only afterwards, so any thread may encode.
const NormalCodeBook kCodeBook;

}  // namespace

uint16_t NormalCode(double x, double y, double z) {
  if (isnan(x) || isnan(y) || isnan(z)) return kNoNormal;
  if (isinf(x) || isinf(y) || isinf(z)) return kNoNormal;

  double lenSquared = x * x + y * y + z * z;
  float len = float(sqrt(lenSquared));
  if (double(len) > -1e-06 && double(len) < 1e-06) return kNoNormal;
  // A finite vector whose length does not fit a float would normalise to
  // zero; its direction is still well defined in double precision.
  double divisor = isinf(len) ? sqrt(lenSquared) : double(len);
  if (isinf(divisor)) {
    double m = fmax(fabs(x), fmax(fabs(y), fabs(z)));
    x /= m;
    y /= m;
    z /= m;
    divisor = sqrt(x * x + y * y + z * z);
  }
  double nx = x / divisor;
  double ny = y / divisor;
  double nz = z / divisor;

  // Band cosines decrease with the band index.
  int lo = 0;
  int hi = kBands - 1;
  while (lo + 1 < hi) {
    int mid = (lo + hi) / 2;
    if (nz <= kCodeBook.bandCos[mid]) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  int band = (kCodeBook.bandCos[lo] - nz < nz - kCodeBook.bandCos[hi]) ? lo : hi;
  if (band == 0) return kNormalNorthPole;
  if (band == kBands - 1) return kNormalSouthPole;

  int32_t n = kCodeBook.bandSize[band];
  double step = 2 * kPi / n;
  double c = nx / sqrt(1 - nz * nz);
  // The float-rounded length can push c slightly past +-1.
  if (!(c >= -1.0)) c = -1.0;
  if (c > 1.0) c = 1.0;
  double phi = ny >= 0 ? acos(c) : 2 * kPi - acos(c);
  int32_t j = int32_t(floor((phi + 0.5 * step) / step)) % n;
  return uint16_t(kCodeBook.bandFirst[band] + j);
}

void NormalDirection(uint16_t code, double out[3]) {
  if (code >= kCodes) code = kNoNormal;
  out[0] = kCodeBook.direction[code][0];
  out[1] = kCodeBook.direction[code][1];
  out[2] = kCodeBook.direction[code][2];
}

}  // namespace vorlin
