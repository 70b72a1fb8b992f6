// pairstream-pointer, a pointer for the Wayland tests and measurements: a virtual pointer on the
// compositor's seat, alive for the whole run (a seat that loses its pointer resets its clients'),
// driven by lines read from the FIFO named first: "to X Y" (pixels of the layout, W x H, given
// next), "by DX DY" (in the compositor's units, fractions allowed), "press B", "release B" (B as
// X numbers buttons). It answers each line on
// stdout with "ok" once the compositor has handled it, and "ready" once the pointer exists.
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

int main(int argc, char** argv) {
  if (argc != 4) return std::fputs("usage: pairstream-pointer FIFO WIDTH HEIGHT\n", stderr), 2;
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return 1;
  zwlr_virtual_pointer_manager_v1* manager = nullptr;
  const wl_registry_listener listener = {
      [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
         std::uint32_t) {
        if (std::string_view(interface) == zwlr_virtual_pointer_manager_v1_interface.name)
          *static_cast<zwlr_virtual_pointer_manager_v1**>(data) =
              static_cast<zwlr_virtual_pointer_manager_v1*>(
                  wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
      },
      [](void*, wl_registry*, std::uint32_t) {}};
  wl_registry_add_listener(wl_display_get_registry(display), &listener, &manager);
  wl_display_roundtrip(display);
  if (!manager) return std::fputs("no virtual pointer here\n", stderr), 1;
  zwlr_virtual_pointer_v1* pointer =
      zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, nullptr);
  wl_display_roundtrip(display);
  std::puts("ready"), std::fflush(stdout);

  const unsigned width = std::strtoul(argv[2], nullptr, 10), height = std::strtoul(argv[3], nullptr, 10);
  const unsigned buttons[] = {0, BTN_LEFT, BTN_MIDDLE, BTN_RIGHT};
  std::FILE* in = std::fopen(argv[1], "r");
  char word[16];
  double a = 0, b = 0;
  for (std::uint32_t time = 1; in && std::fscanf(in, "%15s %lf", word, &a) == 2; ++time) {
    const std::string_view what = word;
    if (what == "to" || what == "by") {
      if (std::fscanf(in, "%lf", &b) != 1) return 2;
      if (what == "to")
        zwlr_virtual_pointer_v1_motion_absolute(pointer, time, static_cast<std::uint32_t>(a),
                                                static_cast<std::uint32_t>(b), width, height);
      else
        zwlr_virtual_pointer_v1_motion(pointer, time, wl_fixed_from_double(a), wl_fixed_from_double(b));
    } else if (a >= 1 && a <= 3) {
      zwlr_virtual_pointer_v1_button(pointer, time, buttons[static_cast<int>(a)], what == "press");
    }
    zwlr_virtual_pointer_v1_frame(pointer);
    if (wl_display_roundtrip(display) < 0) return 1;
    std::puts("ok"), std::fflush(stdout);
  }
  return 0;
}
