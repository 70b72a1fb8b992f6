// The Linux desktop on XCB: the show's window over the primary monitor (RandR 1.5, else
// Xinerama) and a black one over every other, all override-redirect and kept on top; keyboard
// and pointer grabbed, the X connection and the end signals translated into the show's events,
// and the surface sent as the pixels changed since the last flush, at most once per refresh of
// the primary monitor while the show ticks 100 times a second; while DPMS has the monitors off
// it looks every 1.25 s whether they are back, and does nothing else. In a saver host's window
// it only draws, follows that window's size and ends with it. Needs a TrueColor visual of 8, 16,
// 24 or 32 bits a pixel; on any other the saver says so and ends with status 1.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/dpms.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xinerama.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "platform/common/flush.h"
#include "platform/common/pace.h"
#include "platform/desktop.h"
#include "platform/linux/linux.h"

namespace ps {
namespace {

using Clock = Pace::Clock;

struct Area {
  int x = 0, y = 0, width = 0, height = 0;
  bool meets(const Area& o) const {
    return x < o.x + o.width && o.x < x + width && y < o.y + o.height && o.y < y + height;
  }
};

// What XCB hands out, replies and events, is the caller's to free.
struct Free {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

constexpr std::uint32_t kInput = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS |
                                 XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION;
constexpr std::uint32_t kPointerInput = kInput & ~XCB_EVENT_MASK_KEY_PRESS;
// While another client holds an input, the saver looks again this often.
constexpr auto kGrabRetry = std::chrono::milliseconds(100);
// How often it asks whether the monitors are powered (no server of today says so of itself): a
// look is a round trip, two wakes, and in the dark the only ones.
constexpr auto kPowerLook = std::chrono::milliseconds(1250);

class X11 final : public Backend {
 public:
  X11(xcb_connection_t* connection, xcb_screen_t* screen, bool previous, int signals)
      : c_(connection), screen_(screen), root_(screen->root), signals_(signals),
        previous_(previous) {}

  Stage& stage() { return stage_; }
  bool open();
  bool host(xcb_window_t target);
  void show();
  [[noreturn]] void loop();

  // Backend.
  void window_state(int) override {}  // the window is created covering the monitor
  void set_interval(int ms) override { ticks_.arm(ms, stage_.in_tick()); }
  bool another_instance() override { return previous_; }
  int show_cursor(std::int32_t show) override;
  int service() override;
  [[noreturn]] void end() override { _exit(0); }

 private:
  std::vector<Area> monitors();
  Clock::duration refresh();
  void place();
  xcb_window_t black_window(const Area& area);
  void raise(xcb_window_t window);
  bool use_visual(xcb_visualid_t id, std::uint8_t depth);
  xcb_atom_t atom(const char* name);
  bool grab_wanted() const { return !hosted_ && viewable_ && !(keyboard_ && pointer_); }
  void grab();
  void pump(bool read, bool signals);
  void translate(const xcb_generic_event_t& event);
  void keep_on_top(Clock::time_point now);
  void look_at_power(Clock::time_point now);
  void apply_cursor();
  void resized(int width, int height);
  void flush();
  void send_whole();
  std::uint32_t pixel(Rgb rgb) const;
  [[noreturn]] void host_gone();

  Stage stage_{*this};
  Pace pace_;
  Flush flush_;
  Countdown ticks_;
  xcb_connection_t* c_;
  xcb_screen_t* screen_;
  xcb_window_t root_;
  xcb_window_t window_ = 0;
  Area primary_;
  std::vector<xcb_window_t> blacks_;  // one over each monitor but the primary
  xcb_gcontext_t gc_ = 0;
  xcb_cursor_t invisible_ = 0;
  xcb_atom_t protocols_ = 0, delete_window_ = 0;
  int randr_event_ = -1;  // none without RandR 1.5
  bool xinerama_ = false;
  bool dpms_ = false;  // the server tells whether the monitors are powered
  bool dark_ = false;  // they are not: no ticks, no flushes
  int signals_;
  xcb_generic_event_t* held_ = nullptr;  // taken from the queue as the loop was to sleep

