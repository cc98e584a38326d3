// Drawing with the Windows graphics device interface: a true-colour memory
// device context of a given size, the pens, fonts and text drawing the picture
// code needs, and the transfer of its pixels to and from a Canvas.
#pragma once

#include <string>

#include "filter/picturecode/canvas.h"
#include "filter/picturecode/glyphs.h"
#include "platform/win32/windows_api.h"

namespace sentrel::picturecode {

// A font made with CreateFontA from the logical font: the face name, its
// height, escapement, orientation, weight and italic flag, underline and
// strike-out off, character set 136, output precision 2, clip precision 1,
// quality 0, pitch and family 1.
class GdiFont {
 public:
  GdiFont(const LogicalFont& font, const std::string& faceName);
  ~GdiFont();
  GdiFont(const GdiFont&) = delete;
  GdiFont& operator=(const GdiFont&) = delete;

  HFONT Handle() const { return font_; }

 private:
  HFONT font_;
};

class GdiCanvas {
 public:
  // A width x height canvas, filled white. It is made compatible with the
  // display (CreateDCA "DISPLAY", CreateCompatibleDC, CreateCompatibleBitmap);
  // when there is no display, or the display has a palette (8 bits per pixel
  // or fewer), it is a 24-bit section on a memory context of its own.
  GdiCanvas(int width, int height);
  ~GdiCanvas();
  GdiCanvas(const GdiCanvas&) = delete;
  GdiCanvas& operator=(const GdiCanvas&) = delete;

  bool Valid() const { return dc_ != nullptr && bitmap_ != nullptr; }
  int Width() const { return width_; }
  int Height() const { return height_; }

  // FillRect with the stock white brush.
  void FillWhite();
  // CreatePen (solid, black, the width), MoveToEx, LineTo: the end point is
  // not painted.
  void Line(int x1, int y1, int x2, int y2, int penWidth);

  // Selects the font for the text calls (null: the context's own font). The
  // font must outlive its selection: a later UseFont or the canvas's end.
  void UseFont(HFONT font);
  // DrawTextA with DT_CALCRECT, DT_SINGLELINE and DT_VCENTER: the width the
  // character needs.
  int MeasureChar(char ch);
  // DrawTextA with DT_SINGLELINE and DT_VCENTER in black on a transparent
  // background.
  void DrawChar(const Rect& rect, char ch);

  // The pixels, read with GetDIBits as bottom-up 24-bit rows.
  Canvas Read();
  // Replaces the pixels with a canvas of the same size (SetDIBits).
  void Load(const Canvas& canvas);

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ originalBitmap_ = nullptr;
  HGDIOBJ originalFont_ = nullptr;
};

// The state of a face: the face name handed to CreateFontA. The interface's
// font mapper picks the installed font that best fits the name and the
// other font parameters.
struct GlyphFace::Backend {
  std::string faceName;
};

}  // namespace sentrel::picturecode
