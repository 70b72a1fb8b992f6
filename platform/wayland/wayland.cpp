// The Linux desktop on a Wayland compositor (libwayland-client): a surface on every output, the
// show on the first output announced and black on the others, the seats' keyboards and pointers
// and the end signals translated into the show's events, and the picture sent in wl_shm buffers
// at the pace of the compositor's frames; when the frames stop (the output is off, or nobody sees
// the show) it sleeps until the next. On the layer shell's overlay where the compositor has it,
// else as fullscreen xdg-shell toplevels. Every surface is drawn in device pixels: at the
// fractional scale the compositor prefers, else at the output's mode, through a viewport; else
// at the whole-number scale of the output.
#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string_view>
#include <vector>

#include "fractional-scale-v1-client-protocol.h"
#include "platform/linux/linux.h"
#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace ps {
namespace {

class Wayland;

struct Output {
  Wayland* owner;
  std::uint32_t name;  // the compositor's name of the global
  wl_output* output;
  zxdg_output_v1* place = nullptr;  // where it lies, where the compositor says so
  int x = 0, y = 0, scale = 1;  // its place in the compositor's space, and device pixels a unit
  int mode_width = 0, mode_height = 0;
  bool turned = false;  // a quarter turn: the mode's width is the output's height
  wl_surface* surface = nullptr;
  zwlr_layer_surface_v1* layer = nullptr;
  xdg_surface* xdg = nullptr;
  xdg_toplevel* toplevel = nullptr;
  wp_viewport* viewport = nullptr;
  wp_fractional_scale_v1* fraction = nullptr;
  int preferred = 0;  // the scale the compositor prefers for the surface, in 120ths; 0 unsaid
  int width = 0, height = 0;  // in the compositor's units, as last configured
  int asked_width = 0, asked_height = 0;  // a toplevel's configure, applied with its serial
  bool configured = false;
};

struct Seat {
  Wayland* owner;
  std::uint32_t name;
  wl_seat* seat;
  wl_pointer* pointer = nullptr;
  wl_keyboard* keyboard = nullptr;
  Output* over = nullptr;  // the output whose surface has the pointer
  std::uint32_t pressed = 0;
};

// A surface's size in device pixels, and how the compositor learns it: through the viewport, or
// the whole-number buffer scale.
struct Fit {
  int width = 0, height = 0;
  int buffer_scale = 1;
  bool viewport = false;
};

struct Buffer {
  wl_buffer* buffer = nullptr;
  std::uint32_t* pixels = nullptr;
  std::size_t bytes = 0;
  bool busy = false;        // held by the compositor until it releases it
  bool whole = true;        // holds nothing of the picture yet
  std::uint64_t synced = 0;  // the points logged up to which it holds the picture
};

class Wayland final : public Backend {
 public:
  Wayland(wl_display* display, bool previous, int signals)
      : display_(display), signals_(signals), previous_(previous) {
    log_.resize(kLog);
  }

  Stage& stage() { return stage_; }
  bool open();
  void show();
  [[noreturn]] void loop();

  // Backend.
  void window_state(int) override {}  // every surface covers its output
  void set_interval(int ms) override { ticks_.arm(ms, stage_.in_tick()); }
  bool another_instance() override { return previous_; }
  int show_cursor(std::int32_t show) override;
  int service() override;
  [[noreturn]] void end() override { _exit(0); }

  // What the listeners hand on.
  void global(wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version);
  void global_gone(std::uint32_t name);
  void output_done(Output& output);
  void configured(Output& output, std::uint32_t serial, int width, int height);
  void closed(Output& output);
  void capabilities(Seat& seat, std::uint32_t caps);
  void entered(Seat& seat, std::uint32_t serial, wl_surface* surface);
  void moved(Seat& seat, wl_fixed_t x, wl_fixed_t y);
  void button(Seat& seat, std::uint32_t button, std::uint32_t state);
  void key(std::uint32_t state) {
    if (state == WL_KEYBOARD_KEY_STATE_PRESSED) stage_.show().KeyDown();
  }
  void close_asked() { stage_.show().QueryUnload(); }
  void frame_done();

