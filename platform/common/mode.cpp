// Reading the start arguments: a window is a decimal number that fits 64 bits, else 0.
#include "platform/common/mode.h"

#include <charconv>
#include <cstring>

namespace ps {
namespace {

std::uint64_t window_number(const char* text) {
  std::uint64_t value = 0;
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, value);
  return error == std::errc{} && stop == end ? value : 0;
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

}  // namespace ps
