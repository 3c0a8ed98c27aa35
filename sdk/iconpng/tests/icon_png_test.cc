#include "zel/iconpng/icon_png.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>

namespace zel::iconpng {
namespace {

// A PNG made by libpng directly (not by the writer under test) from RGBA rows, top-down.
std::vector<uint8_t> MakePng(int width, int height, const std::vector<uint8_t>& rgba) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<uint32_t>(width);
  image.height = static_cast<uint32_t>(height);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
  std::vector<uint8_t> out(size);
  png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr);
  out.resize(size);
  return out;
}

std::vector<uint8_t> ReadRgba(const std::vector<uint8_t>& png) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  EXPECT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0);
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
  EXPECT_NE(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr), 0);
  return rgba;
}

std::vector<uint8_t> Solid(int side, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> rgba;
  for (int i = 0; i < side * side; ++i) rgba.insert(rgba.end(), {r, g, b, 0xFF});
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
  auto at = [&](int x, int y) {
    const uint8_t* p = &rgba[static_cast<std::size_t>((y * 32 + x) * 4)];
    return std::vector<uint8_t>(p, p + 4);
  };
  EXPECT_EQ(at(0, 31), (std::vector<uint8_t>{0xFF, 0, 0, 0xFF}));
  EXPECT_EQ(at(31, 31), (std::vector<uint8_t>{0, 0, 0xFF, 0xFF}));
  EXPECT_EQ(at(5, 10), (std::vector<uint8_t>{0, 0xFF, 0, 0xFF}));
  EXPECT_EQ(at(0, 0), (std::vector<uint8_t>{0, 0, 0, 0}));
  std::vector<uint8_t> back;
  ASSERT_TRUE(PngToIcon(png.data(), png.size(), Colours::kExact, &back, &error)) << error;
  EXPECT_EQ(back, bits);
}

TEST(IconPngTest, NearestColourQuantisesAndExactRefuses) {
  // (0x7f, 0x02, 0x01) is nearest to palette colour 1 (800000).
  const std::vector<uint8_t> png = MakePng(32, 32, Solid(32, 0x7F, 0x02, 0x01));
  std::vector<uint8_t> bits;
  std::string error;
  ASSERT_TRUE(PngToIcon(png.data(), png.size(), Colours::kNearest, &bits, &error)) << error;
  EXPECT_EQ(bits, [] {
    std::vector<uint8_t> expected(kIconBytes, 0x11);
    std::memset(&expected[kPixelBytes], 0, kMaskBytes);
    return expected;
  }());
  std::vector<uint8_t> untouched{1, 2, 3};
  EXPECT_FALSE(PngToIcon(png.data(), png.size(), Colours::kExact, &untouched, &error));
  EXPECT_EQ(error,
            "the pixel at (0, 0) has colour 7f0201, which is not one of the icon's 16 colours");
  EXPECT_EQ(untouched, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(IconPngTest, RefusesWhatIsNoIcon) {
  const std::vector<uint8_t> good = MakePng(32, 32, Solid(32, 0, 0, 0));
  struct Case {
    const char* name;
    std::vector<uint8_t> png;
    const char* error;
  } cases[] = {
      {"smaller", MakePng(16, 16, Solid(16, 0, 0, 0)), "the PNG is 16x16 pixels; an icon is 32x32"},
      {"larger", MakePng(48, 48, Solid(48, 0, 0, 0)), "the PNG is 48x48 pixels; an icon is 32x32"},
      {"not a PNG", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0}, "not a PNG libpng can read"},
      {"empty", {}, "not a PNG libpng can read"},
      {"cut short", std::vector<uint8_t>(good.begin(), good.end() - 20), "the PNG is damaged"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bits;
    std::string error;
    EXPECT_FALSE(PngToIcon(c.png.data(), c.png.size(), Colours::kNearest, &bits, &error)) << c.name;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.name << ": " << error;
    EXPECT_TRUE(bits.empty()) << c.name;
  }
  std::vector<uint8_t> png;
  std::string error;
  EXPECT_FALSE(IconToPng(good.data(), 639, &png, &error));
  EXPECT_EQ(error, "icon bits are 639 bytes, not 640");
}

}  // namespace
}  // namespace zel::iconpng
