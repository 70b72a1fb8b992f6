// pairstream-render as a user runs it: bad command lines fail with one line and status 2 and
// leave no file; good ones write PNG pictures of exactly the size asked for.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/common/runtime.h"

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

struct Picture {
  png_uint_32 width = 0, height = 0;
  std::vector<png_byte> rgb;
};

Picture read_png(const fs::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture picture;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return picture;
  EXPECT_EQ(image.format & PNG_FORMAT_FLAG_ALPHA, 0u) << "an RGB picture has no alpha";
  image.format = PNG_FORMAT_RGB;
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) return {};
  picture.width = image.width;
  picture.height = image.height;
  return picture;
}

class BadArguments : public Render, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadArguments, FailWithOneLineAndStatus2AndLeaveNoFile) {
  const Outcome run = render(GetParam());
  EXPECT_EQ(run.status, 2);
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(run.err.rfind("pairstream-render: ", 0), 0u) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
  EXPECT_TRUE(files().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Render, BadArguments,
    ::testing::Values("", "--ticks 3 --out a.png", "--size 64x48 --ticks 3",
                      "--ticks 1 --size 64x48 --out a.png --colour red",
                      "--ticks 1 --size 0x48 --out a.png", "--ticks 1 --size 64x0 --out a.png",
                      "--ticks 1 --size -64x48 --out a.png", "--ticks 1 --size 16385x2 --out a.png",
                      "--ticks 1 --size 64 --out a.png", "--ticks 1 --size axb --out a.png",
                      "--ticks 1 --size 64x48x2 --out a.png", "--size 64x48 --ticks -1 --out a.png",
                      "--size 64x48 --ticks x --out a.png", "--ticks 1 --size 64x48 --out",
                      "--ticks 1 --size 64x48 --out no/such/folder/a.png",
                      "--ticks 1 --size 64x48 --frames f",
                      "--ticks 1 --size 64x48 --every 0 --frames f",
                      "--ticks 1 --size 99999999999999999999x2 --out a.png"));

TEST_F(Render, WritesAnRgbPictureOfExactlyTheSizeAsked) {
  const Outcome run = render("--size 320x200 --ticks 40 --out pic.png");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.err.empty());
  EXPECT_EQ(files(), std::vector{dir_ / "pic.png"}) << "no temporary file is left";
  const Picture picture = read_png(dir_ / "pic.png");
  ASSERT_EQ(picture.width, 320u);
  ASSERT_EQ(picture.height, 200u);
  int lit = 0;
  for (std::size_t i = 0; i < picture.rgb.size(); i += 3) {
    const Rgb p = Rgb{picture.rgb[i]} << 16 | Rgb{picture.rgb[i + 1]} << 8 | picture.rgb[i + 2];
    ASSERT_NE(std::find(kPalette.begin(), kPalette.end(), p), kPalette.end()) << std::hex << p;
    lit += p != 0;
  }
  EXPECT_GT(lit, 100);
}

TEST_F(Render, SameCommandGivesTheSamePicture) {
  ASSERT_EQ(render("--size 200x150 --ticks 25 --out a.png").status, 0);
  ASSERT_EQ(render("--size 200x150 --ticks 25 --out b.png").status, 0);
  ASSERT_EQ(render("--size 200x150 --ticks 26 --out c.png").status, 0);
  EXPECT_EQ(read_png(dir_ / "a.png").rgb, read_png(dir_ / "b.png").rgb);
  EXPECT_NE(read_png(dir_ / "a.png").rgb, read_png(dir_ / "c.png").rgb);
}

TEST_F(Render, WritesANumberedFrameAtTheStartAndEveryMTicks) {
  const Outcome run = render("--size 64x48 --ticks 10 --every 4 --frames seq");
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"frame-000000.png", "frame-000004.png", "frame-000008.png"}) {
    const Picture frame = read_png(dir_ / "seq" / name);
    EXPECT_EQ(frame.width, 64u) << name;
    EXPECT_EQ(frame.height, 48u) << name;
  }
  EXPECT_EQ(files().size(), 4u);  // the folder and its three frames
}

TEST_F(Render, HelpDescribesTheOptionsAndSucceeds) {
  const Outcome run = render("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.err.empty());
}

}  // namespace
}  // namespace ps::test
