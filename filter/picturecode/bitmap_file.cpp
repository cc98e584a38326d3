#include "filter/picturecode/bitmap_file.h"

#include <new>

namespace sentrel::picturecode {
namespace {

void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::size_t BitmapRowSize(int width) {
  const std::size_t bits = 24 * static_cast<std::size_t>(width > 0 ? width : 0);
  return (bits + 31) / 32 * 4;
}

std::vector<std::uint8_t> EncodeBitmapFile(const Canvas& canvas) {
  const int width = canvas.Width();
  const int height = canvas.Height();
  const std::size_t rowSize = BitmapRowSize(width);
  const std::size_t fileSize = kBitmapHeadersSize + rowSize * static_cast<std::size_t>(height);

  std::vector<std::uint8_t> file;
  try {
    file.assign(fileSize, 0);  // zero: reserved fields and row padding
  } catch (const std::bad_alloc&) {
    return {};
  }
  std::uint8_t* p = file.data();
  // File header.
  p[0] = 'B';
  p[1] = 'M';
  Put32(p + 2, static_cast<std::uint32_t>(fileSize));
  Put32(p + 10, static_cast<std::uint32_t>(kBitmapHeadersSize));
  // Information header; the fields not set here stay 0 (no compression, no
  // image size, no resolution, no colour counts).
  Put32(p + 14, 40);
  Put32(p + 18, static_cast<std::uint32_t>(width));
  Put32(p + 22, static_cast<std::uint32_t>(height));  // positive: bottom row first
  Put16(p + 26, 1);
  Put16(p + 28, 24);

  std::uint8_t* row = p + kBitmapHeadersSize;
  for (int y = height - 1; y >= 0; --y, row += rowSize) {
    for (int x = 0; x < width; ++x) {
      const Colour c = canvas.Pixel(x, y);
      row[3 * x + 0] = static_cast<std::uint8_t>(c);        // blue
      row[3 * x + 1] = static_cast<std::uint8_t>(c >> 8);   // green
      row[3 * x + 2] = static_cast<std::uint8_t>(c >> 16);  // red
    }
  }
  return file;
}

}  // namespace sentrel::picturecode
