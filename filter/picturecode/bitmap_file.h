// The bitmap image file of a canvas: uncompressed, 24 bits per pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "filter/picturecode/canvas.h"

namespace sentrel::picturecode {

inline constexpr std::size_t kBitmapHeadersSize = 54;  // file header 14 + info header 40

// Bytes of one stored pixel row: three per pixel, padded to a multiple of 4.
std::size_t BitmapRowSize(int width);

// The whole file: the two headers, no colour table, then the rows bottom row
// first, each pixel as blue, green, red, each row padded with zero bytes. The
// file's size is the vector's size. Empty when the buffer cannot be allocated.
std::vector<std::uint8_t> EncodeBitmapFile(const Canvas& canvas);

}  // namespace sentrel::picturecode
