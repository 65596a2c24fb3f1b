#ifndef VORLIN_CLI_PNG_WRITER_H
#define VORLIN_CLI_PNG_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

namespace vorlin {
namespace cli {

// An 8-bit RGB picture, rows top to bottom.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width * height * 3

  RgbImage(int w, int h, uint8_t r, uint8_t g, uint8_t b);
  void set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = &pixels[(size_t(y) * size_t(width) + size_t(x)) * 3];
    p[0] = r;
    p[1] = g;
    p[2] = b;
  }
};

// Writes image as PNG through libpng to fd (which stays open); false with
// error set on failure.
bool WritePng(int fd, const RgbImage& image, std::string& error);

}  // namespace cli
}  // namespace vorlin

#endif
