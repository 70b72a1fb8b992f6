// Writing a surface as an 8-bit RGB PNG, all or nothing: the picture is written beside its
// destination under a temporary name and renamed into place only once it is complete.
#pragma once

#include <string>

#include "platform/common/surface.h"

namespace ps {

// Returns an empty string on success, else why the file could not be written.
std::string write_png(const std::string& path, const Surface& surface);

}  // namespace ps
