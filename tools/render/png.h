// Writing a surface as an 8-bit RGB PNG, all or nothing: the picture is written beside its
// destination under a temporary name and renamed into place only once it is complete.
#pragma once

#include <span>
#include <string>

#include "platform/common/runtime.h"

namespace ps {

// Returns an empty string on success, else why the file could not be written.
// `pixels` are width x height 0xRRGGBB values, row by row.
std::string write_png(const std::string& path, int width, int height, std::span<const Rgb> pixels);

}  // namespace ps
