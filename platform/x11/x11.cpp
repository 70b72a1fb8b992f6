// The Linux desktop on Xlib: the show's window over the primary monitor (RandR 1.5, else
// Xinerama) and a black one over every other, all override-redirect and kept on top; keyboard
// and pointer grabbed, the X connection and the end signals translated into the show's events,
// and the surface sent as the pixels changed since the last flush, at most once per refresh of
// the primary monitor while the show ticks 100 times a second. In a saver host's window it
// only draws, follows that window's size and ends with it. Needs a TrueColor visual; on any
// other the saver says so and ends with status 1.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/common/flush.h"
#include "platform/common/pace.h"
#include "platform/desktop.h"
#include "platform/linux/linux.h"

// For _XSend, last: it defines min and max as macros.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace ps {
namespace {

struct Area {
  int x = 0, y = 0, width = 0, height = 0;
  bool meets(const Area& o) const {
    return x < o.x + o.width && o.x < x + width && y < o.y + o.height && o.y < y + height;
  }
};

// A host's window that goes away takes the show with it. Xlib reports a drawing request on a
// destroyed window as an error naming it, which may come before its DestroyNotify.
Window host_window = 0;

[[noreturn]] void host_gone() {
  std::fputs("pairstream: the host's window went away\n", stderr);
  _exit(1);
}

class X11 final : public Backend {
 public:
  X11(Display* display, bool previous, int signals)
      : display_(display), signals_(signals), previous_(previous) {}

  Stage& stage() { return stage_; }
  bool open();
  bool host(Window target);
  void show();
  [[noreturn]] void loop();

  // Backend.
  void window_state(int) override {}  // the window is created covering the monitor
  void set_interval(int ms) override;
  bool another_instance() override { return previous_; }
  int show_cursor(std::int32_t show) override;
  int service() override;
  [[noreturn]] void end() override { _exit(0); }

 private:
  std::vector<Area> monitors() const;
  Pace::Clock::duration refresh() const;
  void place();
  Window black_window(const Area& area);
  bool use_visual(Visual* visual, int depth);
  bool retry_grab() const { return !hosted_ && !grabbed_ && viewable_ && grab_tries_ < 100; }
  void pump(int mode, bool signals);
  void translate(XEvent& event);
  void check_timer(Pace::Clock::time_point now);
  void grab();
  void keep_on_top(Pace::Clock::time_point now);
  void apply_cursor();
  void resized(int width, int height);
  void flush();
  void send_requests();
  void send_whole();
  unsigned long pixel(Rgb rgb) const;

  Stage stage_{*this};
  Pace pace_;
  Flush flush_;
  Display* display_;
  Window root_ = 0;
  Window window_ = 0;
  Area primary_;
  std::vector<Window> blacks_;  // one over each monitor but the primary
  GC gc_ = nullptr;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  Cursor invisible_ = 0;
  Atom delete_window_ = 0;
  int randr_event_ = -1;
  int signals_;
  XImage* image_ = nullptr;  // a strip of the picture in the server's format
  std::vector<char> strip_;
  std::array<int, 3> shift_{};
  unsigned long opaque_ = 0;  // the alpha bits of a 32-bit visual, all set
  bool words_ = false;        // the strip's pixels are 32-bit words in this machine's order

