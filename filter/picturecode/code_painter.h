// The drawing backend of the picture code: the surface the picture is drawn
// on, the random number generator that makes every choice, and the text
// drawing of the digits. DrawPictureCode (draw_code.h) runs the same steps on
// every platform through this interface; the build picks the backend: an
// in-memory canvas with an outline font engine on Linux, the graphics device
// interface and the C runtime's generator on Windows.
#pragma once

#include <cstdint>
#include <memory>

#include "filter/picturecode/canvas.h"
#include "filter/picturecode/glyphs.h"

namespace sentrel::picturecode {

class CodePainter {
 public:
  virtual ~CodePainter() = default;

  // Seeds the generator; Rand gives its next value, 0 to 32767.
  virtual void Seed(std::uint32_t seed) = 0;
  virtual int Rand() = 0;

  // A straight black line with a solid pen of the given width (0 the
  // thinnest); the end point is not painted.
  virtual void Line(int x1, int y1, int x2, int y2, int penWidth) = 0;

  // Makes the font of one digit and selects it for the calls below, until
  // the next SelectFont or the end of the drawing.
  virtual void SelectFont(const LogicalFont& font) = 0;
  // The width the character needs on one line with the selected font.
  virtual int MeasureWidth(char ch) = 0;
  // Draws the character in black, transparent background, single line,
  // vertically centred in the rectangle.
  virtual void DrawChar(const Rect& rect, char ch) = 0;
  // The rightmost column of pure black ink of the character drawn alone on a
  // separate white surface of the same size; 0 when there is no ink.
  virtual int InkRight(const Rect& rect, char ch) = 0;

  // The picture's pixels.
  virtual Canvas Finish() = 0;
};

// A painter on a white surface of width x height (both at least 1) that draws
// digits with the face.
std::unique_ptr<CodePainter> MakeCodePainter(int width, int height, GlyphFace& face);

}  // namespace sentrel::picturecode