 private:
  static constexpr std::size_t kLog = 1u << 16;  // points a buffer may lag behind
  static constexpr int kBand = 32;               // rows whose damage is one box
  static constexpr std::uint32_t kOpaque = 0xFF000000;
  static constexpr int kDarkFrames = 6;  // frames a commit waits for its own before the dark

  void make_surface(Output& output);
  void drop_surface(Output& output);
  Fit fit(const Output& output) const;
  void paint_black(Output& output);
  void place_show();
  Buffer make_buffer(int width, int height);
  void drop_buffer(Buffer& buffer);
  void look(int timeout_ms);
  void dispatch();
  void flush();
  void present();
  [[noreturn]] void gone();

  Stage stage_{*this};
  Pace pace_;
  Countdown ticks_;
  wl_display* display_;
  wl_registry* registry_ = nullptr;
  wl_compositor* compositor_ = nullptr;
  wl_shm* shm_ = nullptr;
  zwlr_layer_shell_v1* layer_shell_ = nullptr;
  xdg_wm_base* wm_base_ = nullptr;
  zxdg_output_manager_v1* places_ = nullptr;
  wp_viewporter* viewporter_ = nullptr;
  wp_fractional_scale_manager_v1* fractions_ = nullptr;
  std::vector<std::unique_ptr<Output>> outputs_;
  std::vector<std::unique_ptr<Seat>> seats_;
  Output* show_ = nullptr;  // the output that plays the show
  double across_ = 1, down_ = 1;  // the show's device pixels a unit of the compositor's
  std::array<int, 2> lattice_{1, 1};  // device pixels across and down to a whole number of units
  std::array<Buffer, 2> buffers_;
  wl_callback* frame_ = nullptr;  // the compositor has not yet shown the last commit
  Pace::Clock::time_point committed_at_{};
  bool dark_ = false;  // the last commit's frame is long overdue: no ticks until it comes
  // The points touched since the log started, in the order flushed; counters run on past kLog.
  std::vector<Surface::Point> log_;
  std::uint64_t logged_ = 0, committed_ = 0;
  bool damage_whole_ = true;
  std::vector<std::array<int, 2>> bands_;  // per band of rows, the span damaged
  std::array<std::uint32_t, Surface::kInks> native_{};
  int signals_;
  int cursor_ = 0;
  bool previous_;
  bool started_ = false;  // the surfaces are made: a new output gets one at once
  bool shown_ = false;    // Load has returned: the picture goes out
};

// The listeners: each hands its event to the backend, which the proxies' user data name.
template <class T>
T& of(void* data) {
  return *static_cast<T*>(data);
}

const wl_registry_listener kRegistry = {
    [](void* d, wl_registry* r, std::uint32_t name, const char* interface, std::uint32_t version) {
      of<Wayland>(d).global(r, name, interface, version);
    },
    [](void* d, wl_registry*, std::uint32_t name) { of<Wayland>(d).global_gone(name); }};

const wl_output_listener kOutput = {
    [](void* d, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t,
       std::int32_t, const char*, const char*, std::int32_t transform) {
      of<Output>(d).turned = transform % 2 != 0;
      if (of<Output>(d).place) return;  // xdg-output's place is the one to trust
      of<Output>(d).x = x;
      of<Output>(d).y = y;
    },
    [](void* d, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
       std::int32_t) {
      if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
      of<Output>(d).mode_width = width;
      of<Output>(d).mode_height = height;
    },
    [](void* d, wl_output*) { of<Output>(d).owner->output_done(of<Output>(d)); },
    [](void* d, wl_output*, std::int32_t scale) { of<Output>(d).scale = std::max(scale, 1); },
    nullptr, nullptr};  // name and description: never sent to the version bound

// wlroots gives every output's place as 0,0 in wl_output; xdg-output has the true one.
const zxdg_output_v1_listener kPlace = {
    [](void* d, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
      of<Output>(d).x = x;
      of<Output>(d).y = y;
    },
    [](void*, zxdg_output_v1*, std::int32_t, std::int32_t) {}, [](void*, zxdg_output_v1*) {},
    nullptr, nullptr};  // name and description: never sent to the version bound

const zwlr_layer_surface_v1_listener kLayer = {
    [](void* d, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t w, std::uint32_t h) {
      of<Output>(d).owner->configured(of<Output>(d), serial, static_cast<int>(w),
                                      static_cast<int>(h));
    },
    [](void* d, zwlr_layer_surface_v1*) { of<Output>(d).owner->closed(of<Output>(d)); }};

const xdg_wm_base_listener kWmBase = {
    [](void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); }};