  Countdown ticks_;
  Pace::Clock::time_point raise_at_{};  // the earliest the next raise may come
  Pace::Clock::time_point flushed_at_{};
  int cursor_ = 0;
  int grab_tries_ = 0;
  unsigned pressed_ = 0;  // the button pressed and not yet released, 0 if none
  bool previous_;
  bool hosted_ = false;  // drawing into a host's window: no grabs, no cursor, no input
  bool viewable_ = false;
  bool grabbed_ = false;
  bool exposed_ = false;
  bool mapped_ = false;
  bool covered_ = false;  // something came over one of the saver's windows since the last raise
};

// The monitors, the primary first: RandR 1.5's (the one marked primary, else the first), else
// Xinerama's heads, else the whole screen. A monitor that overlaps one before it is left out:
// mirrored outputs show one window, and no two of the saver's windows fight to be on top.
std::vector<Area> X11::monitors() const {
  std::vector<Area> found;
  const auto add = [&](Area area, bool primary) {
    if (area.width <= 0 || area.height <= 0) return;
    if (primary)
      found.insert(found.begin(), area);
    else
      found.push_back(area);
  };
  int count = 0, major = 0, minor = 0;
  if (randr_event_ >= 0 && XRRQueryVersion(display_, &major, &minor) &&
      major * 100 + minor >= 105) {
    if (XRRMonitorInfo* listed = XRRGetMonitors(display_, root_, True, &count)) {
      for (int i = 0; i < count; ++i)
        add({listed[i].x, listed[i].y, listed[i].width, listed[i].height}, listed[i].primary);
      XRRFreeMonitors(listed);
    }
  }
  if (found.empty() && XineramaIsActive(display_)) {
    if (XineramaScreenInfo* heads = XineramaQueryScreens(display_, &count)) {
      for (int i = 0; i < count; ++i)
        add({heads[i].x_org, heads[i].y_org, heads[i].width, heads[i].height}, false);
      XFree(heads);
    }
  }
  const int screen = DefaultScreen(display_);
  if (found.empty())
    add({0, 0, DisplayWidth(display_, screen), DisplayHeight(display_, screen)}, true);
  std::vector<Area> apart;
  for (const Area& area : found)
    if (std::none_of(apart.begin(), apart.end(), [&](const Area& a) { return a.meets(area); }))
      apart.push_back(area);
  return apart;
}

// The time between two refreshes of the monitor the show is on: the mode of RandR's CRTC at the
// primary's place; 60 Hz when there is none (Xinerama, a host's window, a virtual server) or
// when its rate is below 20 Hz, which no monitor shows: the saver wakes once a refresh.
Pace::Clock::duration X11::refresh() const {
  double hz = 0;
  XRRScreenResources* resources =
      randr_event_ >= 0 ? XRRGetScreenResourcesCurrent(display_, root_) : nullptr;
  for (int c = 0; resources && c < resources->ncrtc && hz == 0; ++c) {
    XRRCrtcInfo* crtc = XRRGetCrtcInfo(display_, resources, resources->crtcs[c]);
    if (crtc && crtc->mode != None && crtc->x == primary_.x && crtc->y == primary_.y)
      for (int m = 0; m < resources->nmode; ++m) {
        const XRRModeInfo& mode = resources->modes[m];
        if (mode.id == crtc->mode && mode.hTotal != 0 && mode.vTotal != 0)
          hz = double(mode.dotClock) / (double(mode.hTotal) * double(mode.vTotal));
      }
    if (crtc) XRRFreeCrtcInfo(crtc);
  }
  if (resources) XRRFreeScreenResources(resources);
  return std::chrono::duration_cast<Pace::Clock::duration>(
      std::chrono::duration<double>(1 / (hz >= 20 ? hz : 60.0)));
}

bool X11::use_visual(Visual* visual, int depth) {
  if (visual->c_class != TrueColor) return false;
  visual_ = visual;
  depth_ = depth;
  for (int c = 0; c < 3; ++c) {
    const unsigned long mask = c == 0   ? visual_->red_mask
                               : c == 1 ? visual_->green_mask
                                        : visual_->blue_mask;
    shift_[c] = mask ? std::countr_zero(mask) - (8 - std::popcount(mask)) : 0;
  }
  const unsigned long all = depth_ >= 32 ? 0xFFFFFFFFul : (1ul << depth_) - 1;
  opaque_ = all & ~(visual_->red_mask | visual_->green_mask | visual_->blue_mask);
  return true;
}

bool X11::open() {
  const int screen = DefaultScreen(display_);
  root_ = RootWindow(display_, screen);
  if (!use_visual(DefaultVisual(display_, screen), DefaultDepth(display_, screen))) {
    std::fputs("pairstream: the display's default visual is not TrueColor\n", stderr);
    return false;
  }

  // The monitors change with the screen's size (the root's ConfigureNotify, which is also all
  // that RandR 1.5's monitor requests send) or with a CRTC's mode (RandR's screen change).
  int error_base = 0;
  if (XRRQueryExtension(display_, &randr_event_, &error_base))
    XRRSelectInput(display_, root_, RRScreenChangeNotifyMask);
  else
    randr_event_ = -1;
  XSelectInput(display_, root_, StructureNotifyMask);

  const char blank = 0;
  const Pixmap empty = XCreateBitmapFromData(display_, root_, &blank, 1, 1);
  XColor black{};
  invisible_ = XCreatePixmapCursor(display_, empty, empty, &black, &black, 0, 0);
  XFreePixmap(display_, empty);

  // The show's window is a black one that also draws, wears the pointer the show asks for and
  // hears its exposure and size; place() puts it over the primary monitor.
  delete_window_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
  window_ = black_window({0, 0, 1, 1});
  XSelectInput(display_, window_,
               KeyPressMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                   ExposureMask | StructureNotifyMask | VisibilityChangeMask);
  XUndefineCursor(display_, window_);
  XStoreName(display_, window_, "pairstream");
  XClassHint hint{const_cast<char*>("pairstream"), const_cast<char*>("pairstream")};
  XSetClassHint(display_, window_, &hint);
  gc_ = XCreateGC(display_, window_, 0, nullptr);
  place();
  resized(primary_.width, primary_.height);
  set_interval(stage_.Timer1.interval());
  return true;
}

// A black window over `area` that shows no pointer and ends the show on the show's input. The
// server paints its background: it costs the saver nothing. Override-redirect, as X's lockers
// and saver daemons make theirs: no window manager stacks, decorates or lists it, so no panel
// stays over it and no taskbar shows it; no one but the saver places it.
Window X11::black_window(const Area& area) {
  const int screen = DefaultScreen(display_);
  XSetWindowAttributes attributes{};
  attributes.background_pixel = BlackPixel(display_, screen);
  attributes.override_redirect = True;
  attributes.cursor = invisible_;
  attributes.event_mask =
      KeyPressMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | VisibilityChangeMask;
  const Window made = XCreateWindow(
      display_, root_, area.x, area.y, static_cast<unsigned>(area.width),
      static_cast<unsigned>(area.height), 0, CopyFromParent, InputOutput, CopyFromParent,
      CWBackPixel | CWOverrideRedirect | CWCursor | CWEventMask, &attributes);
  XSetWMProtocols(display_, made, &delete_window_, 1);
  if (mapped_) XMapRaised(display_, made);
  return made;
}

// The show's window over the primary monitor, a black one over each other: at start and each
// time the monitors change. The show follows its window's new size as any resize.
void X11::place() {
  const std::vector<Area> found = monitors();
  primary_ = found.front();
  XMoveResizeWindow(display_, window_, primary_.x, primary_.y,
                    static_cast<unsigned>(primary_.width), static_cast<unsigned>(primary_.height));
  for (const Window black : blacks_) XDestroyWindow(display_, black);
  blacks_.clear();
  for (std::size_t i = 1; i < found.size(); ++i) blacks_.push_back(black_window(found[i]));
  ticks_.set_frame(refresh());
}

// The host keeps its window, its grabs and the input: the saver only listens for the window's
// size, exposure and end, which any number of clients may do.
bool X11::host(Window target) {
  XWindowAttributes attributes{};
  if (target == 0) {
    std::fputs("pairstream: no window id could be read from the arguments\n", stderr);
    return false;
  }
  if (!XGetWindowAttributes(display_, target, &attributes)) {
    std::fprintf(stderr, "pairstream: 0x%lx is not a window\n", target);
    return false;
  }
  if (!use_visual(attributes.visual, attributes.depth)) {
    std::fprintf(stderr, "pairstream: the visual of the window 0x%lx is not TrueColor\n", target);
    return false;
  }
  hosted_ = true;
  host_window = window_ = target;
  root_ = attributes.root;
  XSelectInput(display_, window_, StructureNotifyMask | ExposureMask);
  gc_ = XCreateGC(display_, window_, 0, nullptr);
  XSync(display_, False);  // a window destroyed since the look above ends the saver here
  resized(attributes.width, attributes.height);
  set_interval(stage_.Timer1.interval());
  return true;
}

void X11::show() {
  if (!hosted_) {
    mapped_ = true;
    XMapRaised(display_, window_);
    for (const Window black : blacks_) XMapRaised(display_, black);
  } else {
    // As in a window of its own, what Load drew is sent once it returns, and sending it during
    // the scatter would stall the scatter on the server.
    XWindowAttributes attributes{};
    viewable_ =
        XGetWindowAttributes(display_, window_, &attributes) && attributes.map_state != IsUnmapped;
    exposed_ = true;
  }
  XFlush(display_);
}

void X11::set_interval(int ms) { ticks_.arm(ms, stage_.in_tick()); }

void X11::check_timer(Pace::Clock::time_point now) {
  if (ticks_.due(now)) stage_.tick_due();
}

int X11::show_cursor(std::int32_t show) {
  cursor_ += show != 0 ? 1 : -1;
  if (!hosted_) apply_cursor();
  return cursor_;
}

void X11::apply_cursor() {
  const Cursor wear = cursor_ < 0 ? invisible_ : None;
  if (wear)
    XDefineCursor(display_, window_, wear);
  else
    XUndefineCursor(display_, window_);
  if (grabbed_)
    XChangeActivePointerGrab(display_, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                             wear, CurrentTime);
  XFlush(display_);
}

void X11::grab() {
  // Input that ends the show must not reach another program, and motion anywhere counts.
  if (hosted_ || grabbed_ || !viewable_) return;
  const int keyboard =
      XGrabKeyboard(display_, window_, False, GrabModeAsync, GrabModeAsync, CurrentTime);
  const int pointer = XGrabPointer(
      display_, window_, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
      GrabModeAsync, GrabModeAsync, None, cursor_ < 0 ? invisible_ : None, CurrentTime);
  grabbed_ = keyboard == GrabSuccess && pointer == GrabSuccess;
  ++grab_tries_;
}

int X11::service() {
  // Every look is a system call or two: make one about once per millisecond. The picture waits
  // for the tick's end, so that the screen only ever shows the show between ticks.
  const auto now = Pace::Clock::now();
  if (pace_.due(now)) {
    pump(QueuedAfterReading, true);
    check_timer(now);
    stage_.run_pending_tick();
  }
  return Pace::kCalls;
}

// Takes the end signals when `signals`, and the X events queued by `mode`'s rule.
void X11::pump(int mode, bool signals) {
  if (signals && end_signalled(signals_)) stage_.show().QueryUnload();
  for (int queued = XEventsQueued(display_, mode); queued > 0;
       queued = XEventsQueued(display_, QueuedAlready)) {
    XEvent event;
    XNextEvent(display_, &event);
    translate(event);
  }
  if (exposed_) send_whole();
}

void X11::translate(XEvent& event) {
  Events& form = stage_.show();
  switch (event.type) {
    case KeyPress:
      form.KeyDown();
      break;
    case ButtonPress:
      if (event.xbutton.button >= Button1 && event.xbutton.button <= Button3)
        pressed_ = event.xbutton.button;
      break;
    case ButtonRelease:
      if (pressed_ != 0 && event.xbutton.button == pressed_) form.Click();
      pressed_ = 0;
      break;
    case MotionNotify:  // from any of the saver's windows, in the show window's coordinates
      form.MouseMove(static_cast<float>(event.xmotion.x_root - primary_.x),
                     static_cast<float>(event.xmotion.y_root - primary_.y));
      break;
    case ClientMessage:
      if (static_cast<Atom>(event.xclient.data.l[0]) == delete_window_) form.QueryUnload();
      break;
    case Expose:
      exposed_ = true;
      break;
    case MapNotify:
      viewable_ = true;
      exposed_ = true;
      grab();
      break;
    case UnmapNotify:
      viewable_ = false;
      break;
    case DestroyNotify:
      if (hosted_ && event.xdestroywindow.window == window_) host_gone();
      break;
    case VisibilityNotify:  // something came over one of the saver's windows
      covered_ = covered_ || event.xvisibility.state != VisibilityUnobscured;
      break;
    case ConfigureNotify:
      if (!hosted_ && event.xconfigure.window == root_) {
        if (randr_event_ >= 0) XRRUpdateConfiguration(&event);
        place();
      }
      if (event.xconfigure.window == window_ &&
          (event.xconfigure.width != stage_.surface().width() ||
           event.xconfigure.height != stage_.surface().height()))
        resized(event.xconfigure.width, event.xconfigure.height);
      break;
    default:
      if (randr_event_ >= 0 && event.type == randr_event_ + RRScreenChangeNotify) {
        XRRUpdateConfiguration(&event);
        place();
      }
      break;
  }
}

[[noreturn]] void X11::loop() {
  // A wake costs what its system calls cost: the loop reads only what ppoll found waiting and
  // writes only what it has, so that a wake takes a ppoll and the write of the points changed
  // since the last.
  pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {signals_, POLLIN, 0}};
  for (;;) {
    pump(fds[0].revents != 0 ? QueuedAfterReading : QueuedAlready, fds[1].revents != 0);
    run_due_ticks(ticks_, stage_);
    if (retry_grab()) grab();
    const auto now = Pace::Clock::now();
    keep_on_top(now);
    // A quarter of a frame of slack: a tick late by a millisecond or two must not halve the rate.
    if (stage_.surface().dirty() && (now - flushed_at_ >= ticks_.frame() * 3 / 4 || !ticks_.armed())) {
      flushed_at_ = now;
      flush();
    }
    send_requests();
    fds[0].revents = fds[1].revents = 0;
    if (XEventsQueued(display_, QueuedAlready) > 0) continue;

    // Sleep until input, a signal or the first tick due once a flush may go again: the saver
    // wakes about once a frame, and the ticks that fell due meanwhile run one after another.
    const auto wait = ticks_.left(Pace::Clock::now(), flushed_at_ + ticks_.frame() * 3 / 4);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    if ((retry_grab() || covered_) && timeout.tv_nsec > 10000000)
      timeout = {0, 10000000};  // try the grab or the raise again soon
    ppoll(fds, 2, ticks_.armed() || !grabbed_ || covered_ ? &timeout : nullptr, nullptr);
    if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) _exit(1);
    pace_.looked(Pace::Clock::now());
  }
}

