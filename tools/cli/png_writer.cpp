#include "png_writer.h"

#include <errno.h>
#include <png.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace vorlin {
namespace cli {

RgbImage::RgbImage(int w, int h, uint8_t r, uint8_t g, uint8_t b)
    : width(w), height(h), pixels(size_t(w) * size_t(h) * 3) {
  for (size_t i = 0; i < pixels.size(); i += 3) {
    pixels[i] = r;
    pixels[i + 1] = g;
    pixels[i + 2] = b;
  }
}

namespace {

// libpng reports errors by longjmp; keep everything that needs a destructor
// outside the function that calls setjmp.
bool Encode(FILE* file, const RgbImage& image, png_bytep* rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WritePng(int fd, const RgbImage& image, std::string& error) {
  int own = dup(fd);
  FILE* file = own >= 0 ? fdopen(own, "wb") : nullptr;
  if (!file) {
    error = strerror(errno);
    if (own >= 0) close(own);
    return false;
  }
  std::vector<png_bytep> rows(size_t(image.height));
  for (int y = 0; y < image.height; ++y) {
    rows[size_t(y)] = const_cast<png_bytep>(&image.pixels[size_t(y) * size_t(image.width) * 3]);
  }
  bool ok = Encode(file, image, rows.data());
  int savedErrno = errno;
  if (fflush(file) != 0 || ferror(file)) ok = false, savedErrno = errno;
  if (fclose(file) != 0) ok = false, savedErrno = errno;
  if (!ok) error = std::string("encoding or writing the PNG failed (") + strerror(savedErrno ? savedErrno : EIO) + ")";
  return ok;
}

}  // namespace cli
}  // namespace vorlin
