// pairstream.scr as the Screen Saver Settings start it, under Wine: the preview in the dialog's
// window (beside the full show, ending with that window) and the note for Settings. The dialog
// is pairstream-preview-host.exe beside the .scr. Wine shows nothing drawn into a window of
// another process, so the preview is seen through its window, ticks, pointer and end.
#include "tests/desktop/harness.h"
// After the harness, whose gtest must come before Xlib's macros.
#include <X11/keysym.h>

namespace ps::desktop {
namespace {

std::string scr() { return std::filesystem::absolute(std::getenv("PAIRSTREAM_SCR")); }

// The stand-in dialog, its saver started with `arg`; the file `close` appearing destroys its
// window. Its log holds what it printed and Wine's traces of the saver.
struct Dialog {
  static inline int opened = 0;
  const std::string close = scratch + "/close-dialog-" + std::to_string(++opened);
  std::unique_ptr<Child> host;
  Dialog(Desktop& d, const std::string& arg)
      : host(d.run({std::filesystem::path(scr()).replace_filename("pairstream-preview-host.exe"),
                    "Z:" + scr(), arg, "Z:" + close},
                   "dialog-" + std::to_string(opened), "-all,trace+sync,trace+cursor")) {}
  std::string log() const { return read_text(host->log()); }
  bool says(const std::string& what, milliseconds limit) {
    return poll_until([&] { return log().find(what) != std::string::npos; }, limit);
  }
  std::size_t ticks() const { return count(log(), "NtSetTimer"); }  // one a tick
};

using Preview = On<const char*>;

TEST_P(Preview, PlaysInTheDialogsWindowBesideTheShowAndEndsWithIt) {
  Dialog dialog(*d, row());
  ASSERT_TRUE(dialog.says("child pairstream at 0,0 152x112", d->start_limit));
  const std::size_t first = dialog.ticks();
  EXPECT_TRUE(poll_until([&] { return dialog.ticks() > first + 100; }, 3s)) << "no ticks";
  EXPECT_FALSE(dialog.says("ShowCursor", 0ms)) << "the pointer is the dialog's";
  auto show = shown();  // no lock held: the full show comes up beside it
  d->tap(*show, XK_a);
  EXPECT_EQ(ends(*show), 0);
  EXPECT_FALSE(dialog.says("ended", 0ms)) << "the preview ended with the show";
  std::ofstream(dialog.close).put('\n');
  ASSERT_TRUE(dialog.says("ended with status 0, ", d->end_limit));
  const std::string said = dialog.log();
  EXPECT_LT(std::stoi(said.substr(said.find("ended with status 0, ") + 21)), 1000) << "ms";
}

ON(Wine, Wine, Preview, ::testing::Values("/p", "/P", "-p", "/p:"),
   "Form" + std::to_string(info.index));

using Settings = On<int>;

TEST_P(Settings, SayThereIsNothingToSetInABoxTheDialogOwns) {
  Dialog dialog(*d, "/c:");
  EXPECT_TRUE(dialog.says("owns \"pairstream\": pairstream has nothing to set", d->start_limit));
  EXPECT_TRUE(dialog.says("ended with status 0, -1 ms", d->end_limit));  // once the box closed
}

ON(Wine, Wine, Settings, ::testing::Values(0), "Scr");

using NoWindow = On<const char*>;

TEST_P(NoWindow, MeansNoPreviewAndAnEndAtOnceWithStatus0) {
  auto saver = d->run({scr(), "/p", row()}, std::string("no-window-") + row(), "-all,trace+win");
  EXPECT_EQ(saver->wait(d->end_limit), 0);
  EXPECT_EQ(read_text(saver->log()).find("WIN_CreateWindowEx L\"pairstream\""), std::string::npos);
}

ON(Wine, Wine, NoWindow, ::testing::Values("1234", "0"),
   std::string("Handle") + std::get<1>(info.param));

}  // namespace
}  // namespace ps::desktop
