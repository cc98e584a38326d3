// Characters drawn and measured with the graphics device interface: the
// canvas's pixels are put into a device context, the character is drawn
// there with DrawTextA, and the pixels are read back.
#include "filter/picturecode/win32/gdi_canvas.h"

namespace sentrel::picturecode {

// The interface finds fonts by face name: the face is the family asked for,
// and its "path" is that name. The font mapper stands in the nearest
// installed font when the face itself is not installed.
std::optional<FontFile> FindHeavyFace(const char* family) {
  if (family == nullptr || *family == '\0') return std::nullopt;
  return FontFile{family, 0};
}

GlyphFace::GlyphFace(const std::optional<FontFile>& file) {
  if (!file || file->path.empty()) return;
  backend_ = std::make_unique<Backend>(Backend{file->path});
}

GlyphFace::~GlyphFace() = default;

int GlyphFace::MeasureWidth(const LogicalFont& font, char ch) {
  if (backend_ == nullptr) return 0;
  GdiCanvas probe(1, 1);
  GdiFont gdiFont(font, backend_->faceName);
  probe.UseFont(gdiFont.Handle());
  const int width = probe.MeasureChar(ch);
  probe.UseFont(nullptr);
  return width;
}

void GlyphFace::DrawChar(Canvas& canvas, const LogicalFont& font, const Rect& rect, char ch) {
  if (backend_ == nullptr) return;
  GdiCanvas surface(canvas.Width(), canvas.Height());
  if (!surface.Valid()) return;
  surface.Load(canvas);
  GdiFont gdiFont(font, backend_->faceName);
  surface.UseFont(gdiFont.Handle());
  surface.DrawChar(rect, ch);
  surface.UseFont(nullptr);
  canvas = surface.Read();
}

}  // namespace sentrel::picturecode
