// How Windows starts a screen saver: "/s" to run it, "/p <hwnd>" to draw a preview inside the
// Screen Saver Settings dialog and "/c" or "/c:<hwnd>" to configure it. This saver has neither
// a preview nor settings; the rule is portable so that every build tests it.
#pragma once

namespace ps {

// True when the first argument asks for the preview or the settings: p or c after / or -, in
// either case, alone or followed by ":" and a window handle.
constexpr bool preview_or_configure(int argc, const char* const* argv) {
  if (argc < 2 || argv[1] == nullptr) return false;
  const char* arg = argv[1];
  if (arg[0] != '/' && arg[0] != '-') return false;
  const char letter = static_cast<char>(arg[1] | 0x20);
  if (letter != 'p' && letter != 'c') return false;
  return arg[2] == '\0' || arg[2] == ':';
}

}  // namespace ps
