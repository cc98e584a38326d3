#include "filter/picturecode/ink_measure.h"

namespace sentrel::picturecode {

int RightmostInk(const Canvas& canvas) {
  for (int x = canvas.Width() - 1; x >= 0; --x) {
    for (int y = 0; y < canvas.Height(); ++y) {
      if (canvas.Pixel(x, y) == kBlack) return x;
    }
  }
  return 0;
}

int MeasureInkRight(int width, int height, GlyphFace& face, const LogicalFont& font,
                    const Rect& rect, char ch) {
  Canvas scratch(width, height);
  face.DrawChar(scratch, font, rect, ch);
  return RightmostInk(scratch);
}

}  // namespace sentrel::picturecode
