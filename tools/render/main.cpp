// pairstream-render: the saver's real start-up and ticks on the headless platform, written out
// as PNG pictures. Exit status 0 when every picture was written, 2 for bad arguments or output.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "shell/form1.h"
#include "tools/render/options.h"
#include "tools/render/png.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "pairstream-render: %s\n", message.c_str());
  return 2;
}

std::string write(const std::string& path, const ps::Surface& surface) {
  return ps::write_png(path, surface.width(), surface.height(), surface.picture());
}

std::string frame_name(const std::string& dir, std::uint64_t tick) {
  char name[32];
  std::snprintf(name, sizeof name, "frame-%06llu.png", static_cast<unsigned long long>(tick));
  return (std::filesystem::path(dir) / name).string();
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options =
      ps::parse_render_options(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) return fail(error + " (see --help)");
  if (options->help) {
    std::fputs(ps::kRenderUsage, stdout);
    return 0;
  }
  if (!options->frames.empty()) {
    std::error_code ec;
    std::filesystem::create_directory(options->frames, ec);
    if (ec || !std::filesystem::is_directory(options->frames))
      return fail(options->frames + ": cannot make the folder");
  }

  auto headless = std::make_unique<ps::Headless>(options->width, options->height);
  auto form = std::make_unique<ps::Form1>(headless->platform());
  headless->start(*form);
  for (std::uint64_t tick = 0;; ++tick) {
    if (!options->frames.empty() && tick % options->every == 0) {
      error = write(frame_name(options->frames, tick), headless->surface());
      if (!error.empty()) return fail(error);
    }
    if (tick == options->ticks) break;
    headless->tick();
  }
  if (!options->out.empty()) {
    error = write(options->out, headless->surface());
    if (!error.empty()) return fail(error);
  }
  return 0;
}