  // The picture in the server's format: masks, pixel size and order, and a band of rows.
  std::array<std::uint32_t, 3> masks_{};
  std::array<int, 3> shift_{};
  std::uint32_t opaque_ = 0;  // the bits of the depth that no colour uses, all set
  std::uint8_t depth_ = 0;
  int bytes_per_pixel_ = 4;
  int pad_bits_ = 32;
  bool lsb_first_ = true;
  std::uint32_t request_bytes_ = 0;  // the longest request the server takes
  std::size_t line_bytes_ = 0;
  int band_rows_ = 1;
  std::vector<std::uint8_t> strip_;

  Clock::time_point raise_at_{};  // the earliest the next raise may come
  Clock::time_point grab_at_{};   // the next look at inputs another client holds
  Clock::time_point power_at_{};  // the next look at the monitors' power
  Clock::time_point flushed_at_{};
  int cursor_ = 0;
  unsigned pressed_ = 0;  // the button pressed and not yet released, 0 if none
  bool previous_;
  bool hosted_ = false;  // drawing into a host's window: no grabs, no cursor, no input
  bool viewable_ = false;
  bool keyboard_ = false;  // grabbed
  bool pointer_ = false;
  bool exposed_ = false;
  bool mapped_ = false;
  bool covered_ = false;  // something came over one of the saver's windows since the last raise
};

// The monitors, the primary first: RandR 1.5's (the one marked primary, else the first), else
// Xinerama's heads, else the whole screen. A monitor that overlaps one before it is left out:
// mirrored outputs show one window, and no two of the saver's windows fight to be on top.
std::vector<Area> X11::monitors() {
  std::vector<Area> found;
  const auto add = [&](Area area, bool primary) {
    if (area.width <= 0 || area.height <= 0) return;
    if (primary)
      found.insert(found.begin(), area);
    else
      found.push_back(area);
  };
  if (randr_event_ >= 0) {
    const Owned<xcb_randr_get_monitors_reply_t> listed(
        xcb_randr_get_monitors_reply(c_, xcb_randr_get_monitors(c_, root_, 1), nullptr));
    for (auto m = listed ? xcb_randr_get_monitors_monitors_iterator(listed.get())
                         : xcb_randr_monitor_info_iterator_t{};
         m.rem > 0; xcb_randr_monitor_info_next(&m))
      add({m.data->x, m.data->y, m.data->width, m.data->height}, m.data->primary != 0);
  }
  if (found.empty() && xinerama_) {
    const Owned<xcb_xinerama_is_active_reply_t> active(
        xcb_xinerama_is_active_reply(c_, xcb_xinerama_is_active(c_), nullptr));
    const Owned<xcb_xinerama_query_screens_reply_t> heads(
        active && active->state ? xcb_xinerama_query_screens_reply(
                                      c_, xcb_xinerama_query_screens(c_), nullptr)
                                : nullptr);
    const xcb_xinerama_screen_info_t* head =
        heads ? xcb_xinerama_query_screens_screen_info(heads.get()) : nullptr;
    for (int i = 0; heads && i < xcb_xinerama_query_screens_screen_info_length(heads.get()); ++i)
      add({head[i].x_org, head[i].y_org, head[i].width, head[i].height}, false);
  }
  if (found.empty()) {  // the screen's size now, which the setup's may no longer be
    const Owned<xcb_get_geometry_reply_t> root(
        xcb_get_geometry_reply(c_, xcb_get_geometry(c_, root_), nullptr));
    if (root) add({0, 0, root->width, root->height}, true);
  }
  std::vector<Area> apart;
  for (const Area& area : found)
    if (std::none_of(apart.begin(), apart.end(), [&](const Area& a) { return a.meets(area); }))
      apart.push_back(area);
  if (apart.empty()) apart.push_back({0, 0, screen_->width_in_pixels, screen_->height_in_pixels});
  return apart;
}

// The time between two refreshes of the monitor the show is on: the mode of RandR's CRTC at the
// primary's place; 60 Hz when there is none (Xinerama, a host's window, a virtual server) or
// when its rate is below 20 Hz, which no monitor shows: the saver wakes once a refresh.
Clock::duration X11::refresh() {
  double hz = 0;
  const Owned<xcb_randr_get_screen_resources_current_reply_t> resources(
      randr_event_ >= 0 ? xcb_randr_get_screen_resources_current_reply(
                              c_, xcb_randr_get_screen_resources_current(c_, root_), nullptr)
                        : nullptr);
  const int crtcs =
      resources ? xcb_randr_get_screen_resources_current_crtcs_length(resources.get()) : 0;
  for (int i = 0; i < crtcs && hz == 0; ++i) {
    const Owned<xcb_randr_get_crtc_info_reply_t> crtc(xcb_randr_get_crtc_info_reply(
        c_,
        xcb_randr_get_crtc_info(c_, xcb_randr_get_screen_resources_current_crtcs(resources.get())[i],
                                resources->config_timestamp),
        nullptr));
    if (!crtc || crtc->mode == XCB_NONE || crtc->x != primary_.x || crtc->y != primary_.y) continue;
    const xcb_randr_mode_info_t* modes =
        xcb_randr_get_screen_resources_current_modes(resources.get());
    for (int m = 0; m < xcb_randr_get_screen_resources_current_modes_length(resources.get()); ++m)
      if (modes[m].id == crtc->mode && modes[m].htotal != 0 && modes[m].vtotal != 0)
        hz = double(modes[m].dot_clock) / (double(modes[m].htotal) * double(modes[m].vtotal));
  }
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(1 / (hz >= 20 ? hz : 60.0)));
}

// The visual's masks, and the layout of its pixels in an image: what pixel() and send_whole()
// need to write the server's format.
bool X11::use_visual(xcb_visualid_t id, std::uint8_t depth) {
  const xcb_visualtype_t* visual = nullptr;
  for (auto d = xcb_screen_allowed_depths_iterator(screen_); d.rem > 0 && !visual;
       xcb_depth_next(&d))
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v))
      if (v.data->visual_id == id) visual = v.data;
  const xcb_setup_t* setup = xcb_get_setup(c_);
  const xcb_format_t* format = nullptr;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem > 0; xcb_format_next(&f))
    if (f.data->depth == depth) format = f.data;
  if (!visual || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR || !format ||
      format->bits_per_pixel % 8 != 0 || format->bits_per_pixel > 32)
    return false;
  depth_ = depth;
  bytes_per_pixel_ = format->bits_per_pixel / 8;
  pad_bits_ = format->scanline_pad;
  lsb_first_ = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
  masks_ = {visual->red_mask, visual->green_mask, visual->blue_mask};
  for (int c = 0; c < 3; ++c)
    shift_[c] = masks_[c] ? std::countr_zero(masks_[c]) - (8 - std::popcount(masks_[c])) : 0;
  const std::uint32_t all = depth >= 32 ? 0xFFFFFFFFu : (1u << depth) - 1;
  opaque_ = all & ~(masks_[0] | masks_[1] | masks_[2]);
  request_bytes_ = xcb_get_maximum_request_length(c_) * 4;
  return true;
}

