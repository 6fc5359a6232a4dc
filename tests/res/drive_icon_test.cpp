#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "res/drive_icon/drive_picture.h"
#include "res/drive_icon/ico_file.h"

namespace {

std::uint32_t DwordAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::uint16_t WordAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

bool IsGrey(const Rgb& colour) {
  return colour.red == colour.green && colour.green == colour.blue;
}

TEST(IconPaletteTest, PalettesStartWithVgaAndMapTheirOwnColoursToThemselves) {
  const auto& four = FourBitPalette();
  const auto& eight = EightBitPalette();
  EXPECT_EQ(four[0], (Rgb{0, 0, 0}));
  EXPECT_EQ(four[7], (Rgb{192, 192, 192}));
  EXPECT_EQ(four[15], (Rgb{255, 255, 255}));
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(eight[i], four[i]) << i;
    EXPECT_EQ(NearestPaletteIndex(four[i], four.data(), 16), i) << i;
  }
  EXPECT_EQ(eight[16 + 36 * 5 + 6 * 3 + 1], (Rgb{255, 153, 51})) << "the colour cube, red slowest";
  EXPECT_EQ(eight[255], (Rgb{238, 238, 238})) << "the grey ramp's last step";
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(eight[NearestPaletteIndex(eight[i], eight.data(), 256)], eight[i]) << i;
  }
}

TEST(IconPaletteTest, GreysStayGreyAndColoursFindTheirNeighbour) {
  const auto& four = FourBitPalette();
  // In plain RGB distance a dark grey is as close to navy as to grey.
  for (int level : {40, 64, 100, 150, 170, 230}) {
    const auto value = static_cast<std::uint8_t>(level);
    const Rgb grey{value, value, static_cast<std::uint8_t>(value + 2)};
    EXPECT_TRUE(IsGrey(four[NearestPaletteIndex(grey, four.data(), 16)])) << level;
  }
  EXPECT_EQ(NearestPaletteIndex({250, 10, 10}, four.data(), 16), 9);
  EXPECT_EQ(NearestPaletteIndex({120, 130, 125}, four.data(), 16), 8);
  EXPECT_EQ(NearestPaletteIndex({255, 150, 40}, EightBitPalette().data(), 256), 16 + 36 * 5 + 6 * 3 + 1);
}

// A 3 x 2 picture: odd width, so every row needs padding.
//   top:    red, transparent, white
//   bottom: black, grey at alpha 127, blue at alpha 200
RgbaImage SmallPicture() {
  RgbaImage picture(3, 2);
  picture.At(0, 0) = {255, 0, 0, 255};
  picture.At(1, 0) = {0, 0, 0, 0};
  picture.At(2, 0) = {255, 255, 255, 255};
  picture.At(0, 1) = {0, 0, 0, 255};
  picture.At(1, 1) = {128, 128, 128, 127};
  picture.At(2, 1) = {0, 0, 255, 200};
  return picture;
}

void ExpectHeader(const IconImage& image, int bitsPerPixel, std::uint32_t imageSize) {
  const auto& bytes = image.bytes;
  EXPECT_EQ(DwordAt(bytes, 0), 40u);
  EXPECT_EQ(DwordAt(bytes, 4), 3u);
  EXPECT_EQ(DwordAt(bytes, 8), 4u) << "height doubled for the mask";
  EXPECT_EQ(WordAt(bytes, 12), 1);
  EXPECT_EQ(WordAt(bytes, 14), bitsPerPixel);
  EXPECT_EQ(DwordAt(bytes, 16), 0u) << "BI_RGB";
  EXPECT_EQ(DwordAt(bytes, 20), imageSize);
}

TEST(IconImageTest, FourBitRowsAreBottomUpHighNibbleFirstAndPadded) {
  const IconImage image = EncodeIconImage(SmallPicture(), 4);
  ASSERT_EQ(image.bytes.size(), 40u + 16 * 4 + 2 * 4 + 2 * 4);
  ExpectHeader(image, 4, 16);
  EXPECT_EQ(image.bytes[40 + 9 * 4 + 2], 255) << "palette entry 9 is red, stored blue-green-red";
  const std::vector<std::uint8_t> pixels(image.bytes.begin() + 104, image.bytes.end());
  const std::vector<std::uint8_t> expected = {0x00, 0xC0, 0, 0,   // bottom row: black, masked, blue
                                              0x90, 0xF0, 0, 0,   // top row: red, masked, white
                                              0x40, 0,    0, 0,   // mask, bottom row: alpha 127 counts as transparent
                                              0x40, 0,    0, 0};  // mask, top row
  EXPECT_EQ(pixels, expected);
}

TEST(IconImageTest, EightBitUsesOneBytePerPixel) {
  const IconImage image = EncodeIconImage(SmallPicture(), 8);
  ASSERT_EQ(image.bytes.size(), 40u + 256 * 4 + 2 * 4 + 2 * 4);
  ExpectHeader(image, 8, 16);
  const std::vector<std::uint8_t> pixels(image.bytes.begin() + 40 + 1024, image.bytes.end());
  const std::vector<std::uint8_t> expected = {0, 0, 12, 0, 9, 0, 15, 0, 0x40, 0, 0, 0, 0x40, 0, 0, 0};
  EXPECT_EQ(pixels, expected);
}

