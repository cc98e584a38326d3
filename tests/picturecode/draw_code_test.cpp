#include "filter/picturecode/draw_code.h"

#include <gtest/gtest.h>

#include <string>

#include "filter/picturecode/glyphs.h"
#include "platform/random.h"
#include "tests/picturecode/test_images.h"
#if defined(_WIN32)
#include "filter/picturecode/win32/gdi_canvas.h"
#endif

namespace sentrel::picturecode {
namespace {

constexpr std::uint32_t kSecond = 1700000000;

bool SamePixels(const Canvas& a, const Canvas& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      if (a.Pixel(x, y) != b.Pixel(x, y)) return false;
    }
  }
  return true;
}

int CountBlack(const Canvas& canvas) {
  int n = 0;
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) n += canvas.Pixel(x, y) == kBlack;
  }
  return n;
}

class DrawPictureCodeTest : public ::testing::Test {
 protected:
  GlyphFace face_{FindHeavyFace("Arial")};
  GlyphFace noFace_{std::nullopt};
};

// Checks the placement rule for every digit: the first at column 0, each
// later one at i times a value below the step, or pulled right to 6 pixels
// left of the previous digit's ink.
void ExpectPlacementRule(const std::vector<DigitPlacement>& placed, int step, int height) {
  int prevRight = 0;
  for (std::size_t i = 0; i < placed.size(); ++i) {
    SCOPED_TRACE("digit " + std::to_string(i));
    const DigitPlacement& p = placed[i];
    EXPECT_EQ(p.rect.top, 0);
    EXPECT_EQ(p.rect.bottom, height);
    EXPECT_EQ(p.rect.right, p.rect.left + p.charWidth + 20);
    if (i == 0) {
      EXPECT_EQ(p.rect.left, 0);
    } else if (p.rect.left != prevRight - 6) {
      EXPECT_GT(p.rect.left, prevRight - 6);
      EXPECT_EQ(p.rect.left % static_cast<int>(i), 0);
      EXPECT_LT(p.rect.left / static_cast<int>(i), step);
    }
    prevRight = p.inkRight;
  }
}

TEST_F(DrawPictureCodeTest, DigitsFollowThePlacementRule) {
  for (std::uint32_t seed = kSecond; seed < kSecond + 40; ++seed) {
    std::vector<DigitPlacement> placed;
    DrawPictureCode("Code=902718", {6, 300, 100}, seed, face_, &placed);
    ASSERT_EQ(placed.size(), 6u);
    EXPECT_EQ(std::string(1, placed[0].ch) + placed[1].ch + placed[5].ch, "908");
    ExpectPlacementRule(placed, 300 / 7, 100);
  }
}

TEST_F(DrawPictureCodeTest, FontsStayInTheirRanges) {
  int tallest = 0;
  int fortyHigh = 0;
  int italic = 0;
  int total = 0;
  for (std::uint32_t seed = kSecond; seed < kSecond + 100; ++seed) {
    std::vector<DigitPlacement> placed;
    DrawPictureCode("Code=1234", {4, 300, 100}, seed, noFace_, &placed);
    for (const DigitPlacement& p : placed) {
      const LogicalFont& f = p.font;
      EXPECT_TRUE(f.height == 40 || (f.height >= 44 && f.height <= 79)) << f.height;
      EXPECT_GE(f.escapement, 100);
      EXPECT_LE(f.escapement, 379);
      EXPECT_GE(f.orientation, 100);
      EXPECT_LE(f.orientation, 379);
      EXPECT_GE(f.weight, 900);
      EXPECT_LE(f.weight, 999);
      EXPECT_EQ(f.italic, f.weight % 2 == 1);
      tallest = std::max(tallest, f.height);
      fortyHigh += f.height == 40;
      italic += f.italic;
      ++total;
    }
  }
  ASSERT_EQ(total, 400);
  // 44 of 80 draws give 40; about half the weights are odd.
  EXPECT_GT(fortyHigh, 170);
  EXPECT_LT(fortyHigh, 270);
  EXPECT_GT(italic, 140);
  EXPECT_LT(italic, 260);
  EXPECT_GT(tallest, 70);
}

