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
};

// Windows' screen-saver convention: "/s" runs the show, "/p <window>" (or "/p:<window>") the
// preview inside it, "/c" or "/c:<window>" the settings; "/" or "-", either case. Anything else
// runs the show.
Mode windows_mode(int argc, const char* const* argv);

}  // namespace ps
