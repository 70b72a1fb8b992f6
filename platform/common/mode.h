// How the saver was asked to run: the show of its own, the show inside a window a host hands
// it, or its settings. Read from the command line by the conventions of each desktop; portable,
// so that every build's tests read every desktop's conventions.
#pragma once

#include <cstdint>

namespace ps {

struct Mode {
  enum class Kind { Show, Embedded, Settings };
  Kind kind = Kind::Show;
  // Embedded: the host's window; Settings: the window that owns the dialog. 0 when none was
  // given or it could not be read.
  std::uint64_t window = 0;
  // Embedded with no window named: the X screen's root window is the host's.
  bool root = false;
};

// Windows' screen-saver convention: "/s" runs the show, "/p <window>" (or "/p:<window>") the
// preview inside it, "/c" or "/c:<window>" the settings; "/" or "-", either case. Anything else
// runs the show.
Mode windows_mode(int argc, const char* const* argv);

// The X saver hosts' convention: the host's window is named by `xscreensaver_window` (the
// XSCREENSAVER_WINDOW variable, null when unset) or by "-window-id <id>" ("--window-id" alike),
// in decimal or 0x hex; "-root" or "--root" asks for the host's window where the variable names
// one, else the root window. An explicit "-window-id" wins. Without any of them, and for any
// other argument, it is the show of its own.
Mode x11_mode(int argc, const char* const* argv, const char* xscreensaver_window);

}  // namespace ps
