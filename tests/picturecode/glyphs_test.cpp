#include "filter/picturecode/glyphs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "filter/picturecode/glyphs.h"
#include "tests/picturecode/test_images.h"

namespace sentrel::picturecode {
namespace {

struct InkBox {
  int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1, count = 0;
};

InkBox InkOf(const Canvas& canvas) {
  InkBox box;
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) {
      if (canvas.Pixel(x, y) != kBlack) continue;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y);
      ++box.count;
    }
  }
  return box;
}

// Mean column of the ink in one row; -1 when the row has none.
[[maybe_unused]] double MeanInkColumn(const Canvas& canvas, int y) {
  long sum = 0;
  int n = 0;
  for (int x = 0; x < canvas.Width(); ++x) {
    if (canvas.Pixel(x, y) == kBlack) {
      sum += x;
      ++n;
    }
  }
  return n == 0 ? -1.0 : static_cast<double>(sum) / n;
}

LogicalFont Font(int height, int escapement = 0, bool italic = false) {
  return LogicalFont{height, escapement, escapement, 950, italic};
}

class GlyphFaceTest : public ::testing::Test {
 protected:
  GlyphFace face_{FindHeavyFace("Arial")};

  Canvas Draw(const LogicalFont& font, const Rect& rect, char ch, int w = 200, int h = 150) {
    Canvas canvas(w, h);
    face_.DrawChar(canvas, font, rect, ch);
    return canvas;
  }
};

TEST_F(GlyphFaceTest, HeavyFaceIsInstalled) {
  const auto file = FindHeavyFace("Arial");
  ASSERT_TRUE(file.has_value());
  EXPECT_FALSE(file->path.empty());
  EXPECT_TRUE(face_.Loaded());
}

TEST_F(GlyphFaceTest, WidthFollowsTheCellHeightOnly) {
  const int small = face_.MeasureWidth(Font(40), '8');
  const int large = face_.MeasureWidth(Font(80), '8');
  // A digit of a sans-serif face is about half as wide as its cell is high.
  EXPECT_GE(small, 14);
  EXPECT_LE(small, 26);
  EXPECT_NEAR(large, 2 * small, 2);
  // Measuring is of the unturned, upright line.
  EXPECT_EQ(face_.MeasureWidth(Font(40, 375), '8'), small);
  EXPECT_EQ(face_.MeasureWidth(Font(40, 0, true), '8'), small);
}

TEST_F(GlyphFaceTest, InkIsPureBlackAndTransparentElsewhere) {
  Canvas canvas(120, 100);
  canvas.SetPixel(0, 0, 0x808080);  // a mark the text must not touch
  face_.DrawChar(canvas, Font(60, 250, true), Rect{10, 0, 80, 100}, '5');
  int black = 0;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 120; ++x) {
      const Colour c = canvas.Pixel(x, y);
      if (x == 0 && y == 0) {
        EXPECT_EQ(c, 0x808080u);
      } else {
        if (testing::kTextIsPureBlack) {
          ASSERT_TRUE(c == kBlack || c == kWhite) << x << "," << y;
        }
        black += c == kBlack;
      }
    }
  }
  EXPECT_GT(black, 200);
}

TEST_F(GlyphFaceTest, UprightCellIsCentredVertically) {
  // Cell of 40 in a rectangle of 100: the cell spans rows 30 to 69, and a
  // digit stands between the cell's top and its descent.
  const InkBox box = InkOf(Draw(Font(40), Rect{0, 0, 60, 100}, '8'));
  EXPECT_GE(box.top, 30);
  EXPECT_LE(box.top, 30 + 12);
  EXPECT_LE(box.bottom, 69 - 5);
  EXPECT_GE(box.bottom - box.top, 24);  // a digit is most of the ascent high
  EXPECT_LT(box.left, 5);               // starts at the left edge
  // A taller rectangle moves the digit down by half the extra height.
  const InkBox lower = InkOf(Draw(Font(40), Rect{0, 0, 60, 120}, '8'));
  EXPECT_EQ(lower.top, box.top + 10);
  EXPECT_EQ(lower.left, box.left);
}

