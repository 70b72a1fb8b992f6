// Starting, waiting for and ending the test's child processes.
#include "tests/desktop/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

extern char** environ;

namespace ps::e2e {

pid_t spawn(const Spawn& what) {
  // Everything the child needs is built before fork: after it only system calls are made.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const auto name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const auto& mine : what.env) replaced = replaced || mine.rfind(name, 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), what.env.begin(), what.env.end());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = what.argv;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string output = what.output.empty() ? "/dev/null" : what.output;
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);  // the test died before the line above
  const int in = open("/dev/null", O_RDONLY);
  const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (in < 0 || out < 0) _exit(127);
  dup2(in, 0);
  dup2(out, 1);
  dup2(out, 2);
  const int keep = what.keep_fd;
  for (int fd = 3; fd < 256; ++fd)
    if (fd != keep) close(fd);
  execvpe(argv[0], argv.data(), envp.data());
  _exit(127);
}

namespace {
std::optional<int> reap(pid_t pid, int options) {
  int status = 0;
  pid_t got;
  do got = waitpid(pid, &status, options);
  while (got < 0 && errno == EINTR);
  if (got != pid) return std::nullopt;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}
}  // namespace

std::optional<int> wait_exit(pid_t pid, milliseconds deadline) {
  std::optional<int> status;
  poll_until([&] { return (status = reap(pid, WNOHANG)).has_value(); }, deadline, milliseconds(1));
  return status;
}

bool running(pid_t pid) {
  siginfo_t info{};
  // WNOWAIT leaves an ended child to be reaped by wait_exit.
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
  return info.si_pid == 0;
}

void stop(pid_t pid, milliseconds grace) {
  if (pid <= 0 || !running(pid)) {
    if (pid > 0) reap(pid, WNOHANG);
    return;
  }
  kill(pid, SIGTERM);
  if (wait_exit(pid, grace)) return;
  kill(pid, SIGKILL);
  reap(pid, 0);
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

long resident_kb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

}  // namespace ps::e2e