xcb_atom_t X11::atom(const char* name) {
  const Owned<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
      nullptr));
  return reply ? reply->atom : XCB_NONE;
}

bool X11::open() {
  if (!use_visual(screen_->root_visual, screen_->root_depth)) {
    std::fputs("pairstream: the display's default visual is not TrueColor\n", stderr);
    return false;
  }
  // The monitors change with the screen's size (the root's ConfigureNotify, which is also all
  // that RandR 1.5's monitor requests send) or with a CRTC's mode (RandR's screen change).
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c_, &xcb_randr_id);
  if (randr && randr->present) {
    const Owned<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(c_, xcb_randr_query_version(c_, 1, 5), nullptr));
    if (version && version->major_version * 100 + version->minor_version >= 105) {
      randr_event_ = randr->first_event;
      xcb_randr_select_input(c_, root_, XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE);
    }
  }
  const xcb_query_extension_reply_t* xinerama = xcb_get_extension_data(c_, &xcb_xinerama_id);
  xinerama_ = xinerama && xinerama->present;
  const xcb_query_extension_reply_t* dpms = xcb_get_extension_data(c_, &xcb_dpms_id);
  dpms_ = dpms && dpms->present;
  const std::uint32_t root_events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &root_events);

  const xcb_pixmap_t empty = xcb_generate_id(c_);
  const xcb_gcontext_t clear = xcb_generate_id(c_);
  const std::uint32_t zero = 0;
  const xcb_rectangle_t all{0, 0, 1, 1};
  xcb_create_pixmap(c_, 1, empty, root_, 1, 1);
  xcb_create_gc(c_, clear, empty, XCB_GC_FOREGROUND, &zero);
  xcb_poly_fill_rectangle(c_, empty, clear, 1, &all);
  invisible_ = xcb_generate_id(c_);
  xcb_create_cursor(c_, invisible_, empty, empty, 0, 0, 0, 0, 0, 0, 0, 0);
  xcb_free_gc(c_, clear);
  xcb_free_pixmap(c_, empty);

  // The show's window is a black one that also draws, wears the pointer the show asks for and
  // hears its exposure, size and focus; place() puts it over the primary monitor.
  protocols_ = atom("WM_PROTOCOLS");
  delete_window_ = atom("WM_DELETE_WINDOW");
  window_ = black_window({0, 0, 1, 1});
  const std::uint32_t show_values[] = {
      kInput | XCB_EVENT_MASK_ENTER_WINDOW | XCB_EVENT_MASK_VISIBILITY_CHANGE |
          XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_FOCUS_CHANGE,
      XCB_NONE};
  xcb_change_window_attributes(c_, window_, XCB_CW_EVENT_MASK | XCB_CW_CURSOR, show_values);
  xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                      10, "pairstream");
  xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      22, "pairstream\0pairstream");
  gc_ = xcb_generate_id(c_);
  xcb_create_gc(c_, gc_, window_, 0, nullptr);
  place();
  resized(primary_.width, primary_.height);
  set_interval(stage_.Timer1.interval());
  return true;
}

