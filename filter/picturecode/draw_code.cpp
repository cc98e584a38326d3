#include "filter/picturecode/draw_code.h"

#include <algorithm>
#include <cstring>

#include "filter/picturecode/code_painter.h"

namespace sentrel::picturecode {
namespace {

// The font of one digit, its parameters drawn in this order: height,
// escapement, orientation, weight. Italic goes with an odd weight. The face
// is always the heavy sans-serif one; the width is the face's own.
LogicalFont DrawFont(CodePainter& rand) {
  LogicalFont font;
  font.height = rand.Rand() % 80;
  if (font.height < 44) font.height = 40;
  font.escapement = rand.Rand() % 280 + 100;
  font.orientation = rand.Rand() % 280 + 100;
  font.weight = rand.Rand() % 100 + 900;
  font.italic = (font.weight % 2) != 0;
  return font;
}

}  // namespace

Canvas DrawPictureCode(const char* expectedQuery, const PictureCodeSettings& settings,
                       std::uint32_t seed, GlyphFace& face,
                       std::vector<DigitPlacement>* placements) {
  const int width = settings.width;
  const int height = settings.height;
  if (width < 1 || height < 1) {
    Canvas empty(width, height);
    empty.Fill(kWhite);
    return empty;
  }
  const std::unique_ptr<CodePainter> painter = MakeCodePainter(width, height, face);
  CodePainter& rand = *painter;  // the painter is also the generator
  rand.Seed(seed);

  for (int i = 0; i < kNoiseLines; ++i) {
    const int x1 = rand.Rand() % width;
    const int y1 = rand.Rand() % height;
    const int x2 = rand.Rand() % width;
    const int y2 = rand.Rand() % height;
    painter->Line(x1, y1, x2, y2, 2);
  }
  for (int i = 0; i < kNoiseSpecks; ++i) {
    const int x = rand.Rand() % width;
    const int y = rand.Rand() % height;
    const int penWidth = rand.Rand() % 3;
    const int d = rand.Rand() % 4;
    painter->Line(x, y, x + d, y + d, penWidth);
  }

  // The digits follow the answer's "Code=" start; the text is read no
  // further than the digits to draw.
  const int length = std::max(settings.length, 0);
  const auto wanted = static_cast<std::size_t>(kQueryPrefixLength + length);
  const std::size_t textLength = expectedQuery == nullptr ? 0 : strnlen(expectedQuery, wanted);
  const int count = std::max(static_cast<int>(textLength) - kQueryPrefixLength, 0);

  // Digit i starts at i times a random share of the step, but never more
  // than 6 pixels left of the previous digit's ink. An image narrower than
  // the digit count plus one has no step; it takes a step of 1, so the digits
  // follow each other by their ink alone.
  int step = width / (length + 1);
  if (step < 1) step = 1;
  int prevRight = 0;
  for (int i = 0; i < count; ++i) {
    const char ch = expectedQuery[kQueryPrefixLength + i];
    const LogicalFont font = DrawFont(rand);
    painter->SelectFont(font);
    const int charWidth = painter->MeasureWidth(ch);
    int left = (rand.Rand() % step) * i;
    if (left < prevRight - 6) left = prevRight - 6;

    Rect rect{left, 0, left + charWidth + 20, height};
    painter->DrawChar(rect, ch);
    const Rect shadow{rect.left + 1, rect.top + 1, rect.right + 1, rect.bottom + 1};
    painter->DrawChar(shadow, ch);
    prevRight = painter->InkRight(shadow, ch);

    if (placements != nullptr) placements->push_back({ch, font, charWidth, rect, prevRight});
  }
  return painter->Finish();
}

}  // namespace sentrel::picturecode
