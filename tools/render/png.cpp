// PNG output through libpng's simplified writer.
#include "tools/render/png.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace ps {

std::string write_png(const std::string& path, int width, int height, std::span<const Rgb> pixels) {
  std::vector<unsigned char> rgb(pixels.size() * 3);
  std::size_t o = 0;
  for (const Rgb p : pixels) {
    rgb[o++] = static_cast<unsigned char>(p >> 16);
    rgb[o++] = static_cast<unsigned char>(p >> 8);
    rgb[o++] = static_cast<unsigned char>(p);
  }

  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return path + ": " + std::strerror(errno);
  // mkstemp makes the file private; the picture gets the mode any new file would.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    const int err = errno;
    close(fd);
    unlink(temp.c_str());
    return path + ": " + std::strerror(err);
  }

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  const bool written =
      png_image_write_to_stdio(&image, file, 0, rgb.data(), 0, nullptr) != 0;
  std::string error = written ? "" : path + ": " + image.message;
  png_image_free(&image);
  if (std::fflush(file) != 0 && error.empty()) error = path + ": " + std::strerror(errno);
  if (std::fclose(file) != 0 && error.empty()) error = path + ": " + std::strerror(errno);
  if (error.empty() && std::rename(temp.c_str(), path.c_str()) != 0)
    error = path + ": " + std::strerror(errno);
  if (!error.empty()) unlink(temp.c_str());
  return error;
}

}  // namespace ps
