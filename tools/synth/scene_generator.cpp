#include <math.h>

#include <algorithm>

#include "synth.h"
#include "xyb_writer.h"

namespace synth {

namespace {

// The scene is laid out on a grid of blocks about 50 m wide: most blocks
// hold one box building in their middle, trees stand along the block edges,
// and everything sits on gently rolling terrain. Every feature is derived
// from the seed by hashing, so a point costs a few hashes and no lookup.

constexpr double kPi = 3.14159265358979323846;
constexpr double kBaseElevation = 100.0;
constexpr double kBlockSize = 50.0;
constexpr int kTreesPerBlock = 6;

uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double Unit(uint64_t h) { return double(h >> 11) * (1.0 / 9007199254740992.0); }

// A sine good to about 0.1 per cent, several times cheaper than the library
// one; plenty for terrain and for scattering points on blobs.
double FastSin(double x) {
  x -= 2 * kPi * floor(x * (0.5 / kPi) + 0.5);
  double y = (4 / kPi) * x - (4 / (kPi * kPi)) * x * fabs(x);
  return 0.225 * (y * fabs(y) - y) + y;
}
double FastCos(double x) { return FastSin(x + 0.5 * kPi); }

// Deterministic per-feature random values.
struct FeatureRandom {
  uint64_t key;
  double Next() {
    key = Mix(key + 0x9E3779B97F4A7C15ull);
    return Unit(key);
  }
};

struct Terrain {
  double phase[4];
  explicit Terrain(uint32_t seed) {
    uint64_t h = uint64_t(seed) * 0x2545F4914F6CDD1Dull + 0x9E3779B97F4A7C15ull;
    for (double& p : phase) {
      h = (h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull;
      p = Unit(h) * 2 * kPi;
    }
  }
  double Height(double x, double y) const {
    return kBaseElevation +
           3.0 * FastSin(x * (1 / 37.0) + phase[0]) * FastCos(y * (1 / 43.0) + phase[1]) +
           1.5 * FastSin((x + y) * (1 / 23.0) + phase[2]) +
           0.8 * FastCos((x - y) * (1 / 11.0) + phase[3]);
  }
};

struct Building {
  bool present;
  double cx, cy, hx, hy, base, height, pitch;
  uint16_t wall[3], roof[3];
};

struct Tree {
  double cx, cy, ground, trunk, radius;
};

uint16_t Channel(double value8, double noise) {
  double v = std::min(255.0, std::max(0.0, value8 + noise));
  return uint16_t(v * 257.0);
}

}  // namespace

SceneGenerator::SceneGenerator(const SceneOptions& options)
    : m_options(options), m_state(Mix(uint64_t(options.seed) ^ 0x6A09E667F3BCC909ull)) {
  if (!(m_options.size > 0)) m_options.size = 200.0;
}

bool SceneGenerator::Next(LasPoint& point) {
  if (m_produced >= m_options.points) return false;
  ++m_produced;

  auto rnd = [this]() {
    m_state += 0x9E3779B97F4A7C15ull;
    return Unit(Mix(m_state));
  };
  const double size = m_options.size;
  const int blocks = std::max(1, int(size / kBlockSize + 0.5));
  const double block = size / blocks;
  const uint64_t seedKey = Mix(uint64_t(m_options.seed) + 0x3C6EF372FE94F82Bull);
  const Terrain terrain(m_options.seed);

  auto buildingAt = [&](int index) {
    FeatureRandom r{Mix(seedKey ^ (uint64_t(index) * 0xD1B54A32D192ED03ull))};
    Building b;
    b.present = r.Next() < 0.8;
    int bi = index % blocks, bj = index / blocks;
    b.hx = block * (0.12 + 0.13 * r.Next());
    b.hy = block * (0.12 + 0.13 * r.Next());
    b.cx = (bi + 0.5) * block + (r.Next() - 0.5) * 0.1 * block;
    b.cy = (bj + 0.5) * block + (r.Next() - 0.5) * 0.1 * block;
    b.base = terrain.Height(b.cx, b.cy);
    b.height = 5.0 + 20.0 * r.Next();
    b.pitch = r.Next() < 0.5 ? 0.0 : 0.3 + 0.4 * r.Next();
    double wallGrey = 150 + 80 * r.Next();
    b.wall[0] = uint16_t(wallGrey);
    b.wall[1] = uint16_t(wallGrey * 0.95);
    b.wall[2] = uint16_t(wallGrey * 0.85);
    bool redRoof = r.Next() < 0.5;
    b.roof[0] = redRoof ? uint16_t(140 + 40 * r.Next()) : uint16_t(60 + 30 * r.Next());
    b.roof[1] = redRoof ? uint16_t(50 + 20 * r.Next()) : b.roof[0];
    b.roof[2] = redRoof ? uint16_t(40 + 20 * r.Next()) : uint16_t(b.roof[0] + 8);
    return b;
  };

  double category = rnd();
  if (category < 0.3) {
    Building b = buildingAt(int(rnd() * blocks * blocks) % (blocks * blocks));
    if (b.present) {
      double roofArea = 4 * b.hx * b.hy;
      double wallArea = 4 * (b.hx + b.hy) * b.height;
      double noise = (rnd() - 0.5) * 20;
      if (rnd() * (roofArea + wallArea) < roofArea) {
        double u = (rnd() * 2 - 1) * b.hx, v = (rnd() * 2 - 1) * b.hy;
        point.x = b.cx + u;
        point.y = b.cy + v;
        point.z = b.base + b.height + b.pitch * (b.hy - fabs(v));
        point.red = Channel(b.roof[0], noise);
        point.green = Channel(b.roof[1], noise);
        point.blue = Channel(b.roof[2], noise);
        point.intensity = uint16_t(18000 + 12000 * rnd());
      } else {
        double t = rnd() * 4 * (b.hx + b.hy);
        double u, v;
        if (t < 2 * b.hx) {
          u = t - b.hx, v = -b.hy;
        } else if ((t -= 2 * b.hx) < 2 * b.hy) {
          u = b.hx, v = t - b.hy;
        } else if ((t -= 2 * b.hy) < 2 * b.hx) {
          u = b.hx - t, v = b.hy;
        } else {
          t -= 2 * b.hx;
          u = -b.hx, v = b.hy - t;
        }
        point.x = b.cx + u;
        point.y = b.cy + v;
        point.z = b.base - 0.5 + rnd() * (b.height + 0.5);
        point.red = Channel(b.wall[0], noise);
        point.green = Channel(b.wall[1], noise);
        point.blue = Channel(b.wall[2], noise);
        point.intensity = uint16_t(10000 + 10000 * rnd());
      }
      point.classification = 6;
      return true;
    }
  } else if (category < 0.5) {
    int index = int(rnd() * blocks * blocks * kTreesPerBlock) % (blocks * blocks * kTreesPerBlock);
    FeatureRandom r{Mix(seedKey ^ 0xA5A5A5A5ull ^ (uint64_t(index) * 0x9FB21C651E98DF25ull))};
    int blockIndex = index / kTreesPerBlock;
    int bi = blockIndex % blocks, bj = blockIndex / blocks;
    // Along one of the block's four edges, inside a margin buildings avoid;
    // the crown stays inside the block and so inside the scene.
    Tree tree;
    tree.trunk = 1.5 + 2.5 * r.Next();
    tree.radius = std::min(1.5 + 3.5 * r.Next(), 0.2 * block);
    double inset = tree.radius + 0.3 + block * 0.02 * r.Next();
    double along = inset + r.Next() * std::max(0.0, block - 2 * inset);
    int edge = int(r.Next() * 4) & 3;
    tree.cx = bi * block + (edge == 0 ? inset : edge == 1 ? block - inset : along);
    tree.cy = bj * block + (edge == 2 ? inset : edge == 3 ? block - inset : along);
    tree.ground = terrain.Height(tree.cx, tree.cy);
    double leafGreen = 90 + 60 * r.Next();
    double noise = (rnd() - 0.5) * 30;
    if (rnd() < 0.08) {
      double a = rnd() * 2 * kPi;
      point.x = tree.cx + 0.2 * FastCos(a);
      point.y = tree.cy + 0.2 * FastSin(a);
      point.z = tree.ground + rnd() * (tree.trunk + tree.radius);
      point.red = Channel(100, noise);
      point.green = Channel(70, noise);
      point.blue = Channel(45, noise);
    } else {
      double cz = 2 * rnd() - 1, a = rnd() * 2 * kPi;
      double rxy = sqrt(1 - cz * cz), rr = tree.radius * (0.6 + 0.4 * sqrt(rnd()));
      point.x = tree.cx + rr * rxy * FastCos(a);
      point.y = tree.cy + rr * rxy * FastSin(a);
      point.z = tree.ground + tree.trunk + 1.2 * (tree.radius + rr * cz);
      point.red = Channel(leafGreen * 0.45, noise);
      point.green = Channel(leafGreen, noise);
      point.blue = Channel(leafGreen * 0.35, noise);
    }
    point.intensity = uint16_t(3000 + 12000 * rnd());
    point.classification = 5;
    return true;
  }

  // Ground, also for the share of building points whose block is empty.
  point.x = rnd() * size;
  point.y = rnd() * size;
  point.z = terrain.Height(point.x, point.y) + (rnd() - 0.5) * 0.05;
  double noise = (rnd() - 0.5) * 30;
  bool grass = rnd() < 0.7;
  point.red = Channel(grass ? 95 : 130, noise);
  point.green = Channel(grass ? 135 : 115, noise);
  point.blue = Channel(grass ? 65 : 90, noise);
  point.intensity = uint16_t(8000 + 14000 * rnd());
  point.classification = 2;
  return true;
}

bool WriteSceneLas(const std::string& path, const SceneOptions& scene,
                   const LasOptions& options) {
  LasWriter writer;
  if (!writer.Open(path, options)) return false;
  SceneGenerator generator(scene);
  LasPoint p;
  while (generator.Next(p)) {
    if (!writer.Add(p)) {
      writer.Close();
      return false;
    }
  }
  return writer.Close();
}

bool WriteSceneXyb(const std::string& path, const SceneOptions& scene) {
  XybStream stream;
  if (!stream.Open(path, XybOptions())) return false;
  SceneGenerator generator(scene);
  LasPoint p;
  XybPoint q;
  while (generator.Next(p)) {
    q.x = p.x;
    q.y = p.y;
    q.z = p.z;
    // Grey as the scanner reports it: 7.5 steps per 8-bit level.
    double luminance = (0.30 * p.red + 0.59 * p.green + 0.11 * p.blue) / 257.0;
    q.grey = uint16_t(luminance * 7.5);
    if (!stream.Add(q)) {
      stream.Close();
      return false;
    }
  }
  return stream.Close();
}

}  // namespace synth