const xdg_surface_listener kXdgSurface = {[](void* d, xdg_surface*, std::uint32_t serial) {
  Output& o = of<Output>(d);
  o.owner->configured(o, serial, o.asked_width, o.asked_height);
}};
const xdg_toplevel_listener kToplevel = {
    [](void* d, xdg_toplevel*, std::int32_t w, std::int32_t h, wl_array*) {
      of<Output>(d).asked_width = w;
      of<Output>(d).asked_height = h;
    },
    [](void* d, xdg_toplevel*) { of<Output>(d).owner->close_asked(); }, nullptr, nullptr};

const wp_fractional_scale_v1_listener kFraction = {
    [](void* d, wp_fractional_scale_v1*, std::uint32_t scale) {
      Output& o = of<Output>(d);
      o.preferred = static_cast<int>(scale);
      if (o.configured) o.owner->configured(o, 0, o.width, o.height);
    }};

const wl_callback_listener kFrame = {
    [](void* d, wl_callback*, std::uint32_t) { of<Wayland>(d).frame_done(); }};
const wl_buffer_listener kBuffer = {[](void* d, wl_buffer*) { of<Buffer>(d).busy = false; }};

const wl_seat_listener kSeat = {
    [](void* d, wl_seat*, std::uint32_t caps) { of<Seat>(d).owner->capabilities(of<Seat>(d), caps); },
    [](void*, wl_seat*, const char*) {}};

const wl_pointer_listener kPointer = {
    [](void* d, wl_pointer*, std::uint32_t serial, wl_surface* surface, wl_fixed_t, wl_fixed_t) {
      of<Seat>(d).owner->entered(of<Seat>(d), serial, surface);
    },
    [](void* d, wl_pointer*, std::uint32_t, wl_surface*) { of<Seat>(d).over = nullptr; },
    [](void* d, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
      of<Seat>(d).owner->moved(of<Seat>(d), x, y);
    },
    [](void* d, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button,
       std::uint32_t state) { of<Seat>(d).owner->button(of<Seat>(d), button, state); },
    [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
    [](void*, wl_pointer*) {},
    [](void*, wl_pointer*, std::uint32_t) {},
    [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
    [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
    nullptr};  // axis_value120: never sent to the version bound

const wl_keyboard_listener kKeyboard = {
    // Any key ends the show, whatever it means: the keymap is closed unread.
    [](void*, wl_keyboard*, std::uint32_t, std::int32_t fd, std::uint32_t) { ::close(fd); },
    [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
    [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
    [](void* d, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t state) {
      of<Seat>(d).owner->key(state);
    },
    [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
       std::uint32_t) {},
    [](void*, wl_keyboard*, std::int32_t, std::int32_t) {}};

void Wayland::global(wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version) {
  const auto bind = [&](const wl_interface* type, std::uint32_t highest) {
    return wl_registry_bind(registry, name, type, std::min(version, highest));
  };
  const std::string_view is = interface;
  if (is == wl_compositor_interface.name && version >= 4) {
    compositor_ = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
  } else if (is == wl_shm_interface.name) {
    shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
  } else if (is == zwlr_layer_shell_v1_interface.name) {
    layer_shell_ = static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, 1));
  } else if (is == xdg_wm_base_interface.name) {
    wm_base_ = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 1));
    xdg_wm_base_add_listener(wm_base_, &kWmBase, this);
  } else if (is == wp_viewporter_interface.name) {
    viewporter_ = static_cast<wp_viewporter*>(bind(&wp_viewporter_interface, 1));
  } else if (is == wp_fractional_scale_manager_v1_interface.name) {
    fractions_ = static_cast<wp_fractional_scale_manager_v1*>(
        bind(&wp_fractional_scale_manager_v1_interface, 1));
  } else if (is == zxdg_output_manager_v1_interface.name) {
    places_ = static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 1));
  } else if (is == wl_output_interface.name) {
    auto output = std::make_unique<Output>(
        Output{this, name, static_cast<wl_output*>(bind(&wl_output_interface, 3))});
    wl_output_add_listener(output->output, &kOutput, output.get());
    outputs_.push_back(std::move(output));
  } else if (is == wl_seat_interface.name) {
    auto seat = std::make_unique<Seat>(
        Seat{this, name, static_cast<wl_seat*>(bind(&wl_seat_interface, 5))});
    wl_seat_add_listener(seat->seat, &kSeat, seat.get());
    seats_.push_back(std::move(seat));
  }
}