// A black window over `area` that shows no pointer and ends the show on the show's input. The
// server paints its background: it costs the saver nothing. Override-redirect, as X's lockers
// and saver daemons make theirs: no window manager stacks, decorates or lists it, so no panel
// stays over it and no taskbar shows it; no one but the saver places it.
xcb_window_t X11::black_window(const Area& area) {
  const xcb_window_t made = xcb_generate_id(c_);
  const std::uint32_t values[] = {
      screen_->black_pixel, 1,
      kInput | XCB_EVENT_MASK_ENTER_WINDOW | XCB_EVENT_MASK_VISIBILITY_CHANGE, invisible_};
  xcb_create_window(c_, XCB_COPY_FROM_PARENT, made, root_, static_cast<std::int16_t>(area.x),
                    static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                    static_cast<std::uint16_t>(area.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT,
                    XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK | XCB_CW_CURSOR,
                    values);
  xcb_change_property(c_, XCB_PROP_MODE_REPLACE, made, protocols_, XCB_ATOM_ATOM, 32, 1,
                      &delete_window_);
  if (mapped_) raise(made), xcb_map_window(c_, made);
  return made;
}

void X11::raise(xcb_window_t window) {
  const std::uint32_t above = XCB_STACK_MODE_ABOVE;
  xcb_configure_window(c_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
}

// The show's window over the primary monitor, a black one over each other: at start and each
// time the monitors change. The show follows its window's new size as any resize.
void X11::place() {
  const std::vector<Area> found = monitors();
  primary_ = found.front();
  const std::uint32_t values[] = {
      static_cast<std::uint32_t>(primary_.x), static_cast<std::uint32_t>(primary_.y),
      static_cast<std::uint32_t>(primary_.width), static_cast<std::uint32_t>(primary_.height)};
  xcb_configure_window(c_, window_,
                       XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                           XCB_CONFIG_WINDOW_HEIGHT,
                       values);
  for (const xcb_window_t black : blacks_) xcb_destroy_window(c_, black);
  blacks_.clear();
  for (std::size_t i = 1; i < found.size(); ++i) blacks_.push_back(black_window(found[i]));
  ticks_.set_frame(refresh());
}

// The host keeps its window, its grabs and the input: the saver only listens for the window's
// size, exposure and end, which any number of clients may do.
bool X11::host(xcb_window_t target) {
  if (target == 0) {
    std::fputs("pairstream: no window id could be read from the arguments\n", stderr);
    return false;
  }
  const Owned<xcb_get_window_attributes_reply_t> attributes(
      xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, target), nullptr));
  const Owned<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(c_, xcb_get_geometry(c_, target), nullptr));
  if (!attributes || !geometry) {
    std::fprintf(stderr, "pairstream: 0x%x is not a window\n", target);
    return false;
  }
  for (auto s = xcb_setup_roots_iterator(xcb_get_setup(c_)); s.rem > 0; xcb_screen_next(&s))
    if (s.data->root == geometry->root) screen_ = s.data;
  root_ = geometry->root;
  if (!use_visual(attributes->visual, geometry->depth)) {
    std::fprintf(stderr, "pairstream: the visual of the window 0x%x is not TrueColor\n", target);
    return false;
  }
  hosted_ = true;
  window_ = target;
  const std::uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_EXPOSURE;
  // A window destroyed since the look above ends the saver here.
  if (Owned<xcb_generic_error_t> refused{xcb_request_check(
          c_, xcb_change_window_attributes_checked(c_, window_, XCB_CW_EVENT_MASK, &events))})
    host_gone();
  gc_ = xcb_generate_id(c_);
  xcb_create_gc(c_, gc_, window_, 0, nullptr);
  resized(geometry->width, geometry->height);
  set_interval(stage_.Timer1.interval());
  return true;
}

