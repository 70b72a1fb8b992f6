// The show as it opens and plays, drawn by pairstream-render as a user runs it: after start-up
// and after some ticks, at several sizes, the picture must stay the one it was made with (the
// golden images), written with no file left beside it.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
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

struct Golden {
  const char* size;
  int ticks;
  const char* file;  // under the source tree
};

class Pictures : public ::testing::TestWithParam<Golden> {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "pairstream-render-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_P(Pictures, StayThePictureTheShowWasMadeWith) {
  const Golden g = GetParam();
  const auto command = std::string("'" PAIRSTREAM_RENDER "' --size ") + g.size + " --ticks " +
                       std::to_string(g.ticks) + " --out '" + (dir_ / "pic.png").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "no temporary file is left";
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

}  // namespace
}  // namespace ps::test
