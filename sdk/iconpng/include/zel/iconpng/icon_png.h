// An icon's 640 bytes and PNG, both ways. The web console and zeladmin share it.
//
// The icon bits (32 x 32 pixels, 16 colours), the classic layout:
//
//   bits   := pixels mask
//   pixels := row{32}            512 bytes: rows bottom-up, the first row is the lowest
//   row    := byte{16}           two pixels a byte, the left pixel in the high nibble; each
//                                nibble an index into the palette below
//   mask   := maskrow{32}        128 bytes, rows bottom-up as the pixels
//   maskrow:= byte{4}            one bit a pixel, the left pixel in the top bit; 1: the pixel
//                                is transparent (its colour is ignored), 0: it shows
//
// The palette (index: red green blue) is the classic 16-colour one:
//   0 000000  1 800000  2 008000  3 808000  4 000080  5 800080  6 008080  7 c0c0c0
//   8 808080  9 ff0000 10 00ff00 11 ffff00 12 0000ff 13 ff00ff 14 00ffff 15 ffffff
//
// A PNG made from an icon is 32 x 32, 8-bit RGBA, rows top-down as every PNG; a transparent
// pixel is written as (0, 0, 0, 0). Reading a PNG takes any 32 x 32 image libpng reads (grey,
// palette, RGB, with or without alpha, 8 or 16 bits); a pixel with alpha below 128 becomes
// transparent, any other is matched to a palette colour (the nearest, or only an exact one).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zel::iconpng {

inline constexpr int kSide = 32;
inline constexpr std::size_t kPixelBytes = 512;
inline constexpr std::size_t kMaskBytes = 128;
inline constexpr std::size_t kIconBytes = kPixelBytes + kMaskBytes;

struct Rgb {
  uint8_t r, g, b;
};
const std::array<Rgb, 16>& Palette();

// How a PNG colour outside the palette is treated.
enum class Colours {
  kNearest,  // the palette colour nearest to it (squared distance in RGB)
  kExact,    // refused, naming the first such pixel
};

// The PNG of an icon's bits. False with the reason in *error when `size` is not 640.
bool IconToPng(const uint8_t* bits, std::size_t size, std::vector<uint8_t>* png,
               std::string* error);

// The icon bits (640 bytes) of a PNG. False with the reason in *error (not a PNG, damaged,
// not 32 x 32, a colour off the palette with kExact); *bits is then untouched.
bool PngToIcon(const uint8_t* png, std::size_t size, Colours colours, std::vector<uint8_t>* bits,
               std::string* error);

}  // namespace zel::iconpng
