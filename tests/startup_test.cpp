// The show as it opens and plays, drawn by pairstream-render as a user runs it: after start-up
// and after some ticks, at several sizes, the picture must stay the one it was made with (the
// golden images). A bad command line fails with one line and status 2 and leaves no file.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ps::test {
namespace {

namespace fs = std::filesystem;

// A PNG's pixels as 8-bit RGB triples; empty when it cannot be read.
std::vector<png_byte> pixels(const fs::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) ? rgb : decltype(rgb){};
}

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "pairstream-render-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The exit status; what it wrote to stderr lands in err_, outside the folder.
  int render(const std::string& args) {
    const fs::path err = dir_.string() + ".stderr";
    const int raw = std::system(("cd '" + dir_.string() + "' && '" PAIRSTREAM_RENDER "' " + args +
                                 " >/dev/null 2>'" + err.string() + "'")
                                    .c_str());
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

struct Golden {
  const char* size;
  int ticks;
  const char* file;  // under the source tree
};

class Pictures : public Render, public ::testing::WithParamInterface<Golden> {};

TEST_P(Pictures, StayThePictureTheShowWasMadeWith) {
  const Golden g = GetParam();
  ASSERT_EQ(render(std::string("--size ") + g.size + " --ticks " + std::to_string(g.ticks) +
                   " --out pic.png"),
            0)
      << err_;
  EXPECT_EQ(files(), 1u) << "no temporary file is left";
  const auto golden = pixels(fs::path(PAIRSTREAM_SOURCE_DIR) / g.file);
  ASSERT_FALSE(golden.empty()) << g.file;
  EXPECT_TRUE(pixels(dir_ / "pic.png") == golden);
}

// The scatter alone; 50 ticks; past the sawtooth's first wrap on a small screen, where most
// particles have restarted many times; the README's picture.
INSTANTIATE_TEST_SUITE_P(Show, Pictures,
                         ::testing::Values(Golden{"640x480", 0, "tests/golden/640x480-0.png"},
                                           Golden{"1000x800", 50, "tests/golden/1000x800-50.png"},
                                           Golden{"320x200", 2600, "tests/golden/320x200-2600.png"},
                                           Golden{"1280x720", 300, "docs/show.png"}),
                         [](const auto& info) {
                           return std::string(info.param.size) + "_after_" +
                                  std::to_string(info.param.ticks) + "_ticks";
                         });

TEST_F(Render, WritesANumberedFrameAtTheStartAndEveryMTicks) {
  ASSERT_EQ(render("--size 64x48 --ticks 10 --every 4 --frames seq"), 0) << err_;
  for (const char* name : {"frame-000000.png", "frame-000004.png", "frame-000008.png"})
    EXPECT_EQ(pixels(dir_ / "seq" / name).size(), 64u * 48 * 3) << name;
  EXPECT_EQ(files(), 4u) << "the folder and its three frames";
}

class BadArguments : public Render, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadArguments, FailWithOneLineAndStatus2AndLeaveNoFile) {
  EXPECT_EQ(render(GetParam()), 2);
  EXPECT_EQ(err_.rfind("pairstream-render: ", 0), 0u) << err_;
  EXPECT_EQ(err_.find('\n'), err_.size() - 1) << "one line: " << err_;
  EXPECT_EQ(files(), 0u);
}

// One parser refuses every option: a missing one, a bad value, and a picture it cannot write.
INSTANTIATE_TEST_SUITE_P(Render, BadArguments,
                         ::testing::Values("--size 64x48 --ticks 3",
                                           "--ticks 1 --size 0x48 --out a.png",
                                           "--ticks 1 --size 64x48 --out no/such/folder/a.png"));

}  // namespace
}  // namespace ps::test
