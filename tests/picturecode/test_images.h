// Test helpers: reading back a 24-bit bitmap file and saving sample pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filter/picturecode/canvas.h"

namespace sentrel::picturecode::testing {

// Whether drawn text is pure black ink on white. The outline rasteriser of
// Linux draws without smoothing; the graphics device interface of Windows
// draws with whatever font smoothing the system has (the font's quality 0
// leaves it to the system), so the edges of its text may be grey.
#if defined(_WIN32)
inline constexpr bool kTextIsPureBlack = false;
#else
inline constexpr bool kTextIsPureBlack = true;
#endif

struct DecodedBitmap {
  int width = 0;
  int height = 0;
  std::vector<Colour> pixels;  // rows top to bottom
  Colour At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

std::uint32_t Read32(const std::vector<std::uint8_t>& bytes, std::size_t at);
std::uint16_t Read16(const std::vector<std::uint8_t>& bytes, std::size_t at);

// Reads the pixels of an uncompressed bottom-up 24-bit file (no checks
// beyond the sizes; the tests check the headers themselves).
DecodedBitmap DecodeBitmap(const std::vector<std::uint8_t>& file);

// The pixels of a canvas, rows top to bottom.
DecodedBitmap FromCanvas(const Canvas& canvas);

// Writes bytes to a file; false on failure.
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// A PNG file (RGB, 8 bits, uncompressed deflate blocks) of the pixels.
std::vector<std::uint8_t> EncodePng(const DecodedBitmap& image);

}  // namespace sentrel::picturecode::testing