void Wayland::global_gone(std::uint32_t name) {
  for (auto seat = seats_.begin(); seat != seats_.end(); ++seat) {
    if ((*seat)->name != name) continue;
    capabilities(**seat, 0);
    wl_seat_destroy((*seat)->seat);
    seats_.erase(seat);
    return;
  }
  for (auto output = outputs_.begin(); output != outputs_.end(); ++output) {
    if ((*output)->name != name) continue;
    drop_surface(**output);
    if ((*output)->place) zxdg_output_v1_destroy((*output)->place);
    wl_output_destroy((*output)->output);
    outputs_.erase(output);
    place_show();  // on another output, if it played here
    return;
  }
}

// An output's surface is made once its description is complete; a new one's, as it comes.
void Wayland::output_done(Output& output) {
  if (!started_) return;
  if (!output.surface) {
    make_surface(output);
  } else if (output.configured) {
    configured(output, 0, output.width, output.height);  // its scale or mode changed
  }
}

void Wayland::make_surface(Output& output) {
  if (places_ && !output.place) {
    output.place = zxdg_output_manager_v1_get_xdg_output(places_, output.output);
    zxdg_output_v1_add_listener(output.place, &kPlace, &output);
  }
  output.surface = wl_compositor_create_surface(compositor_);
  wl_surface_set_user_data(output.surface, &output);
  if (viewporter_) output.viewport = wp_viewporter_get_viewport(viewporter_, output.surface);
  if (fractions_) {
    output.fraction = wp_fractional_scale_manager_v1_get_fractional_scale(fractions_, output.surface);
    wp_fractional_scale_v1_add_listener(output.fraction, &kFraction, &output);
  }
  if (layer_shell_) {
    output.layer = zwlr_layer_shell_v1_get_layer_surface(
        layer_shell_, output.surface, output.output, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
        "pairstream");
    zwlr_layer_surface_v1_add_listener(output.layer, &kLayer, &output);
    zwlr_layer_surface_v1_set_anchor(output.layer, 15);  // all four edges
    zwlr_layer_surface_v1_set_exclusive_zone(output.layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(output.layer, 1);  // exclusive
  } else {
    output.xdg = xdg_wm_base_get_xdg_surface(wm_base_, output.surface);
    xdg_surface_add_listener(output.xdg, &kXdgSurface, &output);
    output.toplevel = xdg_surface_get_toplevel(output.xdg);
    xdg_toplevel_add_listener(output.toplevel, &kToplevel, &output);
    xdg_toplevel_set_title(output.toplevel, "pairstream");
    xdg_toplevel_set_app_id(output.toplevel, "pairstream");
    xdg_toplevel_set_fullscreen(output.toplevel, output.output);  // before the first commit
  }
  wl_surface_commit(output.surface);
  place_show();
}

void Wayland::drop_surface(Output& output) {
  for (auto& seat : seats_)
    if (seat->over == &output) seat->over = nullptr;
  if (output.layer) zwlr_layer_surface_v1_destroy(output.layer);
  if (output.toplevel) xdg_toplevel_destroy(output.toplevel);
  if (output.xdg) xdg_surface_destroy(output.xdg);
  if (output.viewport) wp_viewport_destroy(output.viewport);
  if (output.fraction) wp_fractional_scale_v1_destroy(output.fraction);
  if (output.surface) wl_surface_destroy(output.surface);
  output.surface = nullptr, output.layer = nullptr, output.xdg = nullptr;
  output.toplevel = nullptr, output.viewport = nullptr, output.fraction = nullptr;
  output.preferred = 0;
  output.configured = false;
  if (show_ == &output) {  // the frame may never come now, nor the buffers' release
    show_ = nullptr;
    if (frame_) wl_callback_destroy(frame_), frame_ = nullptr, dark_ = false;
    for (Buffer& buffer : buffers_) drop_buffer(buffer);
  }
}

void Wayland::closed(Output& output) {
  drop_surface(output);
  place_show();
}

void Wayland::configured(Output& output, std::uint32_t serial, int width, int height) {
  if (serial != 0) {
    if (output.layer) zwlr_layer_surface_v1_ack_configure(output.layer, serial);
    if (output.xdg) xdg_surface_ack_configure(output.xdg, serial);
  }
  if (width <= 0 || height <= 0) {  // the compositor leaves the size to us: the output's
    width = output.mode_width / output.scale;
    height = output.mode_height / output.scale;
  }
  output.width = width;
  output.height = height;
  output.configured = true;
  if (&output == show_)
    place_show();
  else
    paint_black(output);
}

// The size the compositor shows a surface at on the glass. With a viewport: the scale it prefers
// (the size rounded half away from zero), else the output's mode where the whole-number scale
// would miss it (a fractional scale the compositor does not name); else that scale.
Fit Wayland::fit(const Output& o) const {
  if (o.viewport && o.preferred > 0)
    return {(o.width * o.preferred + 60) / 120, (o.height * o.preferred + 60) / 120, 1, true};
  const int across = o.turned ? o.mode_height : o.mode_width;
  const int down = o.turned ? o.mode_width : o.mode_height;
  // Only a mode of the surface's shape: a surface that does not fill its output keeps the scale.
  const bool filled = std::abs(across * o.height - down * o.width) < o.width + o.height;
  if (o.viewport && across > 0 && filled && (across != o.width * o.scale || down != o.height * o.scale))
    return {across, down, 1, true};
  return {o.width * o.scale, o.height * o.scale, o.scale, false};
}

void apply(const Output& o, const Fit& fit) {
  wl_surface_set_buffer_scale(o.surface, fit.buffer_scale);
  if (o.viewport)
    wp_viewport_set_destination(o.viewport, fit.viewport ? o.width : -1, fit.viewport ? o.height : -1);
}

// Black costs nothing per tick: a black buffer of the output's size, committed once and let go.
// Not one pixel stretched over the output: a compositor that scales with a filter can leave the
// last column uncovered (sway does, now and then, on an output made while the saver runs).
void Wayland::paint_black(Output& output) {
  if (!output.configured || output.width <= 0) return;
  const Fit size = fit(output);
  Buffer black = make_buffer(size.width, size.height);
  std::fill_n(black.pixels, black.bytes / 4, kOpaque);
  apply(output, size);
  wl_surface_attach(output.surface, black.buffer, 0, 0);
  wl_surface_damage_buffer(output.surface, 0, 0, size.width, size.height);
  wl_surface_commit(output.surface);
  // Once committed, the compositor keeps what it shows; a buffer destroyed while still pending
  // would leave the surface without one (KWin then shows nothing there).
  wl_buffer_destroy(black.buffer);
  munmap(black.pixels, black.bytes);
}

// The show plays on the first output that has a surface, at its size in device pixels.
void Wayland::place_show() {
  if (!show_) {
    for (auto& output : outputs_)
      if (output->surface) {
        show_ = output.get();
        break;
      }
    if (!show_) return;
  }
  Output& o = *show_;
  if (!o.configured) return;
  const Fit size = fit(o);
  const int width = size.width, height = size.height;
  apply(o, size);
  across_ = double(width) / o.width, down_ = double(height) / o.height;
  // The compositor takes damage to its own units and back, and a box whose edge falls inside a
  // unit may lose or misplace that edge's row (KWin's does at 1.25): boxes are widened to edges
  // on whole units, where pixels and units meet.
  if (width > 0 && height > 0)
    lattice_ = {width / std::gcd(width, o.width), height / std::gcd(height, o.height)};
  if (width != stage_.surface().width() || height != stage_.surface().height() ||
      !buffers_[0].buffer) {
    stage_.resize(width, height);
    prefer_large_pages(stage_.surface());
    for (Buffer& buffer : buffers_) {
      drop_buffer(buffer);
      buffer = make_buffer(width, height);
      wl_buffer_add_listener(buffer.buffer, &kBuffer, &buffer);
    }
    bands_.assign(static_cast<std::size_t>((height + kBand - 1) / kBand), {INT_MAX, -1});
  }
  for (Buffer& buffer : buffers_) buffer.whole = true;
  damage_whole_ = true;
  present();
}

Buffer Wayland::make_buffer(int width, int height) {
  Buffer made;
  made.bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  if (made.bytes == 0) return made;
  const int fd = memfd_create("pairstream", MFD_CLOEXEC);
  void* pixels = MAP_FAILED;
  if (fd >= 0 && ftruncate(fd, static_cast<off_t>(made.bytes)) == 0)
    pixels = mmap(nullptr, made.bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (pixels == MAP_FAILED) {
    std::fputs("pairstream: no memory for the picture\n", stderr);
    _exit(1);
  }
  made.pixels = static_cast<std::uint32_t*>(pixels);  // a new memfd reads as zeros: black
  wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, static_cast<std::int32_t>(made.bytes));
  made.buffer = wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  ::close(fd);
  return made;
}

void Wayland::drop_buffer(Buffer& buffer) {
  if (buffer.buffer) wl_buffer_destroy(buffer.buffer);
  if (buffer.pixels) munmap(buffer.pixels, buffer.bytes);
  buffer = Buffer{};
}

void Wayland::capabilities(Seat& seat, std::uint32_t caps) {
  const bool pointer = (caps & WL_SEAT_CAPABILITY_POINTER) != 0;
  const bool keyboard = (caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
  if (pointer && !seat.pointer) {
    seat.pointer = wl_seat_get_pointer(seat.seat);
    wl_pointer_add_listener(seat.pointer, &kPointer, &seat);
  } else if (!pointer && seat.pointer) {
    wl_pointer_destroy(seat.pointer);
    seat.pointer = nullptr;
    seat.over = nullptr;
    seat.pressed = 0;
  }
  if (keyboard && !seat.keyboard) {
    seat.keyboard = wl_seat_get_keyboard(seat.seat);
    wl_keyboard_add_listener(seat.keyboard, &kKeyboard, &seat);
  } else if (!keyboard && seat.keyboard) {
    wl_keyboard_destroy(seat.keyboard);
    seat.keyboard = nullptr;
  }
}

int Wayland::show_cursor(std::int32_t show) {
  // Hidden on every enter of every surface, before the show even asks; the compositor shows it
  // again when the surfaces go with the saver.
  cursor_ += show != 0 ? 1 : -1;
  return cursor_;
}

// An enter is no movement report: some compositors place it wrongly as a new surface maps.
void Wayland::entered(Seat& seat, std::uint32_t serial, wl_surface* surface) {
  seat.over = nullptr;
  for (auto& output : outputs_)
    if (output->surface == surface) seat.over = output.get();
  wl_pointer_set_cursor(seat.pointer, serial, nullptr, 0, 0);
}

// A report on any output, in the show's pixels: through the compositor's space.
void Wayland::moved(Seat& seat, wl_fixed_t x, wl_fixed_t y) {
  if (!seat.over || !show_) return;
  const double across = seat.over->x + wl_fixed_to_double(x) - show_->x;
  const double down = seat.over->y + wl_fixed_to_double(y) - show_->y;
  stage_.show().MouseMove(static_cast<float>(across * across_), static_cast<float>(down * down_));
}

void Wayland::button(Seat& seat, std::uint32_t button, std::uint32_t state) {
  if (state == WL_POINTER_BUTTON_STATE_PRESSED) {
    if (button == BTN_LEFT || button == BTN_RIGHT || button == BTN_MIDDLE) seat.pressed = button;
    return;
  }
  const bool click = seat.pressed != 0 && button == seat.pressed;
  seat.pressed = 0;
  if (click) stage_.show().Click();
}

bool Wayland::open() {
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &kRegistry, this);
  wl_display_roundtrip(display_);  // the globals
  if (!compositor_ || !shm_ || (!layer_shell_ && !wm_base_)) {
    std::fputs("pairstream: the compositor offers no full-screen surface\n", stderr);
    return false;
  }
  wl_display_roundtrip(display_);  // the outputs' descriptions and the seats' capabilities
  started_ = true;
  for (std::size_t i = 0; i < outputs_.size(); ++i) make_surface(*outputs_[i]);
  // The show's size before Load: the compositor configures each surface after its first commit,
  // and may name the scale it prefers only once the surface shows a buffer (KWin does).
  for (int tries = 0; tries < 8 && show_ && !show_->configured; ++tries)
    if (wl_display_roundtrip(display_) < 0) gone();
  if (show_ && show_->fraction && show_->configured) {  // its frame, or a few: it may be off
    const int said = show_->preferred;
    frame_ = wl_surface_frame(show_->surface);
    wl_callback_add_listener(frame_, &kFrame, this);
    committed_at_ = Pace::Clock::now();
    paint_black(*show_);
    while (frame_ && show_ && show_->preferred == said &&
           Pace::Clock::now() < committed_at_ + ticks_.frame() * kDarkFrames)
      look(1);
    if (wl_display_roundtrip(display_) < 0) gone();  // what the compositor said with the frame
  }
  ticks_.arm(stage_.Timer1.interval(), false);
  return true;
}

void Wayland::show() {
  shown_ = true;
  damage_whole_ = true;
  flush();
}

int Wayland::service() {
  // Every look is a system call or two: make one about once per millisecond. The picture waits
  // for the tick's end: a frame never shows the field amid a tick.
  const auto now = Pace::Clock::now();
  if (pace_.due(now)) {
    look(0);
    if (ticks_.due(now)) stage_.tick_due();
    stage_.run_pending_tick();
  }
  return Pace::kCalls;
}

[[noreturn]] void Wayland::gone() {
  std::fputs("pairstream: the compositor went away\n", stderr);
  _exit(1);
}

// Reads what the compositor sent, waiting up to `timeout_ms` (-1: as long as it takes) for it or
// an end signal, and hands it all to the listeners.
void Wayland::look(int timeout_ms) {
  while (wl_display_prepare_read(display_) != 0) dispatch();
  pollfd fds[2] = {{wl_display_get_fd(display_), POLLIN, 0}, {signals_, POLLIN, 0}};
  if (wl_display_flush(display_) < 0) {
    if (errno != EAGAIN) gone();
    fds[0].events |= POLLOUT;  // the socket is full: wait until it takes more
  }
  const timespec wait{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
  ppoll(fds, 2, timeout_ms < 0 ? nullptr : &wait, nullptr);
  if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
    if (wl_display_read_events(display_) < 0) gone();
  } else {
    wl_display_cancel_read(display_);
  }
  if (fds[1].revents != 0 && end_signalled(signals_)) stage_.show().QueryUnload();
  dispatch();
}

void Wayland::dispatch() {
  if (wl_display_dispatch_pending(display_) < 0) gone();
}

[[noreturn]] void Wayland::loop() {
  for (;;) {
    if (!dark_) run_due_ticks(ticks_, stage_);
    flush();
    // Sleep until a frame, input, a signal or the next tick. While a commit waits for its frame,
    // the ticks wait for it too, up to a frame late: the saver wakes once a frame and runs the
    // ticks that fell due meanwhile one after another. A compositor sends no frames to an
    // output that is off, nor to a surface nobody sees: once they are several frames overdue,
    // the saver sleeps until the next comes.
    const auto now = Pace::Clock::now();
    auto wait = ticks_.left(now);
    if (frame_) {
      const auto overdue = committed_at_ + ticks_.frame() * kDarkFrames;
      dark_ = now >= overdue;
      wait = std::min(wait + ticks_.frame(), overdue - now);
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(wait);
    look(ticks_.armed() && !dark_ ? static_cast<int>(left.count()) : -1);
    pace_.looked(Pace::Clock::now());
  }
}

// The frame after a dark goes on from where the show stopped, its next tick one period away.
void Wayland::frame_done() {
  wl_callback_destroy(frame_);
  frame_ = nullptr;
  if (dark_) ticks_.arm(stage_.Timer1.interval(), false);
  dark_ = false;
}

// Logs what the show changed, and commits when the compositor has shown the last commit.
void Wayland::flush() {
  Surface& surface = stage_.surface();
  if (surface.dirty()) {
    surface.settle_changes();
    if (surface.whole()) {
      damage_whole_ = true;
      for (Buffer& buffer : buffers_) buffer.whole = true;
    } else {
      for (const Surface::Touch& touch : surface.touched()) log_[logged_++ % kLog] = touch.at;
    }
    surface.flushed();
  }
  present();
}

// Brings a buffer the compositor does not hold up to date with the points logged since it was
// last committed, and commits it with the boxes touched since the last commit as damage.
void Wayland::present() {
  // Never amid a tick: a frame shows the field between ticks, as the compositor shows it whole.
  if (!shown_ || frame_ || !show_ || !show_->configured || stage_.in_tick()) return;
  if (!damage_whole_ && committed_ == logged_) return;
  const auto free = std::find_if(buffers_.begin(), buffers_.end(), [](const Buffer& b) {
    return b.buffer && !b.busy;
  });
  if (free == buffers_.end()) return;  // its release comes with the next frame
  Buffer& buffer = *free;
  const Surface& surface = stage_.surface();
  // The unused byte set: some compositors copy it into the screen as alpha.
  for (std::size_t ink = 0; ink < Surface::kInks; ++ink)
    native_[ink] = kOpaque | surface.colours()[ink];
  const int width = surface.width();
  if (buffer.whole || logged_ - buffer.synced > kLog) {
    for (int y = 0; y < surface.height(); ++y) {
      std::uint32_t* row = buffer.pixels + static_cast<std::size_t>(y) * width;
      for (const Surface::Ink ink : surface.row(y)) *row++ = native_[ink];
    }
  } else {
    for (std::uint64_t n = buffer.synced; n < logged_; ++n) {
      const Surface::Point at = log_[n % kLog];
      buffer.pixels[static_cast<std::size_t>(at.y) * width + at.x] = native_[surface.ink(at)];
    }
  }
  buffer.whole = false;
  buffer.synced = logged_;

  wl_surface_attach(show_->surface, buffer.buffer, 0, 0);
  if (damage_whole_ || logged_ - committed_ > kLog) {
    wl_surface_damage_buffer(show_->surface, 0, 0, surface.width(), surface.height());
  } else {
    for (std::uint64_t n = committed_; n < logged_; ++n) {
      const Surface::Point at = log_[n % kLog];
      auto& span = bands_[static_cast<std::size_t>(at.y / kBand)];
      span = {std::min(span[0], int{at.x}), std::max(span[1], int{at.x})};
    }
    for (std::size_t band = 0; band < bands_.size(); ++band) {
      auto& span = bands_[band];
      if (span[1] < 0) continue;
      const auto [across, down] = lattice_;
      const int left = span[0] / across * across, top = static_cast<int>(band) * kBand / down * down;
      const int right = std::min((span[1] + across) / across * across, width);
      const int bottom = std::min(((static_cast<int>(band) + 1) * kBand + down - 1) / down * down,
                                  surface.height());
      wl_surface_damage_buffer(show_->surface, left, top, right - left, bottom - top);
      span = {INT_MAX, -1};
    }
  }
  frame_ = wl_surface_frame(show_->surface);
  committed_at_ = Pace::Clock::now();
  wl_callback_add_listener(frame_, &kFrame, this);
  wl_surface_commit(show_->surface);
  buffer.busy = true;
  committed_ = logged_;
  damage_whole_ = false;
}

}  // namespace

std::optional<int> run_wayland(const MakeShow& make_show) {
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return std::nullopt;
  if (wl_display_roundtrip(display) < 0) {
    wl_display_disconnect(display);
    return std::nullopt;
  }
  const int signals = end_signals();
  // A second instance must not change anything, not even make a surface.
  const bool previous = lock_held_by_another();
  auto wayland = std::make_unique<Wayland>(display, previous, signals);
  Events& show = make_show(wayland->stage());
  wayland->stage().attach(show);
  if (!previous && !wayland->open()) return 1;
  show.Load();
  wayland->show();
  wayland->loop();
}

}  // namespace ps