[[noreturn]] void X11::host_gone() {
  std::fputs("pairstream: the host's window went away\n", stderr);
  _exit(1);
}

void X11::show() {
  if (!hosted_) {
    mapped_ = true;
    raise(window_), xcb_map_window(c_, window_);
    for (const xcb_window_t black : blacks_) raise(black), xcb_map_window(c_, black);
  } else {
    // As in a window of its own, what Load drew is sent once it returns, and sending it during
    // the scatter would stall the scatter on the server.
    const Owned<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window_), nullptr));
    viewable_ = attributes && attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    exposed_ = true;
  }
  xcb_flush(c_);
}

int X11::show_cursor(std::int32_t show) {
  cursor_ += show != 0 ? 1 : -1;
  if (!hosted_) apply_cursor();
  return cursor_;
}

void X11::apply_cursor() {
  const xcb_cursor_t wear = cursor_ < 0 ? invisible_ : XCB_NONE;
  xcb_change_window_attributes(c_, window_, XCB_CW_CURSOR, &wear);
  if (pointer_) xcb_change_active_pointer_grab(c_, wear, XCB_CURRENT_TIME, kPointerInput);
  xcb_flush(c_);
}

// Input that ends the show must not reach another program, and motion anywhere counts. What
// another client holds is taken once it lets go (its release sends the show's window focus or
// an enter) or at the next retry; until then the show's window has the focus, so that a key
// never reaches a window under it.
void X11::grab() {
  grab_at_ = Clock::now() + kGrabRetry;
  const auto keyboard = xcb_grab_keyboard(c_, 0, window_, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                          XCB_GRAB_MODE_ASYNC);
  const auto pointer = xcb_grab_pointer(c_, 0, window_, kPointerInput, XCB_GRAB_MODE_ASYNC,
                                        XCB_GRAB_MODE_ASYNC, XCB_NONE,
                                        cursor_ < 0 ? invisible_ : XCB_NONE, XCB_CURRENT_TIME);
  const Owned<xcb_grab_keyboard_reply_t> had_keyboard(
      xcb_grab_keyboard_reply(c_, keyboard, nullptr));
  const Owned<xcb_grab_pointer_reply_t> had_pointer(xcb_grab_pointer_reply(c_, pointer, nullptr));
  keyboard_ = had_keyboard && had_keyboard->status == XCB_GRAB_STATUS_SUCCESS;
  pointer_ = had_pointer && had_pointer->status == XCB_GRAB_STATUS_SUCCESS;
  if (!keyboard_)
    xcb_set_input_focus(c_, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
}

int X11::service() {
  // Every look is a system call or two: make one about once per millisecond. The picture waits
  // for the tick's end, so that the screen only ever shows the show between ticks.
  const auto now = Clock::now();
  if (pace_.due(now)) {
    pump(true, true);
    if (ticks_.due(now)) stage_.tick_due();
    stage_.run_pending_tick();
  }
  return Pace::kCalls;
}

// Takes the end signals when `signals`, then every event XCB holds, and with `read` every event
// waiting on the connection.
void X11::pump(bool read, bool signals) {
  if (signals && end_signalled(signals_)) stage_.show().QueryUnload();
  if (held_) {
    const Owned<xcb_generic_event_t> event(held_);
    held_ = nullptr;
    translate(*event);
  }
  while (const Owned<xcb_generic_event_t> event{read ? xcb_poll_for_event(c_)
                                                     : xcb_poll_for_queued_event(c_)})
    translate(*event);
  if (xcb_connection_has_error(c_)) _exit(1);  // the server went away: end at once
}

void X11::translate(const xcb_generic_event_t& event) {
  Events& form = stage_.show();
  switch (event.response_type & 0x7F) {
    case 0: {  // a refused request is not fatal, unless it names the host's window, then gone
      const auto& error = reinterpret_cast<const xcb_generic_error_t&>(event);
      if (hosted_ && error.resource_id == window_ &&
          (error.error_code == XCB_WINDOW || error.error_code == XCB_DRAWABLE))
        host_gone();
      break;
    }
    case XCB_KEY_PRESS:
      form.KeyDown();
      break;
    case XCB_BUTTON_PRESS: {
      const auto button = reinterpret_cast<const xcb_button_press_event_t&>(event).detail;
      if (button >= 1 && button <= 3) pressed_ = button;
      break;
    }
    case XCB_BUTTON_RELEASE: {
      const auto button = reinterpret_cast<const xcb_button_release_event_t&>(event).detail;
      if (pressed_ != 0 && button == pressed_) form.Click();
      pressed_ = 0;
      break;
    }
    case XCB_MOTION_NOTIFY: {  // from any of the saver's windows, in the show window's coordinates
      const auto& motion = reinterpret_cast<const xcb_motion_notify_event_t&>(event);
      form.MouseMove(static_cast<float>(motion.root_x - primary_.x),
                     static_cast<float>(motion.root_y - primary_.y));
      break;
    }
    case XCB_CLIENT_MESSAGE:
      if (reinterpret_cast<const xcb_client_message_event_t&>(event).data.data32[0] ==
          delete_window_)
        form.QueryUnload();
      break;
    case XCB_FOCUS_IN:  // another client let the keyboard go
      if (reinterpret_cast<const xcb_focus_in_event_t&>(event).mode == XCB_NOTIFY_MODE_UNGRAB &&
          grab_wanted())
        grab();
      break;
    case XCB_ENTER_NOTIFY:  // another client let the pointer go
      if (reinterpret_cast<const xcb_enter_notify_event_t&>(event).mode == XCB_NOTIFY_MODE_UNGRAB &&
          grab_wanted())
        grab();
      break;
    case XCB_EXPOSE:
      exposed_ = true;
      break;
    case XCB_MAP_NOTIFY:
      viewable_ = true;
      exposed_ = true;
      if (grab_wanted()) grab();
      break;
    case XCB_UNMAP_NOTIFY:
      viewable_ = false;
      break;
    case XCB_DESTROY_NOTIFY:
      if (hosted_ && reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window == window_)
        host_gone();
      break;
    case XCB_VISIBILITY_NOTIFY:  // something came over one of the saver's windows
      covered_ = covered_ || reinterpret_cast<const xcb_visibility_notify_event_t&>(event).state !=
                                 XCB_VISIBILITY_UNOBSCURED;
      break;
    case XCB_CONFIGURE_NOTIFY: {
      const auto& configure = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
      if (!hosted_ && configure.window == root_) place();
      if (configure.window == window_ && (configure.width != stage_.surface().width() ||
                                          configure.height != stage_.surface().height()))
        resized(configure.width, configure.height);
      break;
    }
    default:
      if (randr_event_ >= 0 && event.response_type == randr_event_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY)
        place();
      break;
  }
}

[[noreturn]] void X11::loop() {
  // A wake costs what its system calls cost: the loop reads only what ppoll found waiting and
  // writes only what it has, so that a wake takes a ppoll and the write of the points changed
  // since the last.
  pollfd fds[2] = {{xcb_get_file_descriptor(c_), POLLIN, 0}, {signals_, POLLIN, 0}};
  for (;;) {
    pump(fds[0].revents != 0, fds[1].revents != 0);
    look_at_power(Clock::now());
    if (!dark_) run_due_ticks(ticks_, stage_);
    const auto now = Clock::now();
    if (grab_wanted() && now >= grab_at_) grab();
    keep_on_top(now);
    // A quarter of a frame of slack: a tick late by a millisecond or two must not halve the rate.
    if (exposed_ || (stage_.surface().dirty() &&
                     (now - flushed_at_ >= ticks_.frame() * 3 / 4 || !ticks_.armed()))) {
      flushed_at_ = now;
      flush();
    }
    // A write that must wait for the server reads what the server sends meanwhile into XCB's
    // queue, where ppoll cannot see it: it is handled before the loop sleeps.
    if (xcb_flush(c_) <= 0) _exit(1);
    fds[0].revents = fds[1].revents = 0;
    if ((held_ = xcb_poll_for_queued_event(c_))) continue;

    // Sleep until input, a signal or the first tick due once a flush may go again: the saver
    // wakes about once a frame, and the ticks that fell due meanwhile run one after another.
    // In the dark, until the next look at the monitors' power.
    const auto woke = Clock::now();
    auto wait = dark_ ? std::max(power_at_ - woke, Clock::duration::zero())
                      : ticks_.left(woke, flushed_at_ + ticks_.frame() * 3 / 4);
    if (grab_wanted()) wait = std::min(wait, std::max(grab_at_ - woke, Clock::duration::zero()));
    if (covered_) wait = std::min(wait, std::max(raise_at_ - woke, Clock::duration::zero()));
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    const timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    ppoll(fds, 2, ticks_.armed() || grab_wanted() || covered_ ? &timeout : nullptr, nullptr);
    if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) _exit(1);
    pace_.looked(Clock::now());
  }
}