TEST_F(DrawPictureCodeTest, SameSecondSameDrawing) {
  const PictureCodeSettings settings{5, 300, 100};
  const Canvas a = DrawPictureCode("Code=31415", settings, kSecond, face_);
  const Canvas b = DrawPictureCode("Code=31415", settings, kSecond, face_);
  EXPECT_TRUE(SamePixels(a, b));
  EXPECT_FALSE(SamePixels(a, DrawPictureCode("Code=31415", settings, kSecond + 1, face_)));
  EXPECT_FALSE(SamePixels(a, DrawPictureCode("Code=31416", settings, kSecond, face_)));
}

// The noise is four 2-pixel lines and five hundred specks, their values
// taken from the runtime generator in the order x1, y1, x2, y2 and x, y,
// pen width, length.
TEST_F(DrawPictureCodeTest, NoiseFollowsTheSeededGenerator) {
  const int w = 211, h = 97;
#if defined(_WIN32)
  GdiCanvas expected(w, h);  // the lines of the graphics device interface
#else
  Canvas expected(w, h);
#endif
  platform::CrtRand rand;
  rand.Seed(kSecond);
  for (int i = 0; i < 4; ++i) {
    const int x1 = rand.Next() % w, y1 = rand.Next() % h;
    const int x2 = rand.Next() % w, y2 = rand.Next() % h;
    expected.Line(x1, y1, x2, y2, 2);
  }
  for (int i = 0; i < 500; ++i) {
    const int x = rand.Next() % w, y = rand.Next() % h;
    const int pen = rand.Next() % 3, d = rand.Next() % 4;
    expected.Line(x, y, x + d, y + d, pen);
  }
#if defined(_WIN32)
  EXPECT_TRUE(SamePixels(DrawPictureCode("Code=1234", {4, w, h}, kSecond, noFace_), expected.Read()));
#else
  EXPECT_TRUE(SamePixels(DrawPictureCode("Code=1234", {4, w, h}, kSecond, noFace_), expected));
#endif
}

// After the noise the generator gives, per digit, the font's height,
// escapement, orientation and weight, then the share of the step: the same
// sequence on every platform (CrtRand is the runtime's generator).
TEST_F(DrawPictureCodeTest, DigitChoicesFollowTheNoiseInTheGenerator) {
  const PictureCodeSettings settings{5, 300, 100};
  std::vector<DigitPlacement> placed;
  DrawPictureCode("Code=27182", settings, kSecond, noFace_, &placed);
  ASSERT_EQ(placed.size(), 5u);
  platform::CrtRand rand;
  rand.Seed(kSecond);
  for (int i = 0; i < 4 * kNoiseLines + 4 * kNoiseSpecks; ++i) rand.Next();
  const int step = 300 / 6;
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    int height = rand.Next() % 80;
    if (height < 44) height = 40;
    EXPECT_EQ(placed[i].font.height, height);
    EXPECT_EQ(placed[i].font.escapement, rand.Next() % 280 + 100);
    EXPECT_EQ(placed[i].font.orientation, rand.Next() % 280 + 100);
    EXPECT_EQ(placed[i].font.weight, rand.Next() % 100 + 900);
    // Without a face there is no ink, so nothing pulls a digit to the right.
    EXPECT_EQ(placed[i].rect.left, (rand.Next() % step) * i);
  }
}

