#include "zel/iconpng/icon_png.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>

namespace zel::iconpng {
namespace {

// PNGs read and written by libpng directly (not by the code under test): RGBA rows top-down.
std::vector<uint8_t> SolidPng(int side, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> rgba;
  for (int i = 0; i < side * side; ++i) rgba.insert(rgba.end(), {r, g, b, 0xFF});
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = image.height = static_cast<uint32_t>(side);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
  std::vector<uint8_t> out(size);
  png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr);
  return out;
}
std::vector<uint8_t> ReadRgba(const std::vector<uint8_t>& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  EXPECT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0);
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
  EXPECT_NE(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr), 0);
  return rgba;
}

TEST(IconPngTest, BitsToPngPlacesRowsAndMaskAndComesBackTheSame) {
  // Bytes written by hand: the first stored row (the lowest) is colour 9 (ff0000) on the left
  // pixel and 12 (0000ff) on the right one; every other pixel 0x0a (00ff00); the top row's
  // leftmost pixel is transparent.
  std::vector<uint8_t> bits(kIconBytes, 0xAA);
  std::memset(&bits[kPixelBytes], 0, kMaskBytes);
  bits[0] = 0x9A;
  bits[15] = 0xAC;
  bits[31 * 16] = 0x0A;  // top row, left pixel index 0 (it is masked)
  bits[kPixelBytes + 31 * 4] = 0x80;
  std::vector<uint8_t> png;
  std::string error;
  ASSERT_TRUE(IconToPng(bits.data(), bits.size(), &png, &error)) << error;
  const std::vector<uint8_t> rgba = ReadRgba(png);
  ASSERT_EQ(rgba.size(), 32u * 32u * 4u);
  const struct {
    int x, y;
    uint32_t rgba;
  } pixels[] = {{0, 31, 0xFF0000FF}, {31, 31, 0x0000FFFF}, {5, 10, 0x00FF00FF}, {0, 0, 0}};
  for (const auto& p : pixels) {
    const uint8_t* at = &rgba[static_cast<std::size_t>((p.y * 32 + p.x) * 4)];
    EXPECT_EQ(uint32_t{at[0]} << 24 | at[1] << 16 | at[2] << 8 | at[3], p.rgba)
        << p.x << "," << p.y;
  }
  std::vector<uint8_t> back;
  ASSERT_TRUE(PngToIcon(png.data(), png.size(), Colours::kExact, &back, &error)) << error;
  EXPECT_EQ(back, bits);
  // (0x7f, 0x02, 0x01) is nearest to palette colour 1 (800000): every nibble 1, nothing masked.
  const std::vector<uint8_t> dark = SolidPng(32, 0x7F, 0x02, 0x01);
  ASSERT_TRUE(PngToIcon(dark.data(), dark.size(), Colours::kNearest, &back, &error)) << error;
  std::vector<uint8_t> expected(kIconBytes, 0x11);
  std::memset(&expected[kPixelBytes], 0, kMaskBytes);
  EXPECT_EQ(back, expected);
}

// What is no icon is refused with the reason, and the caller's bits stay as they were.
TEST(IconPngTest, RefusesWhatIsNoIcon) {
  const std::vector<uint8_t> good = SolidPng(32, 0, 0, 0);
  const struct {
    std::vector<uint8_t> png;
    Colours colours;
    const char* error;
  } cases[] = {
      {SolidPng(16, 0, 0, 0), Colours::kNearest, "the PNG is 16x16 pixels; an icon is 32x32"},
      {SolidPng(48, 0, 0, 0), Colours::kNearest, "the PNG is 48x48 pixels; an icon is 32x32"},
      {{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0},
       Colours::kNearest,
       "not a PNG libpng can read"},
      {{}, Colours::kNearest, "not a PNG libpng can read"},
      {std::vector<uint8_t>(good.begin(), good.end() - 20), Colours::kNearest,
       "the PNG is damaged"},
      {SolidPng(32, 0x7F, 0x02, 0x01), Colours::kExact,
       "the pixel at (0, 0) has colour 7f0201, which is not one of the icon's 16 colours"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bits{1, 2, 3};
    std::string error;
    EXPECT_FALSE(PngToIcon(c.png.data(), c.png.size(), c.colours, &bits, &error)) << c.error;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_EQ(bits, (std::vector<uint8_t>{1, 2, 3}));
  }
  std::vector<uint8_t> png;
  std::string error;
  EXPECT_FALSE(IconToPng(good.data(), 639, &png, &error));
  EXPECT_EQ(error, "icon bits are 639 bytes, not 640");
}

}  // namespace
}  // namespace zel::iconpng