// Whether DPMS has the monitors on, every 1.25 s and, while they are on, at no extra wake: the
// show stops while they are off, and goes on from where it stopped one period after they are back.
void X11::look_at_power(Clock::time_point now) {
  if (!dpms_ || hosted_ || now < power_at_) return;
  power_at_ = now + kPowerLook;
  const Owned<xcb_dpms_info_reply_t> info(xcb_dpms_info_reply(c_, xcb_dpms_info(c_), nullptr));
  const bool dark = info && info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON;
  if (dark_ && !dark) ticks_.arm(stage_.Timer1.interval(), false, now);
  dark_ = dark;
}

// Raises the saver's windows again once something covers them, at most five times a second: with
// a program that keeps on top the same way (another user's saver, a locker) it then takes turns
// on the screen rather than on the CPU.
void X11::keep_on_top(Clock::time_point now) {
  if (!covered_ || now < raise_at_) return;
  covered_ = false;
  raise_at_ = now + std::chrono::milliseconds(200);
  raise(window_);
  for (const xcb_window_t black : blacks_) raise(black);
}

void X11::resized(int width, int height) {
  stage_.resize(width, height);
  const Surface& surface = stage_.surface();
  prefer_large_pages(surface);
  // The picture goes out in bands, converted to the server's format, each within the longest
  // request the server takes.
  const std::size_t bits = static_cast<std::size_t>(surface.width()) * bytes_per_pixel_ * 8;
  line_bytes_ = (bits + pad_bits_ - 1) / pad_bits_ * pad_bits_ / 8;
  const std::size_t room = request_bytes_ > 64 ? request_bytes_ - 64 : 0;
  band_rows_ = std::max(1, std::min(surface.band_rows(),
                                    line_bytes_ ? static_cast<int>(room / line_bytes_) : 1));
  strip_.resize(line_bytes_ * static_cast<std::size_t>(band_rows_));
}

