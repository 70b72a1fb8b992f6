// Xvfb, XTest, XGetImage and XFixes for the end-to-end tests.
#include "tests/desktop/xserver.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <thread>

namespace ps::e2e {

bool XServer::start(int width, int height, const std::string& log) {
  int fds[2];
  if (pipe(fds) != 0) return fail("no pipe");
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  // -noreset: the server must outlive every client, or the next launch meets a fresh server.
  pid_ = spawn({{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-noreset",
                 "-nolisten", "tcp"},
                {},
                log,
                fds[1]});
  ::close(fds[1]);
  std::string number;
  pollfd ready{fds[0], POLLIN, 0};
  const auto end = Clock::now() + milliseconds(10000);
  while (Clock::now() < end && number.find('\n') == std::string::npos) {
    if (poll(&ready, 1, 100) <= 0) continue;
    char chunk[16];
    const ssize_t got = read(fds[0], chunk, sizeof chunk);
    if (got <= 0) break;
    number.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    why_ = "Xvfb did not report a display: " + read_text(log);
    close();
    return false;
  }
  number_ = std::stoi(number);
  display_ = XOpenDisplay(display_name().c_str());
  int event = 0, error = 0, major = 0, minor = 0;
  if (!display_ || !XTestQueryExtension(display_, &event, &error, &major, &minor) ||
      !XFixesQueryExtension(display_, &event, &error)) {
    why_ = "Xvfb lacks XTest or XFixes";
    close();
    return false;
  }
  return true;
}

void XServer::close() {
  if (display_) XCloseDisplay(display_);
  display_ = nullptr;
  stop(pid_);
  pid_ = -1;
}

void XServer::crash() {
  display_ = nullptr;
  if (pid_ > 0) kill(pid_, SIGKILL);
}

void XServer::move_pointer(int x, int y) {
  XTestFakeMotionEvent(display_, 0, x, y, CurrentTime);
  XSync(display_, False);
}

void XServer::key(unsigned long keysym, bool press) {
  XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, keysym), press, CurrentTime);
  XSync(display_, False);
}

void XServer::tap(unsigned long keysym) {
  key(keysym, true);
  key(keysym, false);
}

void XServer::button(unsigned button, bool press) {
  XTestFakeButtonEvent(display_, button, press, CurrentTime);
  XSync(display_, False);
}

long XServer::jiggle_pointer(int x, int y, int per_millisecond, milliseconds span) {
  long sent = 0;
  const auto begin = Clock::now();
  for (auto next = begin; Clock::now() - begin < span; next += milliseconds(1)) {
    for (int i = 0; i < per_millisecond; ++i, ++sent)
      XTestFakeMotionEvent(display_, 0, x + static_cast<int>(sent % 2), y, CurrentTime);
    XFlush(display_);
    std::this_thread::sleep_until(next);
  }
  XSync(display_, False);
  return sent;
}

void XServer::flash_window(int x, int y, int width, int height, std::uint32_t colour, int times) {
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = colour;
  const Window w =
      XCreateWindow(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(width),
                    static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                    CWOverrideRedirect | CWBackPixel, &attributes);
  for (int i = 0; i < times; ++i) {
    XMapRaised(display_, w);
    XSync(display_, False);
    XUnmapWindow(display_, w);
    XSync(display_, False);
  }
  XDestroyWindow(display_, w);
  XSync(display_, False);
}

Screenshot XServer::screenshot() {
  Screenshot shot;
  const Window root = DefaultRootWindow(display_);
  XWindowAttributes attributes;
  XGetWindowAttributes(display_, root, &attributes);
  const auto destroy = [](XImage* image) { XDestroyImage(image); };
  std::unique_ptr<XImage, decltype(destroy)> image(
      XGetImage(display_, root, 0, 0, static_cast<unsigned>(attributes.width),
                static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap),
      destroy);
  if (!image) return shot;
  shot.width = attributes.width;
  shot.height = attributes.height;
  shot.pixels.resize(static_cast<std::size_t>(shot.width) * shot.height);
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x)
      shot.pixels[static_cast<std::size_t>(y) * shot.width + x] =
          static_cast<std::uint32_t>(XGetPixel(image.get(), x, y) & 0xFFFFFF);
  return shot;
}

std::vector<Toplevel> XServer::toplevels(const std::string& name) {
  std::vector<Toplevel> found;
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count))
    return found;
  for (unsigned i = 0; i < count; ++i) {
    char* title = nullptr;
    if (!XFetchName(display_, children[i], &title) || !title) continue;
    const std::string text = title;
    XFree(title);
    if (text != name) continue;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, children[i], &attributes)) continue;
    found.push_back({children[i], text, attributes.x, attributes.y, attributes.width,
                     attributes.height, attributes.map_state == IsViewable});
  }
  if (children) XFree(children);
  return found;
}

bool XServer::pointer_visible() {
  std::unique_ptr<XFixesCursorImage, int (*)(void*)> image(XFixesGetCursorImage(display_), XFree);
  if (!image) return false;
  const std::size_t count = std::size_t{image->width} * image->height;
  for (std::size_t i = 0; i < count; ++i)
    if ((image->pixels[i] >> 24) != 0) return true;
  return false;
}

void XServer::request_close(unsigned long window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XSync(display_, False);
}

}  // namespace ps::e2e
