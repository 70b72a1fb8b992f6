// The command line of pairstream-render, checked in full before anything is drawn.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ps {

struct RenderOptions {
  int width = 0;
  int height = 0;
  std::uint64_t ticks = 0;
  std::string out;            // the final picture, if asked for
  std::string frames;         // a folder for a numbered sequence, if asked for
  std::uint64_t every = 0;    // ticks between frames
  bool help = false;
};

inline constexpr int kMaxRenderSide = 16384;

// The options, or an error message of one line in `error`.
std::optional<RenderOptions> parse_render_options(const std::vector<std::string>& args,
                                                  std::string& error);

extern const char* const kRenderUsage;

}  // namespace ps
