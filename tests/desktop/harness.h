// The desktop harness of both savers: private Xvfb servers, the Linux saver or pairstream.scr
// under Wine on them, input through XTest and the screen read back. Every child dies with its
// owner or with this process; a janitor forked at start ends Wine's server, which is no child,
// and removes the scratch directory even after a SIGKILL. Linux only; single-threaded.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

// Xlib's macros after the rest.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <png.h>

#include "tools/screen/screen.h"

namespace ps::desktop {

using std::chrono::milliseconds;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

inline bool poll_until(const std::function<bool()>& done, milliseconds limit) {
  for (const auto end = Clock::now() + limit; !done(); std::this_thread::sleep_for(2ms))
    if (Clock::now() >= end) return false;
  return true;
}

inline long count(const std::string& text, const std::string& word) {
  long n = 0;
  for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

inline std::string read_text(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Every child joins the janitor's process group. Once this process is gone (its pipe's EOF),
// the janitor ends the Wine prefix with `wineserver -k`, removes the scratch directory and
// kills the group, itself last. Forked twice, it is no descendant of this process, which a
// ctest timeout kills with all its descendants.
inline std::string scratch;
inline int janitor_pipe = -1, janitor_done = -1;
inline pid_t janitor_pid = -1;

inline void start_janitor() {
  char name[] = "/tmp/pairstream-desktop-XXXXXX";
  int ask[2], done[2];
  if (!mkdtemp(name) || pipe2(ask, O_CLOEXEC) != 0 || pipe2(done, O_CLOEXEC) != 0) std::exit(1);
  scratch = name;
  if (const pid_t middle = fork(); middle != 0) {
    waitpid(middle, nullptr, 0);
    close(ask[0]), close(done[1]);
    janitor_pipe = ask[1], janitor_done = done[0];
    if (read(janitor_done, &janitor_pid, sizeof janitor_pid) != sizeof janitor_pid) std::exit(1);
    return;
  }
  if (fork() != 0) _exit(0);
  setpgid(0, 0);
  janitor_pid = getpid();
  dup2(ask[0], 0);
  dup2(open("/dev/null", O_WRONLY), 1), dup2(1, 2);
  dup2(done[1], 3);  // open until the janitor is gone
  fcntl(3, F_SETFD, FD_CLOEXEC);
  if (write(3, &janitor_pid, sizeof janitor_pid) < 0) _exit(1);
  close_range(4, ~0u, 0);  // holds no other pipe open, ctest's output included
  for (char c; read(0, &c, 1) > 0;) continue;
  for (const char* session : {"/wine/prefix", "/wine-split/prefix"}) {
    const std::string prefix = scratch + session;
    if (std::filesystem::exists(prefix))
      std::ignore = std::system(("WINEPREFIX=" + prefix + " timeout 10 wineserver -k").c_str());
  }
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  kill(0, SIGKILL);
  _exit(0);
}

inline void finish_janitor() {  // a normal end: the sweep, waited for
  close(janitor_pipe);
  for (char c; read(janitor_done, &c, 1) > 0;) continue;
}

// A child, killed with the object or the moment this process dies.
class Child {
 public:
  explicit Child(Strings argv, Strings env = {}, std::string log = {}, int out = -1)
      : log_(std::move(log)) {
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    const pid_t parent = getpid();
    if ((pid_ = fork()) == 0) {  // of a single-threaded process: the child may allocate
      setpgid(0, janitor_pid);
      if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
      for (auto& entry : env) putenv(entry.data());
      const int to = open(log_.empty() ? "/dev/null" : log_.c_str(), O_WRONLY | O_CREAT, 0644);
      dup2(open("/dev/null", O_RDONLY), 0);
      dup2(out >= 0 ? out : to, 1);
      dup2(to, 2);
      close_range(3, ~0u, 0);
      execvp(args[0], args.data());
      _exit(127);
    }
    setpgid(pid_, janitor_pid);  // on both sides, so that it holds before either goes on
  }
  ~Child() {
    if (!status_) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }
  const std::string& log() const { return log_; }
  // The most ticks it may have run: one each 10 ms since it was started, and a few more.
  int ticks_at_most() const { return int((Clock::now() - born_) / 10ms) + 10; }
  // The exit status, 128 + the signal when killed; none while it runs.
  std::optional<int> wait(milliseconds limit) {
    int s = 0;
    if (!status_ && poll_until([&] { return waitpid(pid_, &s, WNOHANG) == pid_; }, limit))
      status_ = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
    return status_;
  }
  bool running() { return !wait(0ms); }
  void signal(int sig) {
    if (!status_) kill(pid_, sig);
  }
  // Whether it sleeps in ppoll, as the Linux saver's main loop does once it has sent its output.
  bool asleep() const {
    return read_text("/proc/" + std::to_string(pid_) + "/syscall")
        .starts_with(std::to_string(SYS_ppoll) + " ");
  }
  // How many times it went to sleep.
  long sleeps() const {
    const std::string status = read_text("/proc/" + std::to_string(pid_) + "/status");
    const auto at = status.find("\nvoluntary_ctxt_switches:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 26);
  }
  // Its time on a CPU so far, all threads.
  milliseconds cpu() const {
    long long ns = 0;
    std::error_code none;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task", none))
      ns += std::atoll(read_text(task.path().string() + "/schedstat").c_str());
    return std::chrono::duration_cast<milliseconds>(std::chrono::nanoseconds(ns));
  }
  // Stopped (once the kernel says so) or let go on.
  void pause(bool stop) {
    signal(stop ? SIGSTOP : SIGCONT);
    const std::string stat = "/proc/" + std::to_string(pid_) + "/stat";
    poll_until([&] { return !stop || read_text(stat).find(") T ") != std::string::npos; }, 1s);
  }

 private:
  pid_t pid_;
  std::string log_;
  Clock::time_point born_ = Clock::now();
  std::optional<int> status_;
};

// The headless show with a tick inside its scatter at that service of pending events (as a stall
// of 10 ms makes a saver run one), or started at another size and given the screen's at that one.
struct Run {
  std::uint64_t scatter_tick = 0;
  int from_width = 0, from_height = 0;
  std::uint64_t resize_at = 0;
};
// The first tick (0: right after the scatter), up to `max_ticks`, after which the show on the
// headless platform ends at the screenshot's size equal to it pixel for pixel.
std::optional<int> matching_tick(const Screenshot& shot, int max_ticks, const Run& run = {});
// Whether it equals the headless show with a tick inside the scatter, at any look of a backend.
bool ticked_in_scatter(const Screenshot& shot, int max_ticks);
// The tick at which it equals the headless show that took its size after tick `after`, one of
// the two after it or at a look inside them: a saver may tick before it sees a change, or in one.
std::optional<int> resized_tick(const Screenshot& shot, int max_ticks, int from_width,
                                int from_height, int after);

enum class Kind { X11, Wine };
inline std::ostream& operator<<(std::ostream& o, Kind k) {
  return o << (k == Kind::X11 ? "X11" : "Wine");
}

// What the tests run on every desktop need of one: the saver started, its show covering the
// screen and read back, input as a user's devices make it, and the displays' power.
class Screen {
 public:
  virtual ~Screen() = default;
  virtual bool up() const = 0;
  virtual std::unique_ptr<Child> launch() = 0;
  virtual bool covered() = 0;
  virtual Screenshot shot() = 0;  // the show's monitor; none while it cannot be read
  virtual void type(Child& saver) = 0;  // a key pressed and let go, not waited for
  virtual void click(Child& saver) = 0;
  // A first report 5 px on, taken (a platform that merges the moves that wait for it would make
  // the two one first report), then a jump far past the limit.
  virtual void jump(Child& saver) = 0;
  virtual void power(bool on) = 0;
  virtual long wakes(Child& saver) { return saver.sleeps(); }
  virtual void gone() {}  // the saver has ended: the next start finds an empty screen
  virtual milliseconds limit() const { return 3s; }
  bool niced = true;  // the Linux saver starts first on the CPU
};

// A desktop's monitors: one, the whole screen; or two side by side, 1280x720 at the left and
// 1024x768 at the right of a 2304x768 screen, on a root painted blue so that what no window
// covers shows. The two are RandR 1.5 monitors of an Xvfb, with the one named primary, or the
// Xinerama heads of a Xephyr without RandR inside an Xvfb (the left, the first, is primary).
// Powered is one monitor of 1920x1080 that DPMS powers off and on: Xorg's dummy driver with a
// module of ours (power/dummy_dpms.c), as Xvfb has no DPMS.
enum class Monitors { One, LeftPrimary, RightPrimary, Xinerama, Powered };
struct Area {
  int x, y, width, height;
};

// An Xvfb of its own with the Linux saver, or (made once a process) with a Wine prefix and
// pairstream.scr from PAIRSTREAM_SCR.
class Desktop final : public Screen {
 public:
  Desktop(Kind kind, int width, int height, bool runtime = true, Monitors monitors = Monitors::One)
      : wine(kind == Kind::Wine), start_limit(wine ? 20s : 5s), end_limit(wine ? 5s : 3s) {
    const bool split = monitors != Monitors::One && monitors != Monitors::Powered;
    if (split) width = 2304, height = 768;
    Strings xvfb{"Xvfb", "-screen", "0",
                 std::to_string(width) + "x" + std::to_string(height) + "x24"};
    if (split) xvfb.push_back("-noreset");  // else RandR's monitors go with their last client
    std::string number = monitors == Monitors::Powered ? serve(server_, xorg(), {})
                                                       : serve(server_, xvfb, {});
    if (monitors == Monitors::Xinerama)
      number = serve(nested_,
                     {"Xephyr", "-screen", "1280x720", "-origin", "1280,0", "-screen", "1024x768",
                      "+xinerama", "-extension", "RANDR", "-noreset"},
                     {"DISPLAY=:" + number});
    if (!number.empty()) {
      env_[0] = "DISPLAY=:" + number;
      // Windows vanish between listing them and asking about them: the call fails, no more.
      // A server killed on purpose leaves a dead connection, which ends no test either.
      XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
      XSetIOErrorHandler([](Display*) { return 0; });
      if ((display_ = XOpenDisplay(env_[0].c_str() + 8)))
        XSetIOErrorExitHandler(
            display_, [](Display*, void*) {}, nullptr);
    }
    if (split && up()) {
      const bool right = monitors == Monitors::RightPrimary;
      primary = right ? Area{1280, 0, 1024, 768} : Area{0, 0, 1280, 720};
      other = right ? Area{0, 0, 1280, 720} : Area{1280, 0, 1024, 768};
      if (monitors != Monitors::Xinerama)  // the primary marked with a star
        Child({"xrandr", "--setmonitor", right ? "LEFT" : "*LEFT", "1280/339x720/190+0+0", "screen",
               "--setmonitor", right ? "*RIGHT" : "RIGHT", "1024/271x768/203+1280+0", "none"},
              env_)
            .wait(5s);
      Child({"xsetroot", "-solid", "#204060"}, env_).wait(5s);
    }
    static int made = 0;  // a display's number comes again once its server has gone
    const std::string dir = scratch + "/" + std::to_string(++made);
    if (!wine) {
      env_.push_back("XDG_RUNTIME_DIR=" + (runtime && mkdir(dir.c_str(), 0700) == 0 ? dir : ""));
    } else if (up()) {
      // No Mono, no Gecko, no menu entries: a prefix made in seconds, written only here. Its
      // server starts in the background, no child of this process: the janitor ends it.
      logs_ = scratch + (split ? "/wine-split" : "/wine");
      env_.push_back("WINEPREFIX=" + logs_ + "/prefix");
      env_.push_back("WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d");
      std::filesystem::create_directories(logs_ + "/prefix");
      // Its status says little (a wineboot run meanwhile may fail the first), but 127 is no Wine.
      booted = run({"wineboot", "--init"}, "boot")->wait(90s).value_or(127) != 127;
      // The session's desktop closes a second after its last program, and a new one keeps the
      // next start waiting 10 s for its explorer.exe: a program that stays keeps it open.
      keeper_ = run({"ping", "-n", "1000000", "127.0.0.1"}, "keeper");
    }
  }
  ~Desktop() {
    if (up()) XCloseDisplay(display_);
    for (const int fd : displayfds_) close(fd);
  }

  const bool wine;
  const milliseconds start_limit, end_limit;
  Area primary{}, other{};  // with two monitors: the show's, and the one that stays black
  bool booted = false;
  int uid = -1;  // the user the Linux saver's next start runs as, when 0 or more

  // The saver with `args` and `env` besides the desktop's own; under Wine, with its traces.
  std::unique_ptr<Child> start(Strings args = {}, Strings env = {}, std::string log = {}) {
    if (wine)
      return run({std::filesystem::absolute(std::getenv("PAIRSTREAM_SCR"))},
                 "launch-" + std::to_string(++launches_), "-all,trace+msg,trace+win,trace+sync");
    Strings argv{PAIRSTREAM_SAVER};
    if (uid >= 0) {  // setpriv keeps the pid
      const auto id = std::to_string(uid);
      argv = {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", argv[0]};
    }
    argv.insert(argv.end(), args.begin(), args.end());
    if (niced) argv.insert(argv.begin(), kFirst.begin(), kFirst.end());
    env.insert(env.begin(), env_.begin(), env_.end());
    return std::make_unique<Child>(argv, env, log);
  }
  std::unique_ptr<Child> run(Strings argv, const std::string& log,
                             const std::string& debug = "-all") {
    argv.insert(argv.begin(), "wine");
    argv.insert(argv.begin(), kFirst.begin(), kFirst.end());
    auto env = env_;
    env.push_back("WINEDEBUG=" + debug);
    return std::make_unique<Child>(argv, env, logs_ + "/" + log + ".log");
  }
  const Strings& environment() const { return env_; }
  const std::string& logs() const { return logs_; }

  Display* display() const { return display_; }
  bool up() const override {
    return display_ && server_->running() && (!nested_ || nested_->running());
  }
  std::unique_ptr<Child> launch() override { return start(); }
  bool covered() override { return saver_window() != 0; }
  Screenshot shot() override { return screenshot(); }
  void type(Child&) override { fake_key(XK_a, true), fake_key(XK_a, false); }
  void click(Child&) override { fake_button(1, true), fake_button(1, false); }
  void jump(Child& saver) override { move(saver, 305, 300), fake_motion(505, 300); }
  // DPMS; under Wine, pairstream-display-state.exe tells the .scr as Windows does.
  void power(bool on) override {
    const char* state = on ? "on" : "off";
    if (!wine) Child({"xset", "dpms", "force", state}, env_).wait(5s);
    if (wine) run({std::filesystem::path(std::getenv("PAIRSTREAM_SCR")).replace_filename(
                       "pairstream-display-state.exe"), state}, "power")->wait(10s);
  }
  long wakes(Child& saver) override {  // under Wine, its ticks: the .scr arms its timer for each
    return wine ? count(read_text(saver.log()), "NtSetTimer") : saver.sleeps();
  }
  void gone() override {
    poll_until([&] { return saver_window() == 0; }, end_limit);
    fake_motion(300, 300);
  }
  milliseconds limit() const override { return wine ? 3s : 2s; }
  void crash() { server_->signal(SIGKILL), server_->wait(5s); }
  // The window, else the screen, or with two monitors the primary's part of it.
  Screenshot screenshot(Window of = 0) {
    if (of || other.width == 0) return read_window(display_, of ? of : DefaultRootWindow(display_));
    return screenshot(primary);
  }
  Screenshot screenshot(const Area& a) {
    return read_area(display_, DefaultRootWindow(display_), a.x, a.y, a.width, a.height);
  }
  Window saver_window() {
    return other.width == 0
               ? covering_window(display_)
               : window_over(display_, primary.x, primary.y, primary.width, primary.height);
  }
  // How many of the keyboard and the pointer another client holds: what this one takes of them
  // it gives back at once.
  int grabs_held(Window in) {
    const int held =
        (XGrabKeyboard(display_, in, 0, GrabModeAsync, GrabModeAsync, 0) != GrabSuccess) +
        (XGrabPointer(display_, in, 0, 0, GrabModeAsync, GrabModeAsync, 0, 0, 0) != GrabSuccess);
    XUngrabPointer(display_, CurrentTime), XUngrabKeyboard(display_, CurrentTime);
    XSync(display_, False);
    return held;
  }
  bool pointer_visible() {
    XFixesCursorImage* image = XFixesGetCursorImage(display_);
    bool visible = false;
    for (int i = 0; image && i < image->width * image->height; ++i)
      visible = visible || image->pixels[i] >> 24 != 0;
    if (image) XFree(image);
    return visible;
  }

  // Input as a user's devices make it, in the server when the call returns.
  void fake_motion(int x, int y) { synced(XTestFakeMotionEvent(display_, 0, x, y, CurrentTime)); }
  void fake_key(KeySym key, bool press) {
    synced(XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, key), press, CurrentTime));
  }
  void fake_button(unsigned button, bool press) {
    synced(XTestFakeButtonEvent(display_, button, press, CurrentTime));
  }
  void close_request(Window window) {
    XEvent e{};
    e.xclient = {ClientMessage, 0, False, display_, window, atom("WM_PROTOCOLS"), 32, {}};
    e.xclient.data.l[0] = long(atom("WM_DELETE_WINDOW"));
    synced(XSendEvent(display_, window, False, NoEventMask, &e));
  }
  // Input that the saver has taken, and gone on from or ended on, when the call returns.
  void move(Child& saver, int x, int y) {
    taking(saver, "pt " + std::to_string(x) + "," + std::to_string(y) + "\n",
           [&] { fake_motion(x, y); });
  }
  void press(Child& saver, unsigned b) {
    taking(saver, "BUTTONDOWN)", [&] { fake_button(b, true); });
  }
  void tap(Child& saver, KeySym key) {
    taking(saver, "KEYDOWN)", [&] { fake_key(key, true); });
    fake_key(key, false);
  }

 private:
  // X events reach the Linux saver in order, unmerged: a second round trip sees the server's
  // output to it written, and the saver back asleep in its main loop's ppoll has read it all.
  // Wine merges mouse moves that queue up, so each waits for the one before: for its trace
  // (`seen`: a message retrieved, or the point a mouse message hit), then for the same thread
  // arming its timer for a later tick, which an end on it would have prevented.
  void taking(Child& saver, const std::string& seen, const std::function<void()>& input) {
    const std::size_t mark = wine ? read_text(saver.log()).size() : 0;
    input();
    XSync(display_, False);
    EXPECT_TRUE(poll_until(
        [&] {
          if (!saver.running()) return true;
          if (!wine) return saver.asleep();
          const std::string trace = read_text(saver.log());
          const auto at = trace.find(seen, mark), line = trace.rfind('\n', at) + 1;
          const auto next =
              trace.substr(line, trace.find(':', line) - line) + ":trace:sync:NtSetTimer";
          return at != std::string::npos && trace.find(next, at) != std::string::npos;
        },
        end_limit))
        << "the saver neither took the input nor ended";
  }
  // Xorg on the dummy driver with the DPMS hook, alone: no configuration of the machine's (its
  // folder of modules has none), and no reset when its last client goes (which powers it on).
  static Strings xorg() {
    static int made = 0;
    return {"/usr/lib/xorg/Xorg", "-config", PAIRSTREAM_XORG_CONFIG, "-configdir",
            PAIRSTREAM_XORG_MODULES, "-modulepath", PAIRSTREAM_XORG_MODULES ",/usr/lib/xorg/modules",
            "-noreset", "-ac", "-logfile", scratch + "/xorg-" + std::to_string(++made) + ".log"};
  }
  // Starts an X server with `argv` that prints its display number to -displayfd; returns the number
  // once it takes connections, or none when it fails. The pipe stays open with the desktop: an
  // Xvfb whose pipe was closed before its first client came was seen to die.
  std::string serve(std::unique_ptr<Child>& server, Strings argv, const Strings& env) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    argv.insert(argv.end(), {"-displayfd", "1", "-nolisten", "tcp"});
    server = std::make_unique<Child>(argv, env, "", fds[1]);
    close(fds[1]);
    // The number comes in one write once it takes connections; if it fails, the pipe closes.
    char number[16] = {};
    pollfd ready{fds[0], POLLIN, 0};
    const bool read_it = poll(&ready, 1, 10000) > 0 && read(fds[0], number, sizeof number - 1) > 0;
    displayfds_.push_back(fds[0]);
    return read_it ? std::to_string(std::atoi(number)) : "";
  }
  void synced(int) { XSync(display_, False); }
  Atom atom(const char* name) { return XInternAtom(display_, name, False); }
  // First on the CPU (where allowed): a stall of 10 ms in the scatter lets a tick run inside
  // it, which the headless show has not.
  static inline const Strings kFirst{"nice", "-n", "-20"};
  std::unique_ptr<Child> server_, nested_, keeper_;
  std::vector<int> displayfds_;
  Display* display_ = nullptr;
  Strings env_{"DISPLAY=none", "WAYLAND_DISPLAY="};  // never the desktop the tests run on
  std::string logs_;
  int launches_ = 0;
};

// The process's Wine session, made at its first use; none, and why, when it cannot run here.
// Wine reads the monitors once a session: two need a session of their own.
inline Desktop* wine_desktop(std::string& why, Monitors monitors = Monitors::One) {
  static std::unique_ptr<Desktop> sessions[2];
  auto& session = sessions[monitors != Monitors::One];
  const char* scr = std::getenv("PAIRSTREAM_SCR");
  why = "no pairstream.scr (PAIRSTREAM_SCR): build the windows preset first";
  if (!scr || !std::filesystem::exists(scr)) return nullptr;
  if (!session) session = std::make_unique<Desktop>(Kind::Wine, 1280, 1024, true, monitors);
  why = "no Xvfb, or no Wine prefix: " + read_text(session->logs() + "/boot.log");
  return session->booted ? session.get() : nullptr;
}

// A test of a table's row on the desktop of the row's kind, and what it does with the saver.
template <class Row>
class On : public ::testing::TestWithParam<std::tuple<Kind, Row>> {
 protected:
  void SetUp() override {
    std::string why;
    if (std::get<0>(this->GetParam()) == Kind::Wine && !(d = wine_desktop(why)))
      GTEST_SKIP() << why;
    if (!d) d = (own = std::make_unique<Desktop>(Kind::X11, 1280, 720)).get();
    ASSERT_TRUE(d->up()) << "no Xvfb";
    d->fake_motion(300, 300);
  }
  void TearDown() override {  // the next test starts on an empty screen
    if (d && d->up()) poll_until([&] { return d->saver_window() == 0; }, d->end_limit);
  }
  Row row() const { return std::get<1>(this->GetParam()); }
  std::unique_ptr<Child> shown() {
    auto saver = d->start();
    EXPECT_TRUE(poll_until(
        [&] {
          if (!saver->running() || !d->saver_window()) return !saver->running();
          const Screenshot shot = d->screenshot();
          return shot.lit(0, 0, shot.width, shot.height) > 200;
        },
        d->start_limit))
        << "no window over the whole screen with particles on it";
    EXPECT_TRUE(saver->running()) << "it ended with status " << saver->wait(0ms).value_or(-1);
    return saver;
  }
  std::optional<int> ends(Child& saver) { return saver.wait(d->end_limit); }

