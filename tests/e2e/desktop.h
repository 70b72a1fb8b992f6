// The fixture of the end-to-end tests: each test gets its own X server and runtime directory,
// starts the saver, and waits until the screen shows it before doing what a user would do.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "xsession.h"

namespace ps::e2e {

// How long the saver may take to show itself, and to end after the input that ends it.
inline constexpr milliseconds kStartLimit{1000};
inline constexpr milliseconds kEndLimit{1000};
// How long a saver that should keep running is watched before the test believes it.
inline constexpr milliseconds kStaysUp{400};

class Desktop : public ::testing::Test {
 protected:
  explicit Desktop(int width = 1280, int height = 720) : x(width, height) {}

  // Starts the saver and waits until its full-screen window is up and particles are lit.
  std::unique_ptr<Saver> start_show(const std::vector<std::string>& args = {}) {
    auto saver = std::make_unique<Saver>(x, runtime.path(), args);
    const bool shown = wait_until(
        [&] { return !saver->running() || shows_saver(x); },
        kStartLimit);
    EXPECT_TRUE(shown) << "no full-screen window with lit pixels within a second";
    EXPECT_TRUE(saver->running()) << describe(saver->wait_exit(milliseconds(0)));
    return saver;
  }

  // Expects the saver to end by itself, promptly and with status 0, and its window to go.
  void expect_ends_cleanly(Saver& saver) {
    const auto status = saver.wait_exit(kEndLimit);
    EXPECT_TRUE(exited_cleanly(status)) << describe(status);
    EXPECT_TRUE(wait_until([&] { return full_screen_window(x) == 0; }, kEndLimit))
        << "the window stayed after the end";
  }

  XServer x;
  TempDir runtime;
};

}  // namespace ps::e2e
