// Reading a PNG back as 0xRRGGBB pixels, for the tests that compare pictures.
#pragma once

#include <png.h>

#include <string>
#include <vector>

#include "platform/common/runtime.h"

namespace ps::test {

struct Picture {
  int width = 0, height = 0;
  std::vector<Rgb> pixels;
};

// An empty picture when the file is not a PNG that can be read.
inline Picture read_png(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
  Picture picture{static_cast<int>(image.width), static_cast<int>(image.height), {}};
  picture.pixels.resize(rgb.size() / 3);
  for (std::size_t i = 0; i < picture.pixels.size(); ++i)
    picture.pixels[i] = Rgb{rgb[3 * i]} << 16 | Rgb{rgb[3 * i + 1]} << 8 | rgb[3 * i + 2];
  return picture;
}

}  // namespace ps::test