  // The saver `start` makes, once the window `of` (0: the screen) equals the headless show. A
  // start whose scatter ran a tick, as a stall of 10 ms on a loaded machine makes it, shows
  // another show: for that cause alone it is made again, up to three times.
  std::unique_ptr<Child> showing(const std::function<std::unique_ptr<Child>()>& start,
                                 Window of = 0, std::optional<int>* tick = nullptr) {
    std::unique_ptr<Child> saver;
    for (int starts = 1;; ++starts) {
      saver.reset();
      if (!of) poll_until([&] { return d->saver_window() == 0; }, d->end_limit);
      saver = start();
      std::optional<int> shown;
      Screenshot shot;
      poll_until(
          [&] {
            shot = d->screenshot(of);
            return (shown = matching_tick(shot, saver->ticks_at_most())).has_value();
          },
          3s);
      if (tick) *tick = shown;
      if (shown) return saver;
      if (starts == 3 || !ticked_in_scatter(shot, saver->ticks_at_most())) break;
    }
    ADD_FAILURE() << "the screen equals no tick of the headless show, with or without a tick in "
                     "its scatter";
    return saver;
  }
  // The Linux saver stopped asleep in its main loop, having slept `wakes` times more, and the
  // tick `match` finds in the window `of` then. A stop that lands as it wakes (it is then not
  // asleep, and may be amid a flush) is the one cause for letting it go on and stopping it again.
  std::optional<int> stopped(Child& saver, Window of, int wakes,
                             const std::function<std::optional<int>(const Screenshot&)>& match) {
    std::optional<int> tick;
    for (int stops = 0; stops < 5; ++stops) {
      const long slept = saver.sleeps();
      saver.pause(false);
      poll_until([&] { return saver.sleeps() >= slept + wakes && saver.asleep(); }, 3s);
      saver.pause(true);
      if (!saver.asleep()) continue;
      poll_until([&] { return (tick = match(d->screenshot(of))).has_value(); }, 1s);
      break;
    }
    return tick;
  }
  // The Linux saver stopped at a tick, `change`d to a new size and let go on: the window `of`
  // must come to equal the headless show that took the new size then, and went on from there.
  void follows(Child& saver, Window of, const std::function<void()>& change) {
    const Screenshot before = d->screenshot(of);
    const auto at = stopped(saver, of, 1, [&](const Screenshot& shot) {
      return matching_tick(shot, saver.ticks_at_most());
    });
    ASSERT_TRUE(at) << "no stop of the saver showed a tick";
    change();
    XSync(d->display(), False);
    const auto went_on = Clock::now();
    const auto later = stopped(saver, of, 20, [&](const Screenshot& shot) {
      const int ticks = *at + 3 + int((Clock::now() - went_on) / 10ms);
      return resized_tick(shot, ticks, before.width, before.height, *at);
    });
    saver.pause(false);
    EXPECT_TRUE(later) << "the show did not go on at the new size from tick " << *at;
  }

