#include "filter/picturecode/canvas.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace sentrel::picturecode {
namespace {

using Points = std::set<std::pair<int, int>>;

Points InkOf(const Canvas& canvas) {
  Points ink;
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) {
      if (canvas.Pixel(x, y) == kBlack) ink.insert({x, y});
    }
  }
  return ink;
}

Points Drawn(int x1, int y1, int x2, int y2, int pen, int size = 20) {
  Canvas canvas(size, size);
  canvas.Line(x1, y1, x2, y2, pen);
  return InkOf(canvas);
}

TEST(CanvasTest, StartsWhiteAndFills) {
  Canvas canvas(7, 3);
  EXPECT_EQ(canvas.Width(), 7);
  EXPECT_EQ(canvas.Height(), 3);
  EXPECT_EQ(canvas.Pixel(6, 2), kWhite);
  canvas.Fill(0x123456);
  EXPECT_EQ(canvas.Pixel(0, 0), 0x123456u);
  EXPECT_EQ(canvas.Pixel(6, 2), 0x123456u);
  // Outside reads white, outside writes are dropped.
  EXPECT_EQ(canvas.Pixel(7, 0), kWhite);
  EXPECT_EQ(canvas.Pixel(-1, 0), kWhite);
  canvas.SetPixel(-1, 5, kBlack);
  canvas.SetPixel(7, 3, kBlack);
  EXPECT_TRUE(InkOf(canvas).empty());
}

TEST(CanvasTest, LineLeavesItsEndPointUnpainted) {
  struct Case {
    int x1, y1, x2, y2;
    Points want;
  };
  const Case cases[] = {
      {2, 3, 6, 3, {{2, 3}, {3, 3}, {4, 3}, {5, 3}}},  // rightwards
      {6, 3, 2, 3, {{6, 3}, {5, 3}, {4, 3}, {3, 3}}},  // leftwards: the start is painted
      {4, 1, 4, 4, {{4, 1}, {4, 2}, {4, 3}}},          // downwards
      {1, 1, 4, 4, {{1, 1}, {2, 2}, {3, 3}}},          // diagonal speck of length 3
      {5, 5, 6, 6, {{5, 5}}},                          // diagonal speck of length 1
  };
  for (const Case& c : cases) {
    for (int pen : {0, 1}) {
      EXPECT_EQ(Drawn(c.x1, c.y1, c.x2, c.y2, pen), c.want)
          << c.x1 << "," << c.y1 << " -> " << c.x2 << "," << c.y2 << " pen " << pen;
    }
  }
}

TEST(CanvasTest, ZeroLengthLineLeavesNoMarkWithAnyPen) {
  for (int pen : {0, 1, 2}) EXPECT_TRUE(Drawn(5, 5, 5, 5, pen).empty()) << "pen " << pen;
}

TEST(CanvasTest, ShallowAndSteepLinesHaveOnePixelPerMajorStep) {
  const Points shallow = Drawn(0, 0, 10, 3, 1);
  ASSERT_EQ(shallow.size(), 10u);
  std::set<int> columns;
  for (const auto& [x, y] : shallow) columns.insert(x);
  EXPECT_EQ(columns.size(), 10u);
  EXPECT_EQ(*columns.rbegin(), 9);
  EXPECT_TRUE(shallow.count({0, 0}));

  const Points steep = Drawn(3, 0, 0, 10, 1);
  ASSERT_EQ(steep.size(), 10u);
  std::set<int> rows;
  for (const auto& [x, y] : steep) rows.insert(y);
  EXPECT_EQ(rows.size(), 10u);
  EXPECT_EQ(*rows.rbegin(), 9);
  EXPECT_TRUE(steep.count({3, 0}));
}

TEST(CanvasTest, TwoPixelPenThickensAcrossTheLine) {
  // Horizontal: two rows; vertical: two columns; the end point still left out.
  EXPECT_EQ(Drawn(2, 5, 5, 5, 2), (Points{{2, 4}, {3, 4}, {4, 4}, {2, 5}, {3, 5}, {4, 5}}));
  EXPECT_EQ(Drawn(5, 2, 5, 4, 2), (Points{{4, 2}, {5, 2}, {4, 3}, {5, 3}}));
  // A two-pixel speck covers twice the pixels of a thin one.
  EXPECT_EQ(Drawn(8, 8, 11, 11, 2).size(), 2 * Drawn(8, 8, 11, 11, 1).size());
}

TEST(CanvasTest, LinesLeavingTheCanvasAreClipped) {
  Canvas canvas(10, 10);
  canvas.Line(8, 8, 11, 11, 2);       // a speck running off the corner
  canvas.Line(-5, -5, 30, 2, 2);      // starts and ends outside
  const Points ink = InkOf(canvas);
  EXPECT_TRUE(ink.count({8, 8}));
  EXPECT_TRUE(ink.count({9, 9}));
  for (const auto& [x, y] : ink) {
    EXPECT_GE(x, 0);
    EXPECT_LT(x, 10);
    EXPECT_GE(y, 0);
    EXPECT_LT(y, 10);
  }
}

TEST(CanvasTest, EmptyCanvasIgnoresDrawing) {
  Canvas canvas(0, -3);
  EXPECT_EQ(canvas.Width(), 0);
  EXPECT_EQ(canvas.Height(), 0);
  canvas.Line(0, 0, 5, 5, 2);
  canvas.Fill(kBlack);
  EXPECT_EQ(canvas.Pixel(0, 0), kWhite);
}

}  // namespace
}  // namespace sentrel::picturecode
