// The Windows drawing backend: the graphics device interface on a canvas made
// compatible with the display, the C runtime's srand/rand, and the digits'
// fonts made with CreateFontA from the face name.
#include <cstdlib>
#include <memory>
#include <string>

#include "filter/picturecode/code_painter.h"
#include "filter/picturecode/win32/gdi_canvas.h"

namespace sentrel::picturecode {
namespace {

class GdiPainter final : public CodePainter {
 public:
  // With no face loaded the digits are neither measured nor drawn.
  GdiPainter(int width, int height, const std::string* faceName)
      : faceName_(faceName), canvas_(width, height) {}

  // The runtime's generator keeps its state per thread; the drawing runs on
  // one thread from the seed to its end.
  void Seed(std::uint32_t seed) override { std::srand(seed); }
  int Rand() override { return std::rand(); }

  void Line(int x1, int y1, int x2, int y2, int penWidth) override {
    canvas_.Line(x1, y1, x2, y2, penWidth);
  }

  void SelectFont(const LogicalFont& font) override {
    if (faceName_ == nullptr) return;
    auto made = std::make_unique<GdiFont>(font, *faceName_);
    canvas_.UseFont(made->Handle());
    font_ = std::move(made);  // the font selected before is released now
  }

  int MeasureWidth(char ch) override { return font_ ? canvas_.MeasureChar(ch) : 0; }

  void DrawChar(const Rect& rect, char ch) override {
    if (font_) canvas_.DrawChar(rect, ch);
  }

  int InkRight(const Rect& rect, char ch) override {
    if (!font_) return 0;
    GdiCanvas alone(canvas_.Width(), canvas_.Height());
    alone.UseFont(font_->Handle());
    alone.DrawChar(rect, ch);
    const Canvas pixels = alone.Read();
    alone.UseFont(nullptr);
    return RightmostInk(pixels);
  }

  Canvas Finish() override {
    canvas_.UseFont(nullptr);
    font_.reset();
    return canvas_.Read();
  }

 private:
  const std::string* faceName_;
  std::unique_ptr<GdiFont> font_;  // declared before the canvas: it outlives the selection
  GdiCanvas canvas_;
};

}  // namespace

std::unique_ptr<CodePainter> MakeCodePainter(int width, int height, GlyphFace& face) {
  return std::make_unique<GdiPainter>(width, height,
                                      face.backend_ ? &face.backend_->faceName : nullptr);
}

}  // namespace sentrel::picturecode
