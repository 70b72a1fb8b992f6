// Child processes for the end-to-end tests: started with their own environment and output file,
// killed with the test process if it dies, waited for with a deadline, and ended by pid only.
// Linux only; the test process must be single-threaded when it starts them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ps::e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Spawn {
  std::vector<std::string> argv;
  std::vector<std::string> env;  // NAME=value pairs added to (or replacing in) ours
  std::string output;            // stdout and stderr go here; empty: /dev/null
  int keep_fd = -1;              // a descriptor the child inherits (as itself)
};

// Starts the program; it gets SIGKILL when the test process dies. Returns its pid, or -1.
pid_t spawn(const Spawn& what);

// The exit status (or 128 + signal) once the child has ended, within the deadline; nullopt
// while it still runs. The child is reaped.
std::optional<int> wait_exit(pid_t pid, milliseconds deadline);

// True while the child runs (not yet reaped).
bool running(pid_t pid);

// SIGTERM, then SIGKILL after the grace, and reaps it. Safe for a pid already reaped (<= 0).
void stop(pid_t pid, milliseconds grace = milliseconds(2000));

// Polls `ready` every few milliseconds until it holds or the deadline passes.
template <class F>
bool poll_until(F&& ready, milliseconds deadline, milliseconds every = milliseconds(5)) {
  const auto end = Clock::now() + deadline;
  for (;;) {
    if (ready()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(every);
  }
}

inline void sleep_for(milliseconds ms) { std::this_thread::sleep_for(ms); }

// The whole text of a file (empty when it cannot be read).
std::string read_text(const std::string& path);
// A process's resident size in kB, from /proc; -1 when it cannot be read.
long resident_kb(pid_t pid);

}  // namespace ps::e2e
