#include "tools/icon_png.h"

#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
};

// Reads a PNG with libpng, converted to 8-bit RGBA.
testing::AssertionResult ReadPng(const std::string& path, Picture& picture) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
    return testing::AssertionFailure() << path << ": " << image.message;
  }
  image.format = PNG_FORMAT_RGBA;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.rgba.assign(PNG_IMAGE_SIZE(image), 0);
  if (png_image_finish_read(&image, nullptr, picture.rgba.data(), 0, nullptr) == 0) {
    return testing::AssertionFailure() << path << ": " << image.message;
  }
  return testing::AssertionSuccess();
}

// Every block of scale x scale pixels shows its raster pixel: its colour and,
// as alpha, its mask.
void ExpectShowsRaster(const Picture& picture, const IconRaster& raster, int scale) {
  ASSERT_EQ(picture.width, 16 * scale);
  ASSERT_EQ(picture.height, 16 * scale);
  int wrong = 0;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const std::uint8_t* p = &picture.rgba[(static_cast<std::size_t>(y) * picture.width + x) * 4];
      const bool opaque = raster.OpaqueAt(x / scale, y / scale);
      const Rgb color = raster.ColorAt(x / scale, y / scale);
      const bool same = p[3] == (opaque ? 255 : 0) && (!opaque || (Rgb{p[0], p[1], p[2]} == color));
      if (!same && ++wrong <= 5) ADD_FAILURE() << "pixel " << x << "," << y;
    }
  }
  EXPECT_EQ(wrong, 0);
}

std::string TempPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/gleamo_" + std::to_string(::getpid()) + "_" + name;
}

TEST(WriteIconPng, WritesTheEnlargedRasterWithTheMaskAsAlpha) {
  for (const IconCode code : {13, 110, 130712, 171515}) {
    SCOPED_TRACE(code);
    const IconRaster raster = PaintIconRaster("TAV", "OLI", code);
    const std::string path = TempPath("write.png");
    std::string error;
    ASSERT_TRUE(WriteIconPng(path, raster, 3, std::nullopt, error)) << error;
    Picture picture;
    ASSERT_TRUE(ReadPng(path, picture));
    ExpectShowsRaster(picture, raster, 3);
    std::remove(path.c_str());
  }
}

TEST(WriteIconPng, OnABackgroundShowsWhatIconDrawingLeaves) {
  const IconRaster raster = PaintIconRaster("TAV", "", 120300);
  const std::vector<std::uint8_t> rgba = IconRgba(raster, 1, Rgb{10, 20, 30});
  const auto pixel = [&](int x, int y) {
    const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * 16 + x) * 4];
    return std::vector<int>{p[0], p[1], p[2], p[3]};
  };
  EXPECT_EQ(pixel(8, 14), (std::vector<int>{10, 20, 30, 255}));  // transparent: the background
  EXPECT_EQ(pixel(0, 14), (std::vector<int>{0, 255, 0, 255}));   // a read bar
  EXPECT_EQ(pixel(3, 15), (std::vector<int>{0, 255, 0, 255}));   // the base line in green
}

TEST(WriteIconPng, ReportsAFileThatCannotBeWritten) {
  std::string error;
  EXPECT_FALSE(WriteIconPng("/nonexistent-dir/x.png", PaintIconRaster("", "", 13), 1, std::nullopt, error));
  EXPECT_NE(error.find("/nonexistent-dir/x.png"), std::string::npos) << error;
}

TEST(ParseIconPngArguments, ReadsOptionsAndRejectsWhatIsNotARequest) {
  IconPngRequest request;
  std::string error;
  const char* full[] = {"--top",   "AB", "--bottom",     "",       "--size", "24",
                        "--scale", "2",  "--background", "c0C0c0", "-13",    "out.png"};
  ASSERT_TRUE(ParseIconPngArguments(12, full, request, error)) << error;
  EXPECT_EQ(request.size, 24);
  EXPECT_EQ(request.topLabel, "AB");
  EXPECT_EQ(request.bottomLabel, "");
  EXPECT_EQ(request.scale, 2);
  ASSERT_TRUE(request.background.has_value());
  EXPECT_EQ(*request.background, (Rgb{192, 192, 192}));
  EXPECT_EQ(request.code, -13);
  EXPECT_EQ(request.path, "out.png");

  const std::vector<std::vector<const char*>> bad = {
      {"13"},
      {"13", "a.png", "b.png"},
      {"--scale", "0", "13", "a.png"},
      {"--scale", "65", "13", "a.png"},
      {"--scale", "2x", "13", "a.png"},
      {"--size", "15", "13", "a.png"},
      {"--size", "257", "13", "a.png"},
      {"--background", "fffff", "13", "a.png"},
      {"--background", "ggffff", "13", "a.png"},
      {"2147483648", "a.png"},
      {"13x", "a.png"},
      {"--colour", "13", "a.png"},
      {"13", "a.png", "--top"},
  };
  for (const auto& arguments : bad) {
    IconPngRequest ignored;
    error.clear();
    EXPECT_FALSE(ParseIconPngArguments(static_cast<int>(arguments.size()), arguments.data(), ignored, error))
        << arguments[0];
    EXPECT_FALSE(error.empty());
  }
}

int RunCommand(const std::string& arguments) {
  const int status = std::system((std::string(GLEAMO_ICON_PNG_COMMAND) + " " + arguments + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(IconPngCommand, WritesTheModelPictureOfTheGivenCodeAndLabels) {
  const std::string path = TempPath("command.png");
  ASSERT_EQ(RunCommand("--top AB --bottom CDE --scale 2 113 " + path), 0);
  Picture picture;
  ASSERT_TRUE(ReadPng(path, picture));
  ExpectShowsRaster(picture, PaintIconRaster("AB", "CDE", 113), 2);
  std::remove(path.c_str());

  EXPECT_EQ(RunCommand("--scale 0 113 " + path), 2);
  EXPECT_EQ(RunCommand("113 /nonexistent-dir/x.png"), 1);
}

}  // namespace
