// pairstream-render as a user runs it: bad command lines fail with one line and status 2 and
// leave no file; good ones write the show's picture, or numbered frames of it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "picture.h"

namespace ps::test {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status;
  std::string err;
};

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "pairstream-render-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome render(const std::string& args) const {
    const fs::path err = dir_ / "stderr.txt";
    const std::string command = "cd '" + dir_.string() + "' && '" PAIRSTREAM_RENDER "' " + args +
                                " >/dev/null 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    std::ifstream in(err);
    std::stringstream text;
    text << in.rdbuf();
    fs::remove(err);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
  }

  std::vector<fs::path> files() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) found.push_back(entry.path());
    return found;
  }

  fs::path dir_;
};

class BadArguments : public Render, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadArguments, FailWithOneLineAndStatus2AndLeaveNoFile) {
  const Outcome run = render(GetParam());
  EXPECT_EQ(run.status, 2);
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(run.err.rfind("pairstream-render: ", 0), 0u) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
  EXPECT_TRUE(files().empty());
}

INSTANTIATE_TEST_SUITE_P(Render, BadArguments,
                         ::testing::Values("", "--ticks 3 --out a.png", "--size 64x48 --ticks 3",
                                           "--ticks 1 --size 64x48 --out a.png --colour red",
                                           "--ticks 1 --size 0x48 --out a.png",
                                           "--ticks 1 --size 16385x2 --out a.png",
                                           "--ticks 1 --size axb --out a.png",
                                           "--size 64x48 --ticks -1 --out a.png",
                                           "--ticks 1 --size 64x48 --out no/such/folder/a.png",
                                           "--ticks 1 --size 64x48 --every 0 --frames f",
                                           "--ticks 1 --size 99999999999999999999x2 --out a.png"));

TEST_F(Render, WritesThePictureOfTheShowAfterTheTicksAsked) {
  const Outcome run = render("--size 1000x800 --ticks 50 --out pic.png");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.err.empty());
  EXPECT_EQ(files(), std::vector{dir_ / "pic.png"}) << "no temporary file is left";
  const Picture golden = read_png(PAIRSTREAM_SOURCE_DIR "/tests/golden/1000x800-50.png");
  const Picture picture = read_png(dir_ / "pic.png");
  ASSERT_EQ(golden.pixels.size(), 1000u * 800u);
  EXPECT_TRUE(picture.pixels == golden.pixels);
}

TEST_F(Render, WritesANumberedFrameAtTheStartAndEveryMTicks) {
  const Outcome run = render("--size 64x48 --ticks 10 --every 4 --frames seq");
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"frame-000000.png", "frame-000004.png", "frame-000008.png"}) {
    const Picture frame = read_png(dir_ / "seq" / name);
    EXPECT_EQ(frame.width, 64) << name;
    EXPECT_EQ(frame.height, 48) << name;
  }
  EXPECT_EQ(files().size(), 4u);  // the folder and its three frames
}

}  // namespace
}  // namespace ps::test
