// Xvfb and saver processes started with posix_spawn and ended by pid, and the Xlib, XTest and
// XFixes calls the tests read and drive the screen with. Failures to start throw, so a test
// reports them instead of hanging.
#include "xsession.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace ps::e2e {
namespace {

// A window can vanish between listing and asking about it; such errors are expected here.
int ignore_x_error(Display*, XErrorEvent*) { return 0; }

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            posix_spawn_file_actions_t* actions) {
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], actions, nullptr, args.data(), envp.data());
  if (rc != 0) throw std::runtime_error(argv[0] + ": " + std::strerror(rc));
  return pid;
}

// Ends a child: `sig` first, SIGKILL if it is still there after `grace`.
void end_child(pid_t pid, int sig, milliseconds grace) {
  if (pid <= 0) return;
  ::kill(pid, sig);
  int status = 0;
  const bool gone = wait_until([&] { return waitpid(pid, &status, WNOHANG) == pid; }, grace);
  if (!gone) {
    ::kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
}

}  // namespace

bool wait_until(const std::function<bool()>& done, milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
}

TempDir::TempDir() {
  char name[] = "/tmp/pairstream-e2e-XXXXXX";
  if (!mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
  path_ = name;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

XServer::XServer(int width, int height) : width_(width), height_(height) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Xvfb writes the display number it chose to fd 3 once it accepts connections.
  posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  try {
    pid_ = spawn({"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp"},
                 env, &actions);
  } catch (...) {
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    close(fds[1]);
    throw;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string number;
  const auto deadline = Clock::now() + milliseconds(10000);
  while (number.empty() || number.back() != '\n') {
    const auto left =
        std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    pollfd p{fds[0], POLLIN, 0};
    char buf[16];
    ssize_t n = 0;
    if (left <= 0 || poll(&p, 1, int(left)) <= 0 || (n = read(fds[0], buf, sizeof buf)) <= 0) {
      close(fds[0]);
      end_child(pid_, SIGKILL, milliseconds(1000));
      throw std::runtime_error("Xvfb did not report a display");
    }
    number.append(buf, std::size_t(n));
  }
  close(fds[0]);
  number.pop_back();
  name_ = ":" + number;
  XSetErrorHandler(ignore_x_error);
  dpy_ = XOpenDisplay(name_.c_str());
  if (!dpy_) {
    end_child(pid_, SIGKILL, milliseconds(1000));
    throw std::runtime_error("cannot connect to Xvfb on " + name_);
  }
  root_ = DefaultRootWindow(dpy_);
}

XServer::~XServer() {
  if (dpy_) XCloseDisplay(dpy_);
  end_child(pid_, SIGTERM, milliseconds(2000));
}

Saver::Saver(const XServer& x, const std::string& runtime_dir,
             const std::vector<std::string>& args, const std::string& path, int uid) {
  std::vector<std::string> argv;
  if (uid >= 0)
    argv = {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(uid),
            "--clear-groups"};
  argv.push_back(path.empty() ? std::string(PAIRSTREAM_SAVER) : path);
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string_view v(*e);
    if (!v.starts_with("DISPLAY=") && !v.starts_with("XDG_RUNTIME_DIR=") &&
        !v.starts_with("WAYLAND_DISPLAY="))
      env.emplace_back(v);
  }
  env.push_back("DISPLAY=" + x.name());
  if (!runtime_dir.empty()) env.push_back("XDG_RUNTIME_DIR=" + runtime_dir);
  pid_ = spawn(argv, env, nullptr);
}

Saver::~Saver() {
  if (!status_) end_child(pid_, SIGKILL, milliseconds(2000));
}

bool Saver::running() { return !wait_exit(milliseconds(0)); }

std::optional<int> Saver::wait_exit(milliseconds limit) {
  if (status_) return status_;
  int status = 0;
  if (wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit))
    status_ = status;
  return status_;
}

void Saver::signal(int sig) const {
  if (!status_) ::kill(pid_, sig);
}