  std::unique_ptr<Desktop> own;
  Desktop* d = nullptr;
};

// Runs a table's rows on one kind of desktop; `name` names a row from `info.param`.
#define ON(prefix, kind, suite, rows, name)                                                        \
  INSTANTIATE_TEST_SUITE_P(prefix, suite, ::testing::Combine(::testing::Values(Kind::kind), rows), \
                           []([[maybe_unused]] const auto& info) { return std::string(name); })
#define ON_BOTH(suite, rows, name) \
  ON(X11, X11, suite, rows, name); \
  ON(Wine, Wine, suite, rows, name)

// A Wayland compositor of its own: sway headless (layer shell) as user 65534, which it insists
// on, with outputs made and placed by swaymsg; weston headless (xdg-shell only, no seat) as this
// user; or KWin 5.27 as Plasma runs it, as user 65534, with one output at a fractional scale: its
// X11-windowed backend in an Xvfb of the device size, whose screen is then that output in device
// pixels and whose XTest input reaches the show. KWin runs from a copy that keeps its name (it
// loads its platform by it) but not the file capability a container may not grant. The saver
// runs from a copy that user can read, with a Wayland session's environment alone; keys come
// from wtype (or XTest), the pointer from pairstream-pointer.
enum class Server { Sway, Weston, KWin };
class Compositor final : public Screen {
 public:
  // Sway's outputs as "WxH X Y", the first one its own, place() makes the others; KWin's one as
  // "WxH SCALE", in its units. `powered`: sway's outputs take `dpms off` and `dpms on`
  // (power/headless_dpms.c preloaded), which sway 1.7's headless ones refuse of themselves.
  Compositor(Server server, const Strings& outputs, bool powered = false) : server_(server) {
    static int made = 0;
    dir_ = scratch + "/wayland-" + std::to_string(++made);
    const auto run = dir_ + "/run";
    chmod(scratch.c_str(), 0711), mkdir(dir_.c_str(), 0755), mkdir(run.c_str(), 0700);
    std::filesystem::copy_file(PAIRSTREAM_SAVER, dir_ + "/pairstream");
    std::filesystem::copy_file(PAIRSTREAM_WAYLAND_POINTER, dir_ + "/pairstream-pointer");
    std::filesystem::copy_file(PAIRSTREAM_SWAY_DPMS, dir_ + "/headless_dpms.so");
    const bool nobody = server != Server::Weston;
    if (nobody && (chown(run.c_str(), 65534, 65534) != 0 || chown(dir_.c_str(), 65534, 65534) != 0))
      return;
    user_ = {"env", "-i", "PATH=/usr/bin:/bin", "HOME=" + dir_, "XDG_RUNTIME_DIR=" + run,
             "USER=nobody", "LOGNAME=nobody", "LANG=C.UTF-8"};
    if (nobody) user_.insert(user_.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    Strings argv;
    if (server == Server::Sway) {
      std::ofstream(dir_ + "/sway.conf")
          << "xwayland disable\ndefault_border none\noutput * bg #204060 solid_color\n";
      argv = {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman", "sway",
              "-c", dir_ + "/sway.conf"};
      if (powered) argv.insert(argv.begin(), "LD_PRELOAD=" + dir_ + "/headless_dpms.so");
    } else if (server == Server::Weston) {
      argv = {"weston", "--backend=headless-backend.so", "--use-pixman", "--width=800",
              "--height=600", "--no-config", "--idle-time=0", "--debug"};
    } else {
      int width = 0, height = 0;
      double scale = 1;
      std::sscanf(outputs.at(0).c_str(), "%dx%d %lf", &width, &height, &scale);
      x_ = std::make_unique<Desktop>(Kind::X11, int(std::lround(width * scale)),
                                     int(std::lround(height * scale)));
      std::error_code none;
      std::filesystem::copy_file("/usr/bin/kwin_wayland", dir_ + "/kwin_wayland", none);
      if (none || !x_->up()) return;
      user_.push_back(x_->environment()[0]);
      argv = {"KWIN_COMPOSE=Q", "KWIN_WAYLAND_NO_PERMISSION_CHECKS=1", dir_ + "/kwin_wayland",
              "--x11-display", x_->environment()[0].substr(8), "--width", std::to_string(width),
              "--height", std::to_string(height), "--scale", std::to_string(scale), "--socket",
              "wayland-kwin", "--no-lockscreen", "--no-global-shortcuts", "--no-kactivities"};
    }
    compositor_ = as(argv, dir_ + "/compositor.log");
    std::string ipc;
    poll_until([&] {  // its socket; sway's for swaymsg, and KWin's window over its Xvfb
      for (const auto& entry : std::filesystem::directory_iterator(run)) {
        const auto name = entry.path().filename().string();
        if (name.starts_with("wayland-") && !name.ends_with(".lock")) socket_ = name;
        if (name.starts_with("sway-ipc")) ipc = entry.path();
      }
      return !compositor_->running() ||
             (!socket_.empty() && (server != Server::Sway || !ipc.empty()) &&
              (server != Server::KWin || x_->saver_window() != 0));
    }, 10s);
    user_.push_back("WAYLAND_DISPLAY=" + socket_);
    if (server != Server::Sway) return;
    user_.push_back("SWAYSOCK=" + ipc);
    for (std::size_t i = 0; i < outputs.size(); ++i) place(i + 1, outputs[i]);
  }

  ~Compositor() { close(to_pointer_), close(from_pointer_); }

  void place(std::size_t number, const std::string& where) {
    std::istringstream words(where);
    std::string size, x, y;
    words >> size >> x >> y;
    if (number > 1) as({"swaymsg", "create_output"})->wait(5s);
    as({"swaymsg", "output", "HEADLESS-" + std::to_string(number), "mode", size, "position", x, y})
        ->wait(5s);
  }
  bool up() const override { return !socket_.empty() && compositor_ && compositor_->running(); }
  std::unique_ptr<Child> launch() override {
    if (server_ == Server::Sway) pointer(nullptr, "to 300 300");
    return start();
  }
  bool covered() override {  // no pixel of sway's background left
    const Screenshot s = shot();
    return s.width > 0 && std::ranges::count(s.pixels, 0x204060u) == 0;
  }
  Screenshot shot() override { return screenshot(server_ == Server::Sway ? "HEADLESS-1" : ""); }
  // wtype makes its keyboard, waits 300 ms for clients to take its keymap, then types.
  void type(Child&) override { typing_ = as({"wtype", "-s", "300", "a"}); }
  void click(Child&) override { pointer(nullptr, "press 1"), pointer(nullptr, "release 1"); }
  void jump(Child& saver) override { pointer(&saver, "by 5 0"), pointer(nullptr, "by 40 0"); }
  void power(bool on) override {
    as({"swaymsg", "output", "HEADLESS-1", "dpms", on ? "on" : "off"})->wait(5s);
  }
  void gone() override { typing_.reset(); }
  void crash() { compositor_->signal(SIGKILL), compositor_->wait(5s); }
  Desktop* x() { return x_.get(); }  // KWin's X server
  std::unique_ptr<Child> as(Strings argv, const std::string& log = {}, int out = -1) {
    argv.insert(argv.begin(), user_.begin(), user_.end());
    return std::make_unique<Child>(argv, Strings{}, log.empty() ? dir_ + "/tools.log" : log, out);
  }
  // The saver with `args`, and `env` besides the session's (DISPLAY=...).
  std::unique_ptr<Child> start(const Strings& args = {}, const Strings& env = {}) {
    Strings argv = user_;  // first on the CPU, as on X
    if (niced) argv.insert(argv.begin(), {"nice", "-n", "-20"});
    argv.insert(argv.end(), env.begin(), env.end());
    argv.push_back(dir_ + "/pairstream");
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Child>(argv, Strings{}, dir_ + "/saver.log");
  }
  // What a program run as the user writes on stdout, once it has ended.
  std::string output_of(const Strings& argv) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    auto child = as(argv, {}, fds[1]);
    close(fds[1]);
    std::string text;
    char chunk[65536];
    for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) text.append(chunk, std::size_t(n));
    close(fds[0]);
    child->wait(5s);
    return text;
  }
  // One output's real pixels (sway: grim; weston: its screenshooter, a PNG in the home; KWin:
  // its X server's screen).
  Screenshot screenshot(const std::string& output);
  // A key press and release, once the saver has taken them.
  void key(Child& saver) { settled(saver, [&] { as({"wtype", "-s", "300", "a"})->wait(5s); }); }
  // A line for the pointer (see tools/pointer), handled by the compositor and the saver.
  void pointer(Child* saver, const std::string& line);

