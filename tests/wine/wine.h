// A Wine of the tests' own: a fresh prefix under /tmp, one persistent wineserver for every
// launch of the run (Wine's start-up is slow), and Windows programs started under it on a
// given X server. Closing ends only this prefix's processes.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/desktop/process.h"

namespace ps::e2e {

class XServer;

// One Windows process, with what Wine's debug channels wrote while it ran.
struct Launch {
  pid_t pid = -1;
  std::string log;
  std::string text() const { return read_text(log); }
};

// How often `what` occurs in a trace.
std::size_t count(const std::string& text, const std::string& what);
// Ticks run so far, from the relay trace of the window procedure (WINEDEBUG trace+relay): a
// WM_TIMER dispatched while none is being handled. One that arrives inside a tick is merged
// into it and not counted.
std::size_t ticks(const std::string& trace);
// Ticks per second while the window received moves, from a relay trace with timestamps
// (WINEDEBUG trace+relay,+timestamp): the ticks that began between the first and the last
// WM_MOUSEMOVE, over the time between those two; 0 without two moves.
double ticks_per_second_while_moving(const std::string& trace);

class Wine {
 public:
  Wine() = default;
  Wine(const Wine&) = delete;
  Wine& operator=(const Wine&) = delete;
  ~Wine() { close(); }

  // Creates the prefix and starts its server on the X server's display; false (with why())
  // when Wine is missing or the prefix cannot be made.
  bool start(const XServer& x);
  void close();
  const std::string& why() const { return why_; }
  pid_t server_pid() const { return server_; }

  // Starts a Windows program; `debug` is WINEDEBUG for it.
  Launch launch(const std::string& exe, const std::vector<std::string>& args,
                const std::string& debug = "-all");
  // Runs a Windows program to its end; its exit status, or nullopt past the deadline.
  std::optional<int> run(const std::vector<std::string>& command, milliseconds deadline);

 private:
  std::vector<std::string> env(const std::string& debug) const;
  std::string file(const std::string& name);

  std::string dir_;
  std::string display_;
  pid_t server_ = -1;
  int launches_ = 0;
  bool fail(std::string why) {
    why_ = std::move(why);
    return false;
  }

  std::string why_;
};

}  // namespace ps::e2e