// Raises the saver's windows again once something covers them, at most five times a second: with
// a program that keeps on top the same way (another user's saver, a locker) it then takes turns
// on the screen rather than on the CPU.
void X11::keep_on_top(Pace::Clock::time_point now) {
  if (!covered_ || now < raise_at_) return;
  covered_ = false;
  raise_at_ = now + std::chrono::milliseconds(200);
  XRaiseWindow(display_, window_);
  for (const Window black : blacks_) XRaiseWindow(display_, black);
}

void X11::resized(int width, int height) {
  stage_.resize(width, height);
  const Surface& surface = stage_.surface();
  prefer_large_pages(surface);
  if (image_) {
    image_->data = nullptr;  // the pixels belong to strip_
    XDestroyImage(image_);
    image_ = nullptr;
  }
  if (surface.width() == 0) return;
  // The picture goes out in bands, converted to the server's format.
  const int rows = surface.band_rows();
  image_ = XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                        static_cast<unsigned>(surface.width()), static_cast<unsigned>(rows), 32, 0);
  if (!image_) return;
  strip_.resize(static_cast<std::size_t>(image_->bytes_per_line) * rows);
  image_->data = strip_.data();
  words_ = image_->bits_per_pixel == 32 &&
           (image_->byte_order == LSBFirst) == (std::endian::native == std::endian::little);
}

