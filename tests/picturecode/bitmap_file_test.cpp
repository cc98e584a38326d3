#include "filter/picturecode/bitmap_file.h"

#include <gtest/gtest.h>

#include "tests/picturecode/test_images.h"

namespace sentrel::picturecode {
namespace {

using testing::DecodeBitmap;
using testing::Read16;
using testing::Read32;

TEST(BitmapFileTest, HeadersAndSizes) {
  struct Case {
    int width, height;
    std::size_t rowSize, fileSize;
  };
  const Case cases[] = {
      {300, 100, 900, 90054},  {301, 100, 904, 90454}, {512, 512, 1536, 786486},
      {1, 1, 4, 58},           {2, 3, 8, 78},           {3, 1, 12, 66},
      {4, 2, 12, 78},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    EXPECT_EQ(BitmapRowSize(c.width), c.rowSize);
    const std::vector<std::uint8_t> file = EncodeBitmapFile(Canvas(c.width, c.height));
    ASSERT_EQ(file.size(), c.fileSize);
    EXPECT_EQ(file[0], 0x42);
    EXPECT_EQ(file[1], 0x4D);
    EXPECT_EQ(Read32(file, 2), c.fileSize);
    EXPECT_EQ(Read16(file, 6), 0);
    EXPECT_EQ(Read16(file, 8), 0);
    EXPECT_EQ(Read32(file, 10), 54u);
    EXPECT_EQ(Read32(file, 14), 40u);
    EXPECT_EQ(Read32(file, 18), static_cast<std::uint32_t>(c.width));
    EXPECT_EQ(Read32(file, 22), static_cast<std::uint32_t>(c.height));
    EXPECT_EQ(Read16(file, 26), 1);
    EXPECT_EQ(Read16(file, 28), 24);
    for (std::size_t at = 30; at < 54; at += 4) EXPECT_EQ(Read32(file, at), 0u) << "offset " << at;
  }
}

TEST(BitmapFileTest, RowsAreBottomFirstBlueGreenRedAndZeroPadded) {
  Canvas canvas(301, 3);
  canvas.SetPixel(0, 0, 0xFF0000);    // red, top-left
  canvas.SetPixel(300, 0, 0x00FF00);  // green, top-right
  canvas.SetPixel(1, 2, 0x0000FF);    // blue, bottom row
  const std::vector<std::uint8_t> file = EncodeBitmapFile(canvas);
  const std::size_t row = 904;
  ASSERT_EQ(file.size(), 54 + 3 * row);
  // The top row is stored last.
  const std::size_t top = 54 + 2 * row;
  EXPECT_EQ(file[top + 0], 0x00);
  EXPECT_EQ(file[top + 1], 0x00);
  EXPECT_EQ(file[top + 2], 0xFF);
  EXPECT_EQ(file[top + 900], 0x00);
  EXPECT_EQ(file[top + 901], 0xFF);
  EXPECT_EQ(file[top + 902], 0x00);
  EXPECT_EQ(file[top + 903], 0x00);  // padding
  // The bottom row comes first.
  EXPECT_EQ(file[54 + 3], 0xFF);
  EXPECT_EQ(file[54 + 4], 0x00);
  EXPECT_EQ(file[54 + 5], 0x00);
  // Every row's padding byte is zero, every other byte white but the three pixels.
  for (int r = 0; r < 3; ++r) EXPECT_EQ(file[54 + r * row + 903], 0) << "row " << r;

  const testing::DecodedBitmap back = DecodeBitmap(file);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 301; ++x) EXPECT_EQ(back.At(x, y), canvas.Pixel(x, y)) << x << "," << y;
  }
}

}  // namespace
}  // namespace sentrel::picturecode
