#include "zel/iconpng/icon_png.h"

#include <png.h>

#include <cstring>
#include <limits>

namespace zel::iconpng {
namespace {

constexpr std::size_t kRowBytes = kSide / 2;
constexpr std::size_t kMaskRowBytes = kSide / 8;

// The row of the icon bits that holds the PNG's row `y` (PNG rows go top-down, ours bottom-up).
int StoredRow(int y) { return kSide - 1 - y; }

uint8_t PixelIndex(const uint8_t* bits, int x, int y) {
  const uint8_t packed = bits[static_cast<std::size_t>(StoredRow(y)) * kRowBytes + x / 2];
  return (x % 2 == 0) ? static_cast<uint8_t>(packed >> 4) : static_cast<uint8_t>(packed & 0x0F);
}

bool PixelTransparent(const uint8_t* bits, int x, int y) {
  const uint8_t packed =
      bits[kPixelBytes + static_cast<std::size_t>(StoredRow(y)) * kMaskRowBytes + x / 8];
  return (packed & (0x80 >> (x % 8))) != 0;
}

void SetPixel(uint8_t* bits, int x, int y, uint8_t index, bool transparent) {
  uint8_t& packed = bits[static_cast<std::size_t>(StoredRow(y)) * kRowBytes + x / 2];
  packed = (x % 2 == 0) ? static_cast<uint8_t>((packed & 0x0F) | (index << 4))
                        : static_cast<uint8_t>((packed & 0xF0) | index);
  if (transparent) {
    bits[kPixelBytes + static_cast<std::size_t>(StoredRow(y)) * kMaskRowBytes + x / 8] |=
        static_cast<uint8_t>(0x80 >> (x % 8));
  }
}

// The palette index nearest to (r, g, b), and whether it is that colour exactly.
uint8_t NearestIndex(uint8_t r, uint8_t g, uint8_t b, bool* exact) {
  int best = 0;
  int bestDistance = std::numeric_limits<int>::max();
  for (int i = 0; i < 16; ++i) {
    const Rgb& c = Palette()[static_cast<std::size_t>(i)];
    const int dr = r - c.r, dg = g - c.g, db = b - c.b;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  *exact = bestDistance == 0;
  return static_cast<uint8_t>(best);
}

}  // namespace

const std::array<Rgb, 16>& Palette() {
  static const std::array<Rgb, 16> palette = {{{0x00, 0x00, 0x00},
                                               {0x80, 0x00, 0x00},
                                               {0x00, 0x80, 0x00},
                                               {0x80, 0x80, 0x00},
                                               {0x00, 0x00, 0x80},
                                               {0x80, 0x00, 0x80},
                                               {0x00, 0x80, 0x80},
                                               {0xC0, 0xC0, 0xC0},
                                               {0x80, 0x80, 0x80},
                                               {0xFF, 0x00, 0x00},
                                               {0x00, 0xFF, 0x00},
                                               {0xFF, 0xFF, 0x00},
                                               {0x00, 0x00, 0xFF},
                                               {0xFF, 0x00, 0xFF},
                                               {0x00, 0xFF, 0xFF},
                                               {0xFF, 0xFF, 0xFF}}};
  return palette;
}

bool IconToPng(const uint8_t* bits, std::size_t size, std::vector<uint8_t>* png,
               std::string* error) {
  if (bits == nullptr || size != kIconBytes) {
    *error = "icon bits are " + std::to_string(size) + " bytes, not 640";
    return false;
  }
  std::vector<uint8_t> rgba(static_cast<std::size_t>(kSide * kSide * 4), 0);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      if (PixelTransparent(bits, x, y)) continue;  // stays (0, 0, 0, 0)
      const Rgb& c = Palette()[PixelIndex(bits, x, y)];
      uint8_t* out = &rgba[static_cast<std::size_t>((y * kSide + x) * 4)];
      out[0] = c.r;
      out[1] = c.g;
      out[2] = c.b;
      out[3] = 0xFF;
    }
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = kSide;
  image.height = kSide;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t needed = 0;
  // The first call measures, the second writes.
  if (png_image_write_to_memory(&image, nullptr, &needed, 0, rgba.data(), 0, nullptr) == 0) {
    *error = std::string("cannot make the PNG: ") + image.message;
    return false;
  }
  std::vector<uint8_t> out(needed);
  if (png_image_write_to_memory(&image, out.data(), &needed, 0, rgba.data(), 0, nullptr) == 0) {
    *error = std::string("cannot make the PNG: ") + image.message;
    return false;
  }
  out.resize(needed);
  *png = std::move(out);
  return true;
}

bool PngToIcon(const uint8_t* png, std::size_t size, Colours colours, std::vector<uint8_t>* bits,
               std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png == nullptr || png_image_begin_read_from_memory(&image, png, size) == 0) {
    *error =
        std::string("not a PNG libpng can read: ") + (png == nullptr ? "no data" : image.message);
    return false;
  }
  // Checked before anything is allocated: the header's size decides nothing else.
  if (image.width != kSide || image.height != kSide) {
    *error = "the PNG is " + std::to_string(image.width) + "x" + std::to_string(image.height) +
             " pixels; an icon is 32x32";
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr) == 0) {
    *error = std::string("the PNG is damaged: ") + image.message;
    return false;
  }
  std::vector<uint8_t> out(kIconBytes, 0);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const uint8_t* in = &rgba[static_cast<std::size_t>((y * kSide + x) * 4)];
      const bool transparent = in[3] < 128;
      bool exact = true;
      const uint8_t index = transparent ? 0 : NearestIndex(in[0], in[1], in[2], &exact);
      if (!exact && colours == Colours::kExact) {
        char colour[8];
        std::snprintf(colour, sizeof colour, "%02x%02x%02x", in[0], in[1], in[2]);
        *error = "the pixel at (" + std::to_string(x) + ", " + std::to_string(y) + ") has colour " +
                 colour + ", which is not one of the icon's 16 colours";
        return false;
      }
      SetPixel(out.data(), x, y, index, transparent);
    }
  }
  *bits = std::move(out);
  return true;
}

}  // namespace zel::iconpng
