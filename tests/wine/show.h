// The session the Wine tests share, and their fixture: one private Xvfb at 1280x1024, one Wine
// prefix and wineserver for the whole run, the .scr from PAIRSTREAM_SCR, and the saver's
// launches, each ended by pid after its test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/desktop/xserver.h"
#include "tests/wine/wine.h"

namespace ps::e2e {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
// Wine's traces of the pointer's display counter and of the saver's window.
constexpr char kDebug[] = "-all,trace+cursor,trace+win";
constexpr char kHide[] = "NtUserShowCursor 0,";
constexpr char kShow[] = "NtUserShowCursor -1,";
constexpr char kCreate[] = "WIN_CreateWindowEx L\"pairstream\"";

// The X server, the prefix and the .scr, shared by every test of the run.
struct Session {
  std::string scr;
  std::string skip;  // why nothing can run here, if so
  XServer x;
  Wine wine;
};
inline Session* session = nullptr;

class SessionEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    session = new Session;
    const char* scr = std::getenv("PAIRSTREAM_SCR");
    if (!scr || !std::filesystem::exists(scr)) {
      session->skip = "no pairstream.scr (PAIRSTREAM_SCR): build the windows preset first";
      return;
    }
    session->scr = std::filesystem::absolute(scr).string();
    if (!session->x.start(kWidth, kHeight, "/dev/null"))
      session->skip = "no Xvfb: " + session->x.why();
    else if (!session->wine.start(session->x))
      session->skip = "no Wine: " + session->wine.why();
  }
  void TearDown() override {
    delete session;
    session = nullptr;
  }
};

inline bool is_palette_colour(std::uint32_t rgb) {
  static constexpr std::array<std::uint32_t, 16> kPalette = {
      0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0,
      0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
  return std::find(kPalette.begin(), kPalette.end(), rgb) != kPalette.end();
}

class Saver : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!session->skip.empty()) GTEST_SKIP() << session->skip;
    x().move_pointer(kWidth / 2, kHeight / 2);
  }
  void TearDown() override {
    if (!session->skip.empty()) return;
    for (const auto& launch : launches_) stop(launch.pid);
    // The next test starts on an empty screen.
    poll_until([&] { return x().toplevels("pairstream").empty(); }, milliseconds(5000));
  }

  static XServer& x() { return session->x; }

  Launch launch(const std::vector<std::string>& args, const char* debug = kDebug) {
    launches_.push_back(session->wine.launch(session->scr, args, debug));
    return launches_.back();
  }

  // The saver's window, once it shows with particles on it; 0 when it never does.
  unsigned long shown(const Launch& launch) {
    unsigned long window = 0;
    poll_until(
        [&] {
          const auto found = x().toplevels("pairstream");
          if (found.size() == 1 && found[0].viewable) window = found[0].id;
          return window != 0 || !running(launch.pid);
        },
        milliseconds(15000), milliseconds(20));
    if (window == 0) return 0;
    const bool particles = poll_until([&] { return x().screenshot().lit() > 200; },
                                      milliseconds(5000), milliseconds(50));
    return particles ? window : 0;
  }

  // Starts the show and waits until it runs; fails the test when it does not.
  Launch running_show(const std::vector<std::string>& args = {"/s"}, const char* debug = kDebug) {
    Launch show = launch(args, debug);
    EXPECT_NE(shown(show), 0u) << show.text();
    return show;
  }

  static std::optional<int> ended(const Launch& launch) {
    return wait_exit(launch.pid, milliseconds(5000));
  }

  static void expect_pointer_restored_once(const Launch& launch) {
    const std::string trace = launch.text();
    EXPECT_EQ(count(trace, kHide), 1u) << "the pointer is hidden once";
    EXPECT_EQ(count(trace, kShow), 1u) << "and shown again once";
  }

  std::vector<Launch> launches_;
};

}  // namespace ps::e2e
