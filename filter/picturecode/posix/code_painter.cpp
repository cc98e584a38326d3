// The Linux drawing backend: an in-memory canvas, the outline face, and the
// runtime generator's sequence from CrtRand.
#include "filter/picturecode/code_painter.h"

#include "platform/random.h"

namespace sentrel::picturecode {
namespace {

class CanvasPainter final : public CodePainter {
 public:
  CanvasPainter(int width, int height, GlyphFace& face) : canvas_(width, height), face_(face) {
    canvas_.Fill(kWhite);
  }

  void Seed(std::uint32_t seed) override { rand_.Seed(seed); }
  int Rand() override { return rand_.Next(); }
  void Line(int x1, int y1, int x2, int y2, int penWidth) override {
    canvas_.Line(x1, y1, x2, y2, penWidth);
  }
  void SelectFont(const LogicalFont& font) override { font_ = font; }
  int MeasureWidth(char ch) override { return face_.MeasureWidth(font_, ch); }
  void DrawChar(const Rect& rect, char ch) override { face_.DrawChar(canvas_, font_, rect, ch); }
  int InkRight(const Rect& rect, char ch) override {
    return MeasureInkRight(canvas_.Width(), canvas_.Height(), face_, font_, rect, ch);
  }
  Canvas Finish() override { return std::move(canvas_); }

 private:
  Canvas canvas_;
  GlyphFace& face_;
  LogicalFont font_;
  platform::CrtRand rand_;
};

}  // namespace

std::unique_ptr<CodePainter> MakeCodePainter(int width, int height, GlyphFace& face) {
  return std::make_unique<CanvasPainter>(width, height, face);
}

}  // namespace sentrel::picturecode