TEST_F(GlyphFaceTest, MovingTheRectangleMovesTheInkExactly) {
  for (int escapement : {0, 100, 273, 379}) {
    const LogicalFont font = Font(57, escapement, escapement % 2 == 1);
    const Canvas a = Draw(font, Rect{20, 0, 90, 100}, '7');
    const Canvas b = Draw(font, Rect{21, 1, 91, 101}, '7');
    int black = 0;
    for (int y = 0; y < 149; ++y) {
      for (int x = 0; x < 199; ++x) {
        ASSERT_EQ(a.Pixel(x, y), b.Pixel(x + 1, y + 1)) << escapement << ": " << x << "," << y;
        black += a.Pixel(x, y) == kBlack;
      }
    }
    EXPECT_GT(black, 100);
  }
}

// The turning and slanting of the outline rasteriser; on Windows the graphics
// device interface turns the text itself.
#if !defined(_WIN32)
TEST_F(GlyphFaceTest, EscapementTurnsTheTextCounterClockwise) {
  // A vertical stem: upright, its top is over its bottom; turned by 30
  // degrees counter-clockwise its top leans left by about tan 30 of its height.
  const Canvas upright = Draw(Font(70), Rect{40, 0, 100, 150}, 'I');
  const InkBox u = InkOf(upright);
  EXPECT_NEAR(MeanInkColumn(upright, u.top + 2), MeanInkColumn(upright, u.bottom - 2), 0.6);

  const Canvas turned = Draw(Font(70, 300), Rect{40, 0, 100, 150}, 'I');
  const InkBox t = InkOf(turned);
  const double lean = MeanInkColumn(turned, t.bottom - 4) - MeanInkColumn(turned, t.top + 4);
  EXPECT_NEAR(lean / (t.bottom - t.top - 8), 0.577, 0.12);
  // It turns about the cell's top-left corner, so the foot swings right by
  // about sin 30 of the ascent, the top of the stem far less.
  EXPECT_GT(MeanInkColumn(turned, t.bottom - 1), MeanInkColumn(upright, u.bottom - 1) + 20);
  EXPECT_LT(t.left, u.left + 12);
}

TEST_F(GlyphFaceTest, ItalicSlantsToTheRight) {
  const Canvas slanted = Draw(Font(70, 0, true), Rect{40, 0, 100, 150}, 'I');
  const InkBox s = InkOf(slanted);
  const double lean = MeanInkColumn(slanted, s.top + 4) - MeanInkColumn(slanted, s.bottom - 4);
  EXPECT_NEAR(lean / (s.bottom - s.top - 8), 0.21, 0.06);
}
#endif  // !_WIN32

TEST_F(GlyphFaceTest, MeasureInkRightFindsTheLastInkColumn) {
  const LogicalFont font = Font(60, 200);
  const Rect rect{30, 1, 100, 101};
  const InkBox box = InkOf(Draw(font, rect, '4', 300, 100));
  ASSERT_GT(box.right, 30);
  EXPECT_EQ(MeasureInkRight(300, 100, face_, font, rect, '4'), box.right);
  // Ink running off the right side ends at the last column.
  EXPECT_EQ(MeasureInkRight(50, 100, face_, font, rect, '4'), 49);
  // No ink at all: a space, or a rectangle beyond the canvas.
  EXPECT_EQ(MeasureInkRight(300, 100, face_, font, rect, ' '), 0);
  EXPECT_EQ(MeasureInkRight(300, 100, face_, font, Rect{400, 0, 470, 100}, '4'), 0);
}

TEST(GlyphFaceFallbackTest, MissingFaceDrawsAndMeasuresNothing) {
  // Font files that cannot be loaded exist only for the outline rasteriser;
  // the graphics device interface takes any face name and maps it.
  const std::vector<std::optional<FontFile>> missing = {
      std::optional<FontFile>{},
#if !defined(_WIN32)
      std::optional<FontFile>{FontFile{"/nonexistent.ttf", 0}},
      std::optional<FontFile>{FontFile{"/etc/hostname", 0}},
#endif
  };
  for (const std::optional<FontFile>& file : missing) {
    GlyphFace face(file);
    EXPECT_FALSE(face.Loaded());
    EXPECT_EQ(face.MeasureWidth(Font(50), '3'), 0);
    Canvas canvas(100, 100);
    face.DrawChar(canvas, Font(50, 200), Rect{0, 0, 60, 100}, '3');
    EXPECT_EQ(InkOf(canvas).count, 0);
    EXPECT_EQ(MeasureInkRight(100, 100, face, Font(50), Rect{0, 0, 60, 100}, '3'), 0);
  }
}

}  // namespace
}  // namespace sentrel::picturecode
