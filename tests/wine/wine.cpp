// The tests' own Wine prefix and server.
#include "tests/wine/wine.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "tests/desktop/xserver.h"

namespace ps::e2e {

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

namespace {
// Where each tick and each move began: the line's leading number, its time with +timestamp.
struct Dispatches {
  std::vector<double> ticks;
  std::vector<double> moves;
};

Dispatches dispatches(const std::string& trace) {
  Dispatches found;
  int depth = 0;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const bool call = line.find("Call window proc") != std::string::npos;
    if (!call && line.find("Ret  window proc") == std::string::npos) continue;
    const double at = std::strtod(line.c_str(), nullptr);  // "seconds.millis:thread:..."
    if (line.find(",msg=WM_TIMER,") != std::string::npos) {
      if (call && depth++ == 0) found.ticks.push_back(at);
      if (!call) --depth;
    } else if (call && line.find(",msg=WM_MOUSEMOVE,") != std::string::npos) {
      found.moves.push_back(at);
    }
  }
  return found;
}
}  // namespace

std::size_t ticks(const std::string& trace) { return dispatches(trace).ticks.size(); }

double ticks_per_second_while_moving(const std::string& trace) {
  const Dispatches found = dispatches(trace);
  if (found.moves.size() < 2 || found.moves.back() <= found.moves.front()) return 0;
  const double first_move = found.moves.front(), last_move = found.moves.back();
  const auto& starts = found.ticks;
  const auto inside = std::count_if(starts.begin(), starts.end(),
                                    [&](double at) { return at >= first_move && at <= last_move; });
  return static_cast<double>(inside) / (last_move - first_move);
}

namespace {
constexpr char kScratch[] = "pairstream-wine-";

// A prefix takes some 700 MB: remove those that a killed run of ours left behind, named after a
// process that is gone.
void remove_abandoned() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/tmp", error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kScratch, 0) != 0) continue;
    const long owner = std::strtol(name.c_str() + sizeof kScratch - 1, nullptr, 10);
    if (owner > 0 && kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH)
      std::filesystem::remove_all(entry.path(), error);
  }
}
}  // namespace

bool Wine::start(const XServer& x) {
  remove_abandoned();
  std::string pattern = std::string("/tmp/") + kScratch + std::to_string(getpid()) + "-XXXXXX";
  if (!mkdtemp(pattern.data())) return fail("no scratch folder under /tmp");
  dir_ = pattern;
  display_ = x.display_name();
  std::filesystem::create_directory(dir_ + "/prefix");
  // Persistent, in the foreground: it stays up between launches and is ours to end by pid.
  server_ = spawn({{"wineserver", "--foreground", "--persistent"}, env("-all"), file("server")});
  if (server_ < 0) return fail("wineserver did not start");
  const auto booted = run({"wineboot", "--init"}, milliseconds(90000));
  if (!booted || *booted != 0 || !running(server_)) {
    why_ = "the Wine prefix could not be made: " + read_text(file("wineboot"));
    close();
    return false;
  }
  return true;
}

void Wine::close() {
  if (server_ > 0 && running(server_)) {
    // Our own prefix's server: -k ends its processes (and only them), then the server.
    const pid_t killer = spawn({{"wineserver", "--kill"}, env("-all"), {}});
    wait_exit(killer, milliseconds(5000));
    stop(killer);
  }
  stop(server_);
  server_ = -1;
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  dir_.clear();
}

std::vector<std::string> Wine::env(const std::string& debug) const {
  // No Mono, no Gecko, no desktop menu entries: a prefix made in seconds, writing only here.
  return {"WINEPREFIX=" + dir_ + "/prefix",
          "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d", "WINEDEBUG=" + debug,
          "DISPLAY=" + display_};
}

std::string Wine::file(const std::string& name) { return dir_ + "/" + name + ".log"; }

Launch Wine::launch(const std::string& exe, const std::vector<std::string>& args,
                    const std::string& debug) {
  Launch launch;
  launch.log = file("launch-" + std::to_string(++launches_));
  std::vector<std::string> argv{"wine", exe};
  argv.insert(argv.end(), args.begin(), args.end());
  launch.pid = spawn({argv, env(debug), launch.log});
  return launch;
}

std::optional<int> Wine::run(const std::vector<std::string>& command, milliseconds deadline) {
  std::vector<std::string> argv{"wine"};
  argv.insert(argv.end(), command.begin(), command.end());
  const pid_t pid = spawn({argv, env("-all"), file(command.front())});
  const auto status = wait_exit(pid, deadline);
  if (!status) stop(pid);
  return status;
}

}  // namespace ps::e2e
