#ifndef VORLIN_SYNTH_SYNTH_H
#define VORLIN_SYNTH_SYNTH_H

// Synthetic test data: LAS and FARO XYB writers and a plausible scene
// generator. Used by the tests, the benchmarks and the command-line tool; not
// part of libvorlin.

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace synth {

struct LasPoint {
  double x = 0, y = 0, z = 0;
  uint16_t intensity = 0;
  uint8_t classification = 0;
  uint16_t red = 0, green = 0, blue = 0;
};

struct LasOptions {
  int pointFormat = 3;        // 0..5 (other values are written as given)
  int recordLength = 0;       // 0: the standard length of the format
  double scale[3] = {0.001, 0.001, 0.001};
  double offset[3] = {0, 0, 0};
  bool eightBitColor = false; // false: colour written as given (16-bit)
  // When set, the header carries these bounds instead of the true ones.
  bool overrideBounds = false;
  double boundsMin[3] = {0, 0, 0};
  double boundsMax[3] = {0, 0, 0};
  // When >= 0, the header's point count instead of the true one.
  int64_t headerCountOverride = -1;
  // Cut this many bytes off the end of the last record (0: none).
  int truncateLastRecordBy = 0;
};

// Streams points into a LAS file; the header (count, bounds) is completed on
// Close. Coordinates are quantised with the scale and offset.
class LasWriter {
 public:
  LasWriter() = default;
  ~LasWriter();
  LasWriter(const LasWriter&) = delete;
  LasWriter& operator=(const LasWriter&) = delete;

  bool Open(const std::string& path, const LasOptions& options);
  bool Add(const LasPoint& point);
  bool Close();

 private:
  FILE* m_file = nullptr;
  LasOptions m_options;
  uint64_t m_count = 0;
  double m_min[3] = {0, 0, 0};
  double m_max[3] = {0, 0, 0};
  std::vector<uint8_t> m_buffer;
};

bool WriteLas(const std::string& path, const std::vector<LasPoint>& points,
              const LasOptions& options = LasOptions());

struct XybPoint {
  double x = 0, y = 0, z = 0;
  uint16_t grey = 0;
};

struct XybOptions {
  // The four header lines, each written followed by a line feed.
  std::string lines[4] = {"# FARO XYZ binary format v1.0", "ScanPosition 0 0 0",
                          "Rows 1", "Cols 1"};
  bool omitLastLineFeed = false;  // the fourth line ends without its line feed
  int truncateLastRecordBy = 0;
};

bool WriteXyb(const std::string& path, const std::vector<XybPoint>& points,
              const XybOptions& options = XybOptions());

struct SceneOptions {
  uint64_t points = 1000000;
  uint32_t seed = 1;
  double size = 200.0;  // metres along x and y
};

// A deterministic scene of terrain, buildings and trees: the same seed and
// count give the same points.
class SceneGenerator {
 public:
  explicit SceneGenerator(const SceneOptions& options);
  // The next point, false when the requested count has been produced.
  bool Next(LasPoint& point);
  uint64_t produced() const { return m_produced; }

 private:
  SceneOptions m_options;
  uint64_t m_produced = 0;
  uint64_t m_state;
};

// Writes a scene of options.points points as LAS with the given options.
bool WriteSceneLas(const std::string& path, const SceneOptions& scene,
                   const LasOptions& options = LasOptions());
// Writes a scene as XYB (grey from the colour).
bool WriteSceneXyb(const std::string& path, const SceneOptions& scene);

}  // namespace synth

#endif
