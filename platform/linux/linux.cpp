// The Linux saver's entry into a backend, and what both backends share. A host's window is an
// X window; otherwise a compositor that answers on WAYLAND_DISPLAY gets the show, else X does.
#include "platform/linux/linux.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ps {
namespace {

sigset_t end_set() {
  sigset_t ends;
  sigemptyset(&ends);
  sigaddset(&ends, SIGTERM);
  sigaddset(&ends, SIGINT);
  sigaddset(&ends, SIGHUP);
  return ends;
}

[[gnu::constructor]] void block_end_signals() {
  const sigset_t ends = end_set();
  sigprocmask(SIG_BLOCK, &ends, nullptr);
}

}  // namespace

// In the user's runtime directory when there is one, else an abstract socket named after the user.
bool lock_held_by_another() {
  if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir) {
    const std::string path = std::string(dir) + "/pairstream.lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) return flock(fd, LOCK_EX | LOCK_NB) != 0;
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const int length = std::snprintf(address.sun_path + 1, sizeof address.sun_path - 1,
                                   "pairstream-uid-%u", static_cast<unsigned>(getuid()));
  return bind(fd, reinterpret_cast<sockaddr*>(&address),
              static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length)) != 0;
}

int end_signals() {
  const sigset_t ends = end_set();
  return signalfd(-1, &ends, SFD_NONBLOCK | SFD_CLOEXEC);
}

bool end_signalled(int fd) {
  bool any = false;
  signalfd_siginfo info;
  while (read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) any = true;
  return any;
}

Mode read_mode(int argc, char** argv) {
  return x11_mode(argc, argv, std::getenv("XSCREENSAVER_WINDOW"));
}

int run_desktop(const Mode& mode, const MakeShow& make_show) {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (mode.kind != Mode::Kind::Embedded && wayland && *wayland)
    if (const auto status = run_wayland(make_show)) return *status;
  return run_x11(mode, make_show);
}

// A large area takes whole blocks on a block boundary; its pixels are written already, so they
// are gathered into large pages at once. A kernel without large pages refuses both requests, and
// the pixels stay as they are.
void prefer_large_pages(const Surface& surface) {
  constexpr int kCollapse = 25;  // MADV_COLLAPSE, Linux 6.1, not yet in the C library's headers
  const std::size_t bytes = surface.held_bytes();
  if (!Surface::large(bytes)) return;
  auto* begin = const_cast<Surface::Ink*>(surface.inks());
  madvise(begin, bytes, MADV_HUGEPAGE);
  madvise(begin, bytes, kCollapse);
}

}  // namespace ps
