// A true-colour drawing surface in memory: white background, black ink, and
// the straight-line drawing the picture code needs.
#pragma once

#include <cstdint>
#include <vector>

namespace sentrel::picturecode {

// A colour as 0xRRGGBB.
using Colour = std::uint32_t;
inline constexpr Colour kWhite = 0xFFFFFF;
inline constexpr Colour kBlack = 0x000000;

// A rectangle in canvas pixels: left and top inside, right and bottom outside.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

class Canvas {
 public:
  // A canvas of width x height pixels, all white. Sizes below 1 give an empty
  // canvas on which every drawing is clipped away.
  Canvas(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }

  void Fill(Colour colour);

  // The colour at (x, y); white outside the canvas.
  Colour Pixel(int x, int y) const;
  // Paints one pixel; pixels outside the canvas are ignored.
  void SetPixel(int x, int y, Colour colour);

  // A straight black line from (x1, y1) towards (x2, y2) with a solid pen of
  // the given width (0 and 1 both mean one pixel). The end point itself is
  // not painted, so a line of length zero leaves no mark. Wider pens thicken
  // the line across its major direction.
  void Line(int x1, int y1, int x2, int y2, int penWidth);

 private:
  void Nib(int x, int y, int penWidth, bool mostlyHorizontal);

  int width_;
  int height_;
  std::vector<Colour> pixels_;  // rows top to bottom
};

// The rightmost column of the canvas that holds a pure black pixel; 0 when
// there is none.
int RightmostInk(const Canvas& canvas);

}  // namespace sentrel::picturecode
