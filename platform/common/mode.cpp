// Reading the start arguments: a window is a number that fits 64 bits (decimal on Windows,
// decimal or 0x hex on X), else 0.
#include "platform/common/mode.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace ps {
namespace {

std::uint64_t window_number(const char* text, int base = 10) {
  std::uint64_t value = 0;
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, value, base);
  return error == std::errc{} && stop == end ? value : 0;
}

std::uint64_t x_window_number(const char* text) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return window_number(text + 2, 16);
  return window_number(text);
}

}  // namespace

Mode windows_mode(int argc, const char* const* argv) {
  Mode mode;
  if (argc < 2 || argv[1] == nullptr) return mode;
  const char* arg = argv[1];
  if ((arg[0] != '/' && arg[0] != '-') || arg[1] == '\0' || (arg[2] != '\0' && arg[2] != ':'))
    return mode;
  const char letter = static_cast<char>(arg[1] | 0x20);
  if (letter == 'p')
    mode.kind = Mode::Kind::Embedded;
  else if (letter == 'c')
    mode.kind = Mode::Kind::Settings;
  else
    return mode;
  if (arg[2] == ':')
    mode.window = window_number(arg + 3);
  else if (argc > 2 && argv[2] != nullptr)
    mode.window = window_number(argv[2]);
  return mode;
}

Mode x11_mode(int argc, const char* const* argv, const char* xscreensaver_window) {
  Mode mode;
  bool root = false, given = false;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-root" || arg == "--root") {
      root = true;
    } else if (arg == "-window-id" || arg == "--window-id") {
      given = true;
      mode.window = i + 1 < argc && argv[i + 1] != nullptr ? x_window_number(argv[++i]) : 0;
    }
  }
  const std::uint64_t host =
      xscreensaver_window != nullptr ? x_window_number(xscreensaver_window) : 0;
  if (!given && host != 0) mode.window = host;
  if (given || host != 0 || root) mode.kind = Mode::Kind::Embedded;
  mode.root = mode.kind == Mode::Kind::Embedded && !given && host == 0;
  return mode;
}

}  // namespace ps
