// The tests' own Wine prefix and server.
#include "tests/wine/wine.h"

#include <stdlib.h>

#include <filesystem>

#include "tests/wine/xserver.h"

namespace ps::e2e {

bool Wine::start(const XServer& x) {
  char pattern[] = "/tmp/pairstream-wine-XXXXXX";
  if (!mkdtemp(pattern)) return fail("no scratch folder under /tmp");
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