std::string describe(std::optional<int> s) {
  if (!s) return "still running";
  if (WIFEXITED(*s)) return "exited with status " + std::to_string(WEXITSTATUS(*s));
  if (WIFSIGNALED(*s)) return std::string("killed by ") + strsignal(WTERMSIG(*s));
  return "wait status " + std::to_string(*s);
}

bool exited_cleanly(std::optional<int> s) { return s && WIFEXITED(*s) && WEXITSTATUS(*s) == 0; }

std::vector<Window> viewable_windows(const XServer& x) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  std::vector<Window> out;
  if (!XQueryTree(x.dpy(), x.root(), &root, &parent, &children, &count)) return out;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(x.dpy(), children[i], &a) && a.map_state == IsViewable)
      out.push_back(children[i]);
  }
  if (children) XFree(children);
  return out;
}

Window full_screen_window(const XServer& x) {
  for (const Window w : viewable_windows(x)) {
    XWindowAttributes a;
    if (XGetWindowAttributes(x.dpy(), w, &a) && a.x == 0 && a.y == 0 && a.width == x.width() &&
        a.height == x.height())
      return w;
  }
  return 0;
}

bool shows_saver(const XServer& x) { return full_screen_window(x) && screenshot(x).lit() > 100; }

std::string window_name(Display* dpy, Window w) {
  char* name = nullptr;
  std::string out;
  if (XFetchName(dpy, w, &name) && name) out = name;
  if (name) XFree(name);
  return out;
}

std::vector<Atom> atom_list(Display* dpy, Window w, const char* property) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<Atom> out;
  if (XGetWindowProperty(dpy, w, XInternAtom(dpy, property, False), 0, 64, False, XA_ATOM, &type,
                         &format, &count, &after, &data) == Success &&
      type == XA_ATOM && format == 32) {
    const auto* atoms = reinterpret_cast<const Atom*>(data);
    out.assign(atoms, atoms + count);
  }
  if (data) XFree(data);
  return out;
}

int Screenshot::lit() const {
  int n = 0;
  for (const std::uint32_t p : pixels) n += p != 0;
  return n;
}

Screenshot screenshot(const XServer& x) {
  Screenshot shot;
  XImage* image = XGetImage(x.dpy(), x.root(), 0, 0, unsigned(x.width()), unsigned(x.height()),
                            AllPlanes, ZPixmap);
  if (!image) return shot;
  shot.width = x.width();
  shot.height = x.height();
  shot.pixels.reserve(std::size_t(shot.width) * shot.height);
  for (int y = 0; y < shot.height; ++y)
    for (int px = 0; px < shot.width; ++px)
      shot.pixels.push_back(std::uint32_t(XGetPixel(image, px, y)) & 0xFFFFFF);
  XDestroyImage(image);
  return shot;
}

int visible_cursor_pixels(Display* dpy) {
  int event = 0, error = 0;
  if (!XFixesQueryExtension(dpy, &event, &error)) return -1;
  XFixesCursorImage* cursor = XFixesGetCursorImage(dpy);
  if (!cursor) return -1;
  int visible = 0;
  for (unsigned i = 0; i < unsigned(cursor->width) * cursor->height; ++i)
    visible += (cursor->pixels[i] >> 24 & 0xFF) != 0;
  XFree(cursor);
  return visible;
}

void press_key(Display* dpy, unsigned long keysym) {
  const KeyCode code = XKeysymToKeycode(dpy, keysym);
  XTestFakeKeyEvent(dpy, code, True, CurrentTime);
  XTestFakeKeyEvent(dpy, code, False, CurrentTime);
  XSync(dpy, False);
}

void click(Display* dpy, unsigned button) {
  XTestFakeButtonEvent(dpy, button, True, CurrentTime);
  XTestFakeButtonEvent(dpy, button, False, CurrentTime);
  XSync(dpy, False);
}

void move_pointer(Display* dpy, int x, int y) {
  XTestFakeMotionEvent(dpy, DefaultScreen(dpy), x, y, CurrentTime);
  XSync(dpy, False);
}

void request_close(Display* dpy, Window w) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = long(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy, w, False, NoEventMask, &e);
  XSync(dpy, False);
}

}  // namespace ps::e2e