std::uint32_t X11::pixel(Rgb rgb) const {
  const auto place = [](std::uint32_t channel, int shift, std::uint32_t mask) {
    return (shift >= 0 ? channel << shift : channel >> -shift) & mask;
  };
  return opaque_ | place(rgb >> 16 & 0xFF, shift_[0], masks_[0]) |
         place(rgb >> 8 & 0xFF, shift_[1], masks_[1]) | place(rgb & 0xFF, shift_[2], masks_[2]);
}

void X11::flush() {
  Surface& surface = stage_.surface();
  if (surface.dirty()) {
    surface.settle_changes();
    // Until the window is shown its Expose brings the whole picture; nothing need be sent.
    static_assert(sizeof(xcb_point_t) == sizeof(Flush::Point) &&
                  alignof(xcb_point_t) == alignof(Flush::Point));
    if (!viewable_ || !flush_.send(surface, [&](Rgb colour, std::span<const Flush::Point> points) {
          const std::uint32_t foreground = pixel(colour);
          xcb_change_gc(c_, gc_, XCB_GC_FOREGROUND, &foreground);
          xcb_poly_point(c_, XCB_COORD_MODE_ORIGIN, window_, gc_,
                         static_cast<std::uint32_t>(points.size()),
                         reinterpret_cast<const xcb_point_t*>(points.data()));
        }))
      exposed_ = true;
    surface.flushed();
  }
  if (exposed_ && viewable_) send_whole();
}