TEST(IconImageTest, ThirtyTwoBitKeepsAlphaAndMasksOnlyFullTransparency) {
  const IconImage image = EncodeIconImage(SmallPicture(), 32);
  ASSERT_EQ(image.bytes.size(), 40u + 2 * 12 + 2 * 4);
  ExpectHeader(image, 32, 32);
  const std::vector<std::uint8_t> pixels(image.bytes.begin() + 40, image.bytes.end());
  // clang-format off
  const std::vector<std::uint8_t> expected = {
      0, 0, 0, 255,      128, 128, 128, 127,  255, 0, 0, 200,        // bottom row, blue-green-red-alpha
      0, 0, 255, 255,    0, 0, 0, 0,          255, 255, 255, 255,    // top row
      0, 0, 0, 0,                                                    // mask, bottom row: nothing masked
      0x40, 0, 0, 0};                                                // mask, top row
  // clang-format on
  EXPECT_EQ(pixels, expected);
}

TEST(IconImageTest, RefusesDepthsAnIconCannotUse) {
  EXPECT_THROW(EncodeIconImage(SmallPicture(), 24), std::invalid_argument);
}

TEST(IcoFileTest, DirectoryPointsAtEachImageInTurn) {
  const std::vector<IconImage> images = {EncodeIconImage(RgbaImage(16, 16), 4),
                                         EncodeIconImage(RgbaImage(256, 256), 32),
                                         EncodeIconImage(RgbaImage(48, 48), 8)};
  const std::vector<std::uint8_t> file = BuildIcoFile(images);
  EXPECT_EQ(WordAt(file, 0), 0);
  EXPECT_EQ(WordAt(file, 2), 1);
  EXPECT_EQ(WordAt(file, 4), 3);
  std::size_t expectedOffset = 6 + 3 * 16;
  const int widths[] = {16, 0, 48};  // 256 is written as 0
  const int colours[] = {16, 0, 0};
  for (int i = 0; i < 3; ++i) {
    const std::size_t entry = 6 + 16 * i;
    EXPECT_EQ(file[entry], widths[i]) << i;
    EXPECT_EQ(file[entry + 1], widths[i]) << i;
    EXPECT_EQ(file[entry + 2], colours[i]) << i;
    EXPECT_EQ(WordAt(file, entry + 4), 1) << i;
    EXPECT_EQ(WordAt(file, entry + 6), images[i].bitsPerPixel) << i;
    EXPECT_EQ(DwordAt(file, entry + 8), images[i].bytes.size()) << i;
    EXPECT_EQ(DwordAt(file, entry + 12), expectedOffset) << i;
    EXPECT_TRUE(std::equal(images[i].bytes.begin(), images[i].bytes.end(), file.begin() + expectedOffset)) << i;
    expectedOffset += images[i].bytes.size();
  }
  EXPECT_EQ(file.size(), expectedOffset);
}

TEST(DrivePictureTest, DriveFillsTheSquareInsideRoundedCorners) {
  for (int size : {16, 24, 32, 48, 128}) {
    SCOPED_TRACE(size);
    const RgbaImage picture = DrawOpenDrive(size);
    ASSERT_EQ(picture.width, size);
    ASSERT_EQ(picture.height, size);
    for (auto [x, y] :
         {std::pair{0, 0}, std::pair{size - 1, 0}, std::pair{0, size - 1}, std::pair{size - 1, size - 1}}) {
      EXPECT_LT(picture.At(x, y).alpha, 128) << x << "," << y;
    }
    EXPECT_EQ(picture.At(size / 2, size / 2).alpha, 255);
    int opaque = 0;
    std::set<int> shades;
    for (const Rgba& pixel : picture.pixels) {
      if (pixel.alpha == 255) ++opaque;
      shades.insert(pixel.red + pixel.green + pixel.blue);
    }
    EXPECT_GT(opaque, size * size * 3 / 4);
    EXPECT_GT(shades.size(), 10u) << "platter, arm and case in distinct shades";
  }
}

#ifdef GLEAMO_DRIVE_ICON_FILE
// A cross tree draws the icon with the tool built for the build machine; the
// program must carry what its own target's arithmetic draws, to the byte.
TEST(DrivePictureTest, BuildMachineDrewWhatThisTargetDraws) {
  std::ifstream in(GLEAMO_DRIVE_ICON_FILE, std::ios::binary);
  ASSERT_TRUE(in) << GLEAMO_DRIVE_ICON_FILE;
  const std::vector<std::uint8_t> written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::vector<std::uint8_t> drawn = DrawApplicationIconFile();
  ASSERT_EQ(written.size(), drawn.size());
  const auto [differs, unused] = std::mismatch(written.begin(), written.end(), drawn.begin());
  EXPECT_EQ(differs, written.end()) << "first difference at byte " << (differs - written.begin());
}
#endif

}  // namespace
