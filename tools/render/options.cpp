// Parsing of pairstream-render's options: every value is digits only, so "-3", "1e3" and
// "0x10" are refused rather than read as something else.
#include "tools/render/options.h"

#include <charconv>

namespace ps {

const char* const kRenderUsage =
    "usage: pairstream-render --size WxH --ticks N (--out FILE.png | --every M --frames DIR)\n"
    "  Runs the saver's start-up and N ticks on the headless platform and writes the screen\n"
    "  as an 8-bit RGB PNG of W x H pixels (each side 1 to 16384).\n"
    "  --out FILE.png    the picture after the last tick\n"
    "  --every M         with --frames: a picture after start-up and after every M ticks\n"
    "  --frames DIR      folder for the numbered pictures frame-NNNNNN.png (N = ticks run)\n"
    "  --help            this text\n";

namespace {

bool parse_count(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} && end == text.data() + text.size();
}

bool parse_side(const std::string& text, int& side) {
  std::uint64_t value = 0;
  if (!parse_count(text, value) || value < 1 || value > kMaxRenderSide) return false;
  side = static_cast<int>(value);
  return true;
}

}  // namespace

std::optional<RenderOptions> parse_render_options(const std::vector<std::string>& args,
                                                  std::string& error) {
  RenderOptions o;
  bool have_size = false, have_ticks = false, have_every = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") {
      o.help = true;
      return o;
    }
    if (name != "--size" && name != "--ticks" && name != "--out" && name != "--every" &&
        name != "--frames") {
      error = "unknown option '" + name + "'";
      return std::nullopt;
    }
    if (i + 1 >= args.size()) {
      error = name + " needs a value";
      return std::nullopt;
    }
    const std::string& value = args[++i];
    if (name == "--size") {
      const auto x = value.find('x');
      if (x == std::string::npos || !parse_side(value.substr(0, x), o.width) ||
          !parse_side(value.substr(x + 1), o.height)) {
        error = "--size '" + value + "' is not WxH with each side from 1 to 16384";
        return std::nullopt;
      }
      have_size = true;
    } else if (name == "--ticks") {
      if (!parse_count(value, o.ticks)) {
        error = "--ticks '" + value + "' is not a count of zero or more";
        return std::nullopt;
      }
      have_ticks = true;
    } else if (name == "--every") {
      if (!parse_count(value, o.every) || o.every == 0) {
        error = "--every '" + value + "' is not a count of one or more";
        return std::nullopt;
      }
      have_every = true;
    } else if (name == "--out") {
      o.out = value;
    } else {
      o.frames = value;
    }
    if ((name == "--out" || name == "--frames") && value.empty()) {
      error = name + " needs a file name";
      return std::nullopt;
    }
  }
  if (!have_size) error = "missing --size WxH";
  else if (!have_ticks) error = "missing --ticks N";
  else if (o.out.empty() && o.frames.empty()) error = "missing --out FILE.png or --frames DIR";
  else if (have_every != !o.frames.empty()) error = "--every and --frames go together";
  if (!error.empty()) return std::nullopt;
  return o;
}

}  // namespace ps
