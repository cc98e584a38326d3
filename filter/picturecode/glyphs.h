// Text drawing for the picture code: one character of an outline face, sized,
// rotated and slanted as a logical font asks, rasterised without smoothing so
// that its ink is pure black.
#pragma once

#include <optional>

#include "filter/picturecode/canvas.h"
#include "filter/picturecode/font_finder.h"

struct FT_LibraryRec_;
struct FT_FaceRec_;

namespace sentrel::picturecode {

// A font as the drawing asks for it. The width is always the face's own
// (proportional) one. Glyphs turn with the line of text: the escapement is
// the angle of both, and the separate orientation angle is recorded but has
// no effect, as in the compatible graphics mode of the original platform.
struct LogicalFont {
  int height = 0;       // cell height in pixels (ascent plus descent)
  int escapement = 0;   // tenths of a degree, counter-clockwise
  int orientation = 0;  // tenths of a degree (not used for drawing)
  int weight = 400;     // 100 to 1000, heavy from 600 on
  bool italic = false;
};

// One loaded outline face with its own rasteriser instance. Not safe for
// concurrent use: callers serialise access.
class GlyphFace {
 public:
  // Loads the face from the file; with no file, or one that cannot be read,
  // the face stays unloaded and draws nothing.
  explicit GlyphFace(const std::optional<FontFile>& file);
  ~GlyphFace();
  GlyphFace(const GlyphFace&) = delete;
  GlyphFace& operator=(const GlyphFace&) = delete;

  bool Loaded() const { return face_ != nullptr; }

  // The width the character needs on one line (its advance), in pixels;
  // 0 when the face is not loaded or has no such character.
  int MeasureWidth(const LogicalFont& font, char ch);

  // Draws the character in black on a single line, with the top-left corner
  // of its character cell at the rectangle's left edge and the cell centred
  // vertically in the rectangle; the text turns about that corner. Only the
  // glyph's own pixels are painted (transparent background) and the drawing
  // is clipped to the canvas only.
  void DrawChar(Canvas& canvas, const LogicalFont& font, const Rect& rect, char ch);

 private:
  // Scales the face for the font; false when it cannot.
  bool SetSize(const LogicalFont& font);

  FT_LibraryRec_* library_ = nullptr;
  FT_FaceRec_* face_ = nullptr;
  long cellUnits_ = 0;    // ascent plus descent, in font units
  long ascentUnits_ = 0;  // ascent, in font units
  bool faceIsBold_ = false;
  int ascentPx_ = 0;      // for the size last set
  long emboldenStrength_ = 0;  // 26.6 pixels, for the size last set
};

}  // namespace sentrel::picturecode
