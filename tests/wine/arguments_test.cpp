// How Windows starts a screen saver, as pairstream.scr reads it: the preview and the settings
// end at once, everything else runs the show.
#include "platform/win32/arguments.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace ps {
namespace {

bool asks_preview_or_settings(std::vector<std::string> args) {
  std::vector<const char*> argv{"pairstream.scr"};
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return preview_or_configure(static_cast<int>(argv.size()) - 1, argv.data());
}

struct Case {
  std::vector<std::string> args;
  bool ends;
};

void PrintTo(const Case& c, std::ostream* out) {
  for (const auto& arg : c.args) *out << '"' << arg << "\" ";
}

class StartArguments : public ::testing::TestWithParam<Case> {};

TEST_P(StartArguments, EndTheSaverOnlyForPreviewOrSettings) {
  EXPECT_EQ(asks_preview_or_settings(GetParam().args), GetParam().ends);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, StartArguments,
    ::testing::Values(
        // The preview in the Screen Saver Settings dialog, with its window handle.
        Case{{"/p", "1234"}, true}, Case{{"/P", "1234"}, true}, Case{{"-p", "1234"}, true},
        Case{{"-P"}, true}, Case{{"/p:1234"}, true},
        // The settings, alone or with the dialog's handle.
        Case{{"/c"}, true}, Case{{"/C"}, true}, Case{{"-c"}, true}, Case{{"/c:1234"}, true},
        Case{{"/C:65552"}, true}, Case{{"/c", "1234"}, true},
        // The show: asked for, not asked for, or anything else.
        Case{{}, false}, Case{{"/s"}, false}, Case{{"/S"}, false}, Case{{"-s"}, false},
        Case{{"/a", "1234"}, false}, Case{{"/x"}, false}, Case{{"p"}, false}, Case{{"c"}, false},
        Case{{"/"}, false}, Case{{"-"}, false}, Case{{""}, false}, Case{{"/pc"}, false},
        Case{{"/cp"}, false}, Case{{"/preview"}, false}, Case{{"/s", "/p", "1234"}, false},
        Case{{"/0"}, false}, Case{{"/#"}, false}),
    [](const auto& info) {
      std::string name = "Case" + std::to_string(info.index);
      for (const auto& arg : info.param.args) {
        name += '_';
        for (char c : arg) name += std::isalnum(static_cast<unsigned char>(c)) ? c : 'x';
      }
      return name;
    });

TEST(StartArguments, AMissingArgumentListRunsTheShow) {
  const char* none[] = {nullptr};
  EXPECT_FALSE(preview_or_configure(0, none));
  const char* gap[] = {"pairstream.scr", nullptr};
  EXPECT_FALSE(preview_or_configure(2, gap));
}

}  // namespace
}  // namespace ps
