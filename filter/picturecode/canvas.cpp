#include "filter/picturecode/canvas.h"

#include <algorithm>
#include <cstdlib>

namespace sentrel::picturecode {

Canvas::Canvas(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), kWhite) {}

void Canvas::Fill(Colour colour) { std::fill(pixels_.begin(), pixels_.end(), colour); }

Colour Canvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return kWhite;
  return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                 static_cast<std::size_t>(x)];
}

void Canvas::SetPixel(int x, int y, Colour colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
          static_cast<std::size_t>(x)] = colour;
}

// Paints the pen's footprint at one point of the line. A pen of width w covers
// w pixels across the line, centred on it (the extra pixel of an even width
// goes up or left).
void Canvas::Nib(int x, int y, int penWidth, bool mostlyHorizontal) {
  const int w = std::max(penWidth, 1);
  const int first = -(w / 2);
  for (int k = first; k < first + w; ++k) {
    if (mostlyHorizontal) {
      SetPixel(x, y + k, kBlack);
    } else {
      SetPixel(x + k, y, kBlack);
    }
  }
}

// Bresenham's line, stepping once per pixel along the major axis; the last
// point (the end point) is left out.
void Canvas::Line(int x1, int y1, int x2, int y2, int penWidth) {
  const int dx = std::abs(x2 - x1);
  const int dy = std::abs(y2 - y1);
  const int sx = x1 < x2 ? 1 : -1;
  const int sy = y1 < y2 ? 1 : -1;
  const bool mostlyHorizontal = dx >= dy;
  const int steps = std::max(dx, dy);
  int x = x1;
  int y = y1;
  int err = dx - dy;
  for (int i = 0; i < steps; ++i) {
    Nib(x, y, penWidth, mostlyHorizontal);
    const int e2 = 2 * err;
    if (e2 > -dy) {
      err -= dy;
      x += sx;
    }
    if (e2 < dx) {
      err += dx;
      y += sy;
    }
  }
}

int RightmostInk(const Canvas& canvas) {
  for (int x = canvas.Width() - 1; x >= 0; --x) {
    for (int y = 0; y < canvas.Height(); ++y) {
      if (canvas.Pixel(x, y) == kBlack) return x;
    }
  }
  return 0;
}

}  // namespace sentrel::picturecode