TEST_F(DrawPictureCodeTest, DigitsAddInkOverTheNoise) {
  const PictureCodeSettings settings{4, 300, 100};
  const Canvas noise = DrawPictureCode("Code=8080", settings, kSecond, noFace_);
  std::vector<DigitPlacement> placed;
  const Canvas full = DrawPictureCode("Code=8080", settings, kSecond, face_, &placed);
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 300; ++x) {
      if (noise.Pixel(x, y) == kBlack) {
        ASSERT_EQ(full.Pixel(x, y), kBlack) << x << "," << y;
      }
    }
  }
  EXPECT_GT(CountBlack(full), CountBlack(noise) + 4 * 150);
  // The first digit's ink begins within the first columns of the picture.
  Canvas first(300, 100);
  face_.DrawChar(first, placed[0].font, placed[0].rect, placed[0].ch);
  int leftmost = 300;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < leftmost; ++x) {
      if (first.Pixel(x, y) == kBlack) leftmost = x;
    }
  }
  EXPECT_LE(leftmost, placed[0].font.height / 2);
}

TEST_F(DrawPictureCodeTest, EveryPixelIsBlackOrWhite) {
  for (const PictureCodeSettings& s : {PictureCodeSettings{4, 300, 100},
                                       PictureCodeSettings{24, 512, 512},
                                       PictureCodeSettings{1, 30, 20}}) {
    const std::string query = std::string("Code=") + std::string(s.length, '6');
    // Smoothed text has grey edges; the noise alone is black on white.
    GlyphFace& face = testing::kTextIsPureBlack ? face_ : noFace_;
    const Canvas canvas = DrawPictureCode(query.c_str(), s, kSecond, face);
    ASSERT_EQ(canvas.Width(), s.width);
    ASSERT_EQ(canvas.Height(), s.height);
    for (int y = 0; y < s.height; ++y) {
      for (int x = 0; x < s.width; ++x) {
        const Colour c = canvas.Pixel(x, y);
        ASSERT_TRUE(c == kBlack || c == kWhite) << x << "," << y;
      }
    }
  }
}

// An image narrower than the digit count plus one has no step of its own:
// every digit is placed by the previous digit's ink alone.
TEST_F(DrawPictureCodeTest, NarrowImagePlacesDigitsByInk) {
  for (const PictureCodeSettings& s :
       {PictureCodeSettings{24, 10, 100}, PictureCodeSettings{4, 4, 40},
        PictureCodeSettings{3, 1, 1}}) {
    const std::string query = std::string("Code=") + std::string(s.length, '4');
    std::vector<DigitPlacement> placed;
    const Canvas canvas = DrawPictureCode(query.c_str(), s, kSecond, face_, &placed);
    ASSERT_EQ(placed.size(), static_cast<std::size_t>(s.length));
    ExpectPlacementRule(placed, 1, s.height);
    for (std::size_t i = 1; i < placed.size(); ++i) {
      EXPECT_EQ(placed[i].rect.left, std::max(0, placed[i - 1].inkRight - 6));
    }
  }
}

TEST_F(DrawPictureCodeTest, DrawsOnlyTheDigitsAfterTheAnswerStart) {
  std::vector<DigitPlacement> placed;
  DrawPictureCode("Code=12", {4, 300, 100}, kSecond, face_, &placed);  // shorter than the length
  ASSERT_EQ(placed.size(), 2u);
  EXPECT_EQ(placed[0].ch, '1');
  EXPECT_EQ(placed[1].ch, '2');
  placed.clear();
  DrawPictureCode("Code=123456", {3, 300, 100}, kSecond, face_, &placed);  // longer
  EXPECT_EQ(placed.size(), 3u);
  placed.clear();
  DrawPictureCode("Cod", {3, 300, 100}, kSecond, face_, &placed);
  DrawPictureCode(nullptr, {3, 300, 100}, kSecond, face_, &placed);
  DrawPictureCode("Code=123", {0, 300, 100}, kSecond, face_, &placed);
  DrawPictureCode("Code=123", {-1, 300, 100}, kSecond, face_, &placed);
  EXPECT_TRUE(placed.empty());
}

}  // namespace
}  // namespace sentrel::picturecode
