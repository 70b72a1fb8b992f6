// pairstream-render as a user runs it: a bad command line fails with one line and status 2 and
// leaves no file; a good one writes the show's picture, or numbered frames of it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "picture.h"

namespace ps::test {
namespace {

namespace fs = std::filesystem;

class Render : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "pairstream-render-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The exit status; what it wrote to stderr lands in err_.
  int render(const std::string& args) {
    const std::string command = "cd '" + dir_.string() + "' && '" PAIRSTREAM_RENDER "' " + args +
                                " >/dev/null 2>../stderr-" + dir_.filename().string();
    const int raw = std::system(command.c_str());
    const fs::path err = dir_.parent_path() / ("stderr-" + dir_.filename().string());
    std::stringstream text;
    text << std::ifstream(err).rdbuf();
    err_ = text.str();
    fs::remove(err);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::size_t files() const {
    return static_cast<std::size_t>(std::distance(fs::recursive_directory_iterator(dir_), {}));
  }

  fs::path dir_;
  std::string err_;
};

using BadArguments = Render;

TEST_P(BadArguments, FailWithOneLineAndStatus2AndLeaveNoFile) {
  EXPECT_EQ(render(GetParam()), 2);
  EXPECT_EQ(err_.rfind("pairstream-render: ", 0), 0u) << err_;
  EXPECT_EQ(err_.find('\n'), err_.size() - 1) << "one line: " << err_;
  EXPECT_EQ(files(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Render, BadArguments,
                         ::testing::Values("", "--size 64x48 --ticks 3",
                                           "--ticks 1 --size 64x48 --out a.png --colour red",
                                           "--ticks 1 --size 0x48 --out a.png",
                                           "--ticks 1 --size 16385x2 --out a.png",
                                           "--size 64x48 --ticks -1 --out a.png",
                                           "--ticks 1 --size 64x48 --out no/such/folder/a.png",
                                           "--ticks 1 --size 64x48 --every 0 --frames f"));

TEST_F(Render, WritesThePictureOfTheShowAfterTheTicksAsked) {
  ASSERT_EQ(render("--size 1000x800 --ticks 50 --out pic.png"), 0) << err_;
  EXPECT_EQ(files(), 1u) << "no temporary file is left";
  const Picture golden = read_png(PAIRSTREAM_SOURCE_DIR "/tests/golden/1000x800-50.png");
  ASSERT_EQ(golden.pixels.size(), 1000u * 800u);
  EXPECT_TRUE(read_png(dir_ / "pic.png").pixels == golden.pixels);
}

TEST_F(Render, WritesANumberedFrameAtTheStartAndEveryMTicks) {
  ASSERT_EQ(render("--size 64x48 --ticks 10 --every 4 --frames seq"), 0) << err_;
  for (const char* name : {"frame-000000.png", "frame-000004.png", "frame-000008.png"})
    EXPECT_EQ(read_png(dir_ / "seq" / name).width, 64) << name;
  EXPECT_EQ(files(), 4u) << "the folder and its three frames";
}

}  // namespace
}  // namespace ps::test