unsigned long X11::pixel(Rgb rgb) const {
  const auto place = [](unsigned long channel, int shift, unsigned long mask) {
    return (shift >= 0 ? channel << shift : channel >> -shift) & mask;
  };
  return opaque_ | place(rgb >> 16 & 0xFF, shift_[0], visual_->red_mask) |
         place(rgb >> 8 & 0xFF, shift_[1], visual_->green_mask) |
         place(rgb & 0xFF, shift_[2], visual_->blue_mask);
}

// Writes what Xlib holds without reading the connection as XFlush does: ppoll says when there is
// something to read.
void X11::send_requests() {
  LockDisplay(display_);
  _XSend(display_, nullptr, 0);
  UnlockDisplay(display_);
}

void X11::flush() {
  Surface& surface = stage_.surface();
  if (!surface.dirty()) return;
  surface.settle_changes();
  // Until the window is shown its Expose brings the whole picture; nothing need be sent.
  static_assert(sizeof(XPoint) == sizeof(Flush::Point) && alignof(XPoint) == alignof(Flush::Point));
  if (!viewable_ || !flush_.send(surface, [&](Rgb colour, std::span<const Flush::Point> points) {
        XSetForeground(display_, gc_, pixel(colour));
        XDrawPoints(display_, window_, gc_,
                    reinterpret_cast<XPoint*>(const_cast<Flush::Point*>(points.data())),
                    static_cast<int>(points.size()), CoordModeOrigin);
      }))
    exposed_ = true;
  surface.flushed();
  if (exposed_ && viewable_) send_whole();
}