 private:
  void settled(Child& saver, const std::function<void()>& input) {
    input();
    const std::string call = "/proc/" + std::to_string(saver.pid()) + "/syscall";
    EXPECT_TRUE(poll_until([&] {
      return !saver.running() || read_text(call).starts_with(std::to_string(SYS_ppoll) + " ");
    }, 3s)) << "the saver neither took the input nor ended";
  }

  Server server_;
  std::unique_ptr<Desktop> x_;
  std::string dir_, socket_;
  Strings user_;
  std::unique_ptr<Child> compositor_, pointer_, typing_;
  int to_pointer_ = -1, from_pointer_ = -1;
};

inline Screenshot Compositor::screenshot(const std::string& output) {
  Screenshot shot;
  std::vector<unsigned char> rgb;
  if (server_ == Server::KWin) return x_->screenshot();
  if (server_ == Server::Sway) {
    const std::string ppm = output_of({"grim", "-t", "ppm", "-o", output, "-"});
    std::istringstream header(ppm);
    header.ignore(2) >> shot.width >> shot.height;  // P6, then the most a channel holds: 255
    const auto at = ppm.find("255\n") + 4;
    if (ppm.size() != at + std::size_t(shot.width) * shot.height * 3) return {};
    rgb.assign(ppm.begin() + long(at), ppm.end());
  } else {  // one file a second, named by the time: each is taken away once read
    const auto names = output_of({"sh", "-c", "cd \"$HOME\" && weston-screenshooter && ls *.png"});
    const std::string path = dir_ + "/" + names.substr(0, names.find('\n'));
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str())) {
      image.format = PNG_FORMAT_RGB;
      rgb.resize(PNG_IMAGE_SIZE(image));
      if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
        shot.width = int(image.width), shot.height = int(image.height);
    }
    std::filesystem::remove(path);
    if (!shot.width) return {};
  }
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
    shot.pixels.push_back(std::uint32_t(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
  return shot;
}

inline void Compositor::pointer(Child* saver, const std::string& line) {
  const auto said = [&](const std::string& word) {
    std::string text;
    pollfd in{from_pointer_, POLLIN, 0};
    for (char c = 0; c != '\n' && poll(&in, 1, 5000) > 0 && read(from_pointer_, &c, 1) == 1;)
      text += c;
    return text == word + "\n";
  };
  if (!pointer_) {  // one pointer for the whole test, over a layout of sway's two outputs
    int fds[2];
    const std::string fifo = dir_ + "/pointer";
    if (mkfifo(fifo.c_str(), 0666) != 0 || pipe(fds) != 0) return;
    pointer_ = as({dir_ + "/pairstream-pointer", fifo, "2304", "768"}, dir_ + "/pointer.log", fds[1]);
    close(fds[1]);
    from_pointer_ = fds[0];
    ASSERT_TRUE(said("ready")) << read_text(dir_ + "/pointer.log");
    ASSERT_TRUE(poll_until([&] {
      return (to_pointer_ = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0;
    }, 5s));
  }
  const auto send = [&] {
    ASSERT_EQ(write(to_pointer_, (line + "\n").data(), line.size() + 1), ssize_t(line.size() + 1));
    ASSERT_TRUE(said("ok")) << "the compositor did not take: " << line;
  };
  if (saver) settled(*saver, send); else send();
}

// The desktop a row of a table shared by the targets runs on: an X server of its own (Xvfb at
// 1920x1080, or with `powered` Xorg, whose monitor DPMS powers), sway with one output of 1280x720,
// or the process's Wine session; none, and why, where it cannot run here.
struct Target {
  std::unique_ptr<Screen> own;
  Screen* screen = nullptr;
  std::string why = "sway and Xorg run as root here";
};
inline Target target(const std::string& name, bool powered = false) {
  Target t;
  if (name == "Wine") {
    t.screen = wine_desktop(t.why);
  } else if (geteuid() == 0 || (name == "X11" && !powered)) {
    if (name == "X11")
      t.own = std::make_unique<Desktop>(Kind::X11, 1920, 1080, true, powered ? Monitors::Powered : Monitors::One);
    else
      t.own = std::make_unique<Compositor>(Server::Sway, Strings{"1280x720 0 0"}, powered);
    t.screen = t.own.get();
  }
  return t;
}

}  // namespace ps::desktop