void X11::send_whole() {
  exposed_ = false;
  Surface& surface = stage_.surface();
  surface.settle();
  if (surface.width() == 0) return;
  std::array<std::uint32_t, Surface::kInks> native;
  for (std::size_t ink = 0; ink < native.size(); ++ink) native[ink] = pixel(surface.colours()[ink]);
  const bool words = bytes_per_pixel_ == 4 && lsb_first_ == (std::endian::native == std::endian::little);
  for (int top = 0; top < surface.height(); top += band_rows_) {
    const int rows = std::min(band_rows_, surface.height() - top);
    for (int y = 0; y < rows; ++y) {
      std::uint8_t* line = strip_.data() + static_cast<std::size_t>(y) * line_bytes_;
      const auto inks = surface.row(top + y);
      if (words) {
        for (std::size_t x = 0; x < inks.size(); ++x)
          std::memcpy(line + 4 * x, &native[inks[x]], 4);
        continue;
      }
      for (const Surface::Ink ink : inks)
        for (int b = 0; b < bytes_per_pixel_; ++b)
          *line++ = static_cast<std::uint8_t>(
              native[ink] >> 8 * (lsb_first_ ? b : bytes_per_pixel_ - 1 - b));
    }
    xcb_put_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_,
                  static_cast<std::uint16_t>(surface.width()), static_cast<std::uint16_t>(rows), 0,
                  static_cast<std::int16_t>(top), 0, depth_,
                  static_cast<std::uint32_t>(line_bytes_ * static_cast<std::size_t>(rows)),
                  strip_.data());
  }
}

}  // namespace

int run_x11(const Mode& mode, const MakeShow& make_show) {
  const int signals = end_signals();

  int number = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &number);
  if (xcb_connection_has_error(connection)) {
    std::fprintf(stderr, "pairstream: cannot open the display '%s'\n",
                 std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
    return 1;
  }
  fcntl(xcb_get_file_descriptor(connection), F_SETFD, FD_CLOEXEC);
  auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < number && screens.rem > 1; ++i) xcb_screen_next(&screens);

  // A second instance must not change anything, not even make a window. In a host's window the
  // saver is one of the host's, which may run several: it takes no lock.
  const bool hosted = mode.kind == Mode::Kind::Embedded;
  const bool previous = !hosted && lock_held_by_another();
  auto x11 = std::make_unique<X11>(connection, screens.data, previous, signals);
  Events& show = make_show(x11->stage());
  x11->stage().attach(show);
  if (hosted) {
    // X's window ids are 32 bits on the wire; a larger number would name another window.
    const xcb_window_t target = mode.root                    ? screens.data->root
                                : mode.window <= 0xFFFFFFFFu ? static_cast<xcb_window_t>(mode.window)
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