void X11::send_whole() {
  exposed_ = false;
  Surface& surface = stage_.surface();
  surface.settle();
  if (!image_ || !viewable_) return;
  std::array<unsigned long, Surface::kInks> native;
  for (std::size_t ink = 0; ink < native.size(); ++ink) native[ink] = pixel(surface.colours()[ink]);
  for (int top = 0; top < surface.height(); top += image_->height) {
    const int rows = std::min(image_->height, surface.height() - top);
    for (int y = 0; y < rows; ++y) {
      const auto inks = surface.row(top + y);
      auto* words = reinterpret_cast<std::uint32_t*>(image_->data + y * image_->bytes_per_line);
      for (int x = 0; x < surface.width(); ++x) {
        if (words_)
          words[x] = static_cast<std::uint32_t>(native[inks[x]]);
        else
          XPutPixel(image_, x, y, native[inks[x]]);
      }
    }
    XPutImage(display_, window_, gc_, image_, 0, 0, 0, top, static_cast<unsigned>(surface.width()),
              static_cast<unsigned>(rows));
  }
}

// A refused request is not fatal, unless it names the host's window, which is then gone.
int on_error(Display*, XErrorEvent* error) {
  if (host_window != 0 && error->resourceid == host_window &&
      (error->error_code == BadWindow || error->error_code == BadDrawable))
    host_gone();
  return 0;
}
int lost_server(Display*) { _exit(1); }  // the display is gone: end at once

}  // namespace

int run_x11(const Mode& mode, const MakeShow& make_show) {
  const int signals = end_signals();

  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "pairstream: cannot open the display '%s'\n",
                 std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
    return 1;
  }
  XSetErrorHandler(on_error);
  XSetIOErrorHandler(lost_server);
  fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);

  // A second instance must not change anything, not even make a window. In a host's window the
  // saver is one of the host's, which may run several: it takes no lock.
  const bool hosted = mode.kind == Mode::Kind::Embedded;
  const bool previous = !hosted && lock_held_by_another();
  auto x11 = std::make_unique<X11>(display, previous, signals);
  Events& show = make_show(x11->stage());
  x11->stage().attach(show);
  if (hosted) {
    // X's window ids are 32 bits on the wire; a larger number would name another window.
    const Window target = mode.root                    ? DefaultRootWindow(display)
                          : mode.window <= 0xFFFFFFFFu ? static_cast<Window>(mode.window)
                                                       : 0;
    if (!x11->host(target)) return 1;
  } else if (!previous && !x11->open()) {
    return 1;
  }
  show.Load();
  x11->show();
  x11->loop();
}

}  // namespace ps
